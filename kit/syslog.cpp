#include "kit/syslog.h"

#include "kit/records.h"
#include "platform/sockets.h"

namespace {

constexpr std::uint32_t kLoopbackAddress = 0x7F000001;

bool IsLocalhost(const std::string& host) {
  static const char kName[] = "localhost";
  if (host.size() != sizeof kName - 1) return false;
  for (std::size_t i = 0; i < host.size(); ++i) {
    char c = host[i];
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (c != kName[i]) return false;
  }
  return true;
}

// Four dot-separated decimal numbers, each 0 to 255.
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
    while (position < host.size() && host[position] >= '0' && host[position] <= '9' && digits < 4) {
      value = value * 10 + unsigned(host[position] - '0');
      ++position;
      ++digits;
    }
    if (digits == 0 || digits > 3 || value > 255) return false;
    result = result << 8 | value;
  }
  if (position != host.size()) return false;
  address = result;
  return true;
}

std::uint32_t ResolveHost(const std::string& host) {
  std::uint32_t address = 0;
  if (ParseSyslogAddress(host, address)) return address;
  int errorCode = 0;
  if (!platform::LookupIPv4(host, address, errorCode)) throw ESocketError(errorCode);
  return address;
}

struct SocketCloser {
  platform::SocketHandle Socket;
  ~SocketCloser() { platform::CloseSocket(Socket); }
};

}  // namespace

bool ParseSyslogAddress(const std::string& host, std::uint32_t& address) {
  if (IsLocalhost(host)) {
    address = kLoopbackAddress;
    return true;
  }
  return ParseDottedAddress(host, address);
}

std::string SyslogDatagram(std::int32_t pri, TDateTime moment, const std::string& ident,
                           const std::string& text) {
  return "<" + std::to_string(pri) + ">" + FormatDateTime("MMM DD YYYY HH:MM:SS", moment) + ": %" +
         ident + ": " + text;
}

void SendSyslog(const std::string& text, std::int32_t severity, std::int32_t facility) {
  const tLog& log = GlobalSettings.Log;
  if (log.SyslogHost.empty()) return;
  const auto pri = static_cast<std::int32_t>(std::int64_t(severity) + 8 * std::int64_t(facility));
  const std::string datagram = SyslogDatagram(pri, Now(), log.Ident, text);
  const std::uint32_t address = ResolveHost(log.SyslogHost);

  int errorCode = 0;
  SocketCloser closer{platform::OpenDatagramSocket(errorCode)};
  if (closer.Socket == platform::kInvalidSocket) throw EInvalidSocket("Cannot allocate socket.");
  const long sent = platform::SendDatagram(closer.Socket, address, kSyslogPort, datagram.data(),
                                           datagram.size(), errorCode);
  if (sent < 0) throw ESocketError(errorCode);
  // A datagram goes whole or not at all; a short one is a message too long for the network.
  if (static_cast<std::size_t>(sent) != datagram.size()) throw ESocketError(10040);
}
