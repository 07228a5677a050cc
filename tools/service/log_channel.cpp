// The channel of EventLog's log entries (log_channel.h).
#include "tools/service/log_channel.h"

#include <algorithm>
#include <exception>

#include "core/errors.h"
#include "platform/errors.h"
#include "platform/sockets.h"
#include "tools/service/application_events.h"
#include "tools/service/journal_lines.h"
#include "tools/service/log_entries.h"
#include "tools/service/step.h"

namespace service {

namespace {

// The kit's log entries reach the service at this level or above: page outcomes (50400), refused
// pages (40400), failures (30000) and unwritten page records (30100).
constexpr int kLeastLogLevel = 5;

std::optional<Relay> RelayFromEnvironment() {
  const auto configured = EnvironmentValue("EVENTLOG_SYSLOG_HOST");
  if (!configured || configured->empty()) return std::nullopt;
  Relay relay;
  relay.Host = *configured;
  const std::size_t colon = configured->rfind(':');
  if (colon != std::string::npos) {
    const std::string port = configured->substr(colon + 1);
    const long number = AllDigits(port) && port.size() <= 5 ? std::stol(port) : 0;
    if (number < 1 || number > 65535 || port.starts_with('-')) {
      Say(Priority::Warning, "EVENTLOG_SYSLOG_HOST " + *configured +
                                 " has no port from 1 to 65535 after its colon; log entries are "
                                 "not relayed. Write host or host:port");
      return std::nullopt;
    }
    relay.Host = configured->substr(0, colon);
    relay.Port = static_cast<std::uint16_t>(number);
  }
  return relay;
}

void RelayDatagram(Relay& relay, const std::string& datagram) {
  try {
    if (!relay.Address) relay.Address = ResolveHostAddress(relay.Host, 2000);
    int errorCode = 0;
    const platform::UniqueSocket socket(platform::OpenDatagramSocket(errorCode));
    if (!socket ||
        platform::SendDatagram(socket.get(), *relay.Address, relay.Port, datagram.data(),
                               datagram.size(), errorCode) != static_cast<long>(datagram.size()))
      throw ESocketError(errorCode);
    relay.Failing = false;
  } catch (const std::exception& failure) {
    relay.Address.reset();
    if (relay.Failing) return;
    relay.Failing = true;
    const FailureDescription description = DescribeFailure(failure);
    Say(Priority::Warning, "cannot relay log entries to EVENTLOG_SYSLOG_HOST " + relay.Host + ":" +
                               std::to_string(relay.Port) + ": " + description.Message +
                               "; tried again with each entry (said again after a success)");
  }
}

void TakeDatagram(LogChannel& channel, const std::string& datagram) {
  // "<PRI>" + time + ": %" + identifier + ": " + code + ": " + text; the time holds no secret.
  const std::string marker = ": %" + channel.Ident + ": ";
  const std::size_t at = datagram.find(marker);
  if (!datagram.starts_with('<') || at == std::string::npos) return;
  const std::string rest = datagram.substr(at + marker.size());
  if (channel.Forward)
    RelayDatagram(*channel.Forward,
                  datagram.substr(0, at) + ": %" + channel.OperatorIdent + ": " + rest);
  const std::size_t codeEnd = rest.find(": ");
  if (codeEnd == std::string::npos || !AllDigits(rest.substr(0, codeEnd))) return;
  const std::string code = rest.substr(0, codeEnd);
  const std::string text = rest.substr(codeEnd + 2);
  const JournalEntry entry = ReadLogEntry(code, text, channel.RefusedRecord);
  if (!entry.Text.empty()) WriteLine(platform::StandardStream::Output, entry.Level, entry.Text);
  RecordEvent(ApplicationEventOf(entry));
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char c : bytes) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
  }
  return hex;
}

}  // namespace

void TakeWaitingDatagrams(LogChannel& channel) {
  std::string datagram;
  while (channel.Socket >= 0 && platform::ReceiveWaitingDatagram(channel.Socket, datagram))
    TakeDatagram(channel, datagram);
}

// Opens the channel and names it in EventLog's environment. Without it EventLog still runs and
// pages; only the outcomes do not reach the journal, which is said at err.
void OpenLogChannel(LogChannel& channel, std::vector<platform::EnvironmentSetting>& environment) {
  std::string secret, error;
  int errorCode = 0;
  if (!platform::SystemRandomBytes(16, secret, error)) {
    Say(Priority::Err, "cannot make the secret of the page outcomes' channel: " + error +
                           "; EventLog runs, but its page outcomes do not reach the journal");
    return;
  }
  channel.Socket = platform::OpenLoopbackReceiver(channel.Port, errorCode);
  if (channel.Socket < 0) {
    Say(Priority::Err, "cannot open a UDP port on 127.0.0.1 for EventLog's log entries: " +
                           platform::SystemErrorText(static_cast<std::uint32_t>(errorCode)) +
                           "; EventLog runs, but its page outcomes do not reach the journal");
    return;
  }
  channel.OperatorIdent = EnvironmentValue("EVENTLOG_LOG_IDENT").value_or("eventlog");
  // The daily CSV files show the identifier's first ten characters: the operator's, not the
  // secret after them.
  channel.Ident = channel.OperatorIdent;
  if (channel.Ident.size() < 10) channel.Ident.resize(10, ' ');
  channel.Ident += Hex(secret);
  channel.Forward = RelayFromEnvironment();
  int level = kLeastLogLevel;
  const std::string configured = EnvironmentValue("EVENTLOG_LOG_LEVEL").value_or("");
  if (AllDigits(configured) && configured.size() <= 6)
    level = std::max(level, std::stoi(configured));
  environment.push_back({"EVENTLOG_SYSLOG_HOST", "127.0.0.1:" + std::to_string(channel.Port)});
  environment.push_back({"EVENTLOG_LOG_IDENT", channel.Ident});
  environment.push_back({"EVENTLOG_LOG_LEVEL", std::to_string(level)});
}

}  // namespace service
