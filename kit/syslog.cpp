#include "kit/syslog.h"

#include "kit/records.h"
#include "platform/clock.h"
#include "platform/sockets.h"

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
  const std::uint32_t address = ResolveHostAddress(log.SyslogHost);

  int errorCode = 0;
  const platform::UniqueSocket socket(platform::OpenDatagramSocket(errorCode));
  if (!socket) throw EInvalidSocket("Cannot allocate socket.");
  const long sent = platform::SendDatagram(socket.get(), address, kSyslogPort, datagram.data(),
                                           datagram.size(), errorCode);
  if (sent < 0) throw ESocketError(errorCode);
  // A datagram goes whole or not at all; a short one is a message too long for the network.
  if (static_cast<std::size_t>(sent) != datagram.size()) throw ESocketError(core::kWsaeMsgSize);
}
