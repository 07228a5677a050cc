#include "kit/syslog.h"

#include "core/http_response.h"
#include "kit/records.h"
#include "platform/clock.h"
#include "platform/sockets.h"

std::string SyslogDatagram(std::int32_t pri, TDateTime moment, const std::string& ident,
                           const std::string& text) {
  return "<" + std::to_string(pri) + ">" + FormatDateTime("MMM DD YYYY HH:MM:SS", moment) + ": %" +
         ident + ": " + text;
}

bool SplitSyslogHost(const std::string& text, std::string& host, std::uint16_t& port) {
  std::string portText;
  SplitHostAndPort(text, host, portText);
  if (host.empty()) return false;
  if (text.find(':') == std::string::npos) {
    port = kSyslogPort;
    return true;
  }
  std::int64_t value = 0;
  if (!core::ParseHttpInteger(portText, value) || value < 1 || value > 65535) return false;
  port = static_cast<std::uint16_t>(value);
  return true;
}

void SendSyslog(const std::string& text, std::int32_t severity, std::int32_t facility) {
  const tLog& log = GlobalSettings.Log;
  if (log.SyslogHost.empty()) return;
  const auto pri = static_cast<std::int32_t>(std::int64_t(severity) + 8 * std::int64_t(facility));
  const std::string datagram = SyslogDatagram(pri, Now(), log.Ident, text);
  std::string host;
  std::uint16_t port = kSyslogPort;
  if (!SplitSyslogHost(log.SyslogHost, host, port)) throw ESocketError(core::kWsaeAddrNotAvail);
  const std::uint32_t address = ResolveHostAddress(host);

  int errorCode = 0;
  const platform::UniqueSocket socket(platform::OpenDatagramSocket(errorCode));
  if (!socket) throw EInvalidSocket("Cannot allocate socket.");
  const long sent = platform::SendDatagram(socket.get(), address, port, datagram.data(),
                                           datagram.size(), errorCode);
  if (sent < 0) throw ESocketError(errorCode);
  // A datagram goes whole or not at all; a short one is a message too long for the network.
  if (static_cast<std::size_t>(sent) != datagram.size()) throw ESocketError(core::kWsaeMsgSize);
}
