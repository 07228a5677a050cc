#include "core/socket_errors.h"

#include <algorithm>
#include <vector>

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
  if (IsBracketedHost(text)) {
    const std::size_t close = text.find(']');
    if (close != std::string::npos && (close + 1 == text.size() || text[close + 1] == ':')) {
      host = text.substr(0, close + 1);
      port = close + 1 == text.size() ? std::string() : text.substr(close + 2);
    } else {
      host = text;
      port.clear();
    }
    return;
  }
  const std::size_t colon = text.find(':');
  host = text.substr(0, colon);
  port = colon == std::string::npos ? std::string() : text.substr(colon + 1);
}

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The groups of one side of "::", each one to four hex digits, the last also a dotted IPv4
// address (two groups) when the side may end the address.
bool ParseIPv6Groups(const std::string& text, bool mayEndInIPv4,
                     std::vector<std::uint16_t>& groups) {
  if (text.empty()) return true;
  std::size_t start = 0;
  for (;;) {
    const std::size_t colon = text.find(':', start);
    const std::string group = text.substr(start, colon - std::min(colon, start));
    if (colon == std::string::npos && mayEndInIPv4 && group.find('.') != std::string::npos) {
      std::uint32_t v4 = 0;
      if (!ParseDottedAddress(group, v4)) return false;
      groups.push_back(static_cast<std::uint16_t>(v4 >> 16));
      groups.push_back(static_cast<std::uint16_t>(v4 & 0xFFFF));
      return true;
    }
    if (group.empty() || group.size() > 4) return false;
    unsigned value = 0;
    for (char c : group) {
      const int digit = HexDigit(c);
      if (digit < 0) return false;
      value = value * 16 + unsigned(digit);
    }
    groups.push_back(static_cast<std::uint16_t>(value));
    if (colon == std::string::npos) return true;
    start = colon + 1;
  }
}

}  // namespace

bool ParseIPv6Address(const std::string& text, std::array<std::uint8_t, 16>& address) {
  std::vector<std::uint16_t> head;
  std::vector<std::uint16_t> tail;
  const std::size_t gap = text.find("::");
  if (gap == std::string::npos) {
    if (!ParseIPv6Groups(text, true, head) || head.size() != 8) return false;
  } else {
    if (text.find("::", gap + 1) != std::string::npos) return false;
    if (!ParseIPv6Groups(text.substr(0, gap), false, head) ||
        !ParseIPv6Groups(text.substr(gap + 2), true, tail) || head.size() + tail.size() > 7)
      return false;
  }
  std::array<std::uint16_t, 8> groups{};
  std::copy(head.begin(), head.end(), groups.begin());
  std::copy(tail.begin(), tail.end(), groups.end() - static_cast<std::ptrdiff_t>(tail.size()));
  for (std::size_t i = 0; i < 8; ++i) {
    address[2 * i] = static_cast<std::uint8_t>(groups[i] >> 8);
    address[2 * i + 1] = static_cast<std::uint8_t>(groups[i] & 0xFF);
  }
  return true;
}

bool IsBracketedHost(const std::string& host) { return !host.empty() && host[0] == '['; }

std::array<std::uint8_t, 16> ParseBracketedHost(const std::string& host) {
  std::array<std::uint8_t, 16> address{};
  if (host.size() < 2 || host.back() != ']' ||
      !ParseIPv6Address(host.substr(1, host.size() - 2), address))
    throw EInvalidHostAddress("The host " + host +
                              " is no IPv6 address in brackets; write one as in [2001:db8::1] "
                              "or [2001:db8::1]:8080");
  return address;
}
