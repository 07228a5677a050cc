#include "core/socket_errors.h"

#include "core/ascii.h"

namespace {

constexpr std::uint32_t kLoopbackAddress = 0x7F000001;

bool IsLocalhost(const std::string& host) {
  return core::EqualsIgnoringAsciiCase(host, "localhost");
}

// Four dot-separated decimal numbers, each 0 to 255; leading zeros do not change the value.
bool ParseDottedAddress(const std::string& host, std::uint32_t& address) {
  std::uint32_t result = 0;
  std::size_t position = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (position >= host.size() || host[position] != '.') return false;
      ++position;
    }
    std::size_t digits = 0;
    unsigned value = 0;
    while (position < host.size() && host[position] >= '0' && host[position] <= '9') {
      value = value * 10 + unsigned(host[position] - '0');
      if (value > 255) return false;
      ++position;
      ++digits;
    }
    if (digits == 0) return false;
    result = result << 8 | value;
  }
  if (position != host.size()) return false;
  address = result;
  return true;
}

struct SocketErrorEntry {
  int Code;
  const char* Text;
};

#define EVENTLOG_SOCKET_ERROR_ENTRY(constant, number, name, text) {core::constant, text},
constexpr SocketErrorEntry kSocketErrorTexts[] = {EVENTLOG_BSD_SOCKET_ERRORS(
    EVENTLOG_SOCKET_ERROR_ENTRY) EVENTLOG_RESOLVER_SOCKET_ERRORS(EVENTLOG_SOCKET_ERROR_ENTRY)};
#undef EVENTLOG_SOCKET_ERROR_ENTRY

}  // namespace

std::string SocketErrorText(int errorCode) {
  for (const auto& entry : kSocketErrorTexts)
    if (entry.Code == errorCode) return entry.Text;
  return {};
}

ESocketError::ESocketError(int errorCode)
    : Exception("ESocketError", "Socket Error # " + std::to_string(errorCode) + "\r\n" +
                                    SocketErrorText(errorCode)),
      errorCode_(errorCode) {}

bool IsNumericHost(const std::string& host) {
  if (host.empty()) return false;
  for (char c : host)
    if (c != '.' && (c < '0' || c > '9')) return false;
  return true;
}

bool ParseHostAddress(const std::string& host, std::uint32_t& address) {
  if (IsLocalhost(host)) {
    address = kLoopbackAddress;
    return true;
  }
  return ParseDottedAddress(host, address);
}

void SplitHostAndPort(const std::string& text, std::string& host, std::string& port) {
  const std::size_t colon = text.find(':');
  host = text.substr(0, colon);
  port = colon == std::string::npos ? std::string() : text.substr(colon + 1);
}
