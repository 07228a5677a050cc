// The channel of EventLog's log entries: a loopback socket EventLog's log writer sends to, marked
// with this run's secret, each entry shown in the journal and relayed to the operator's own
// syslog receiver (EVENTLOG_SYSLOG_HOST).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/service_common.h"

namespace service {

constexpr std::uint16_t kSyslogPort = 514;

// Where the operator's own syslog receiver is (EVENTLOG_SYSLOG_HOST): every entry goes there
// too, with the operator's identifier.
struct Relay {
  std::string Host;
  std::uint16_t Port = kSyslogPort;
  std::optional<std::uint32_t> Address;
  bool Failing = false;  // a failure was said; said again only after a success
};

// The loopback socket on which EventLog's log writer sends its entries, marked with this run's
// secret: a datagram without it did not come from this run's EventLog and is dropped.
struct LogChannel {
  int Socket = -1;
  std::uint16_t Port = 0;
  std::string Ident;          // the child's identifier: the operator's, padded, and the secret
  std::string OperatorIdent;  // as the operator set it
  std::optional<Relay> Forward;
  std::string RefusedRecord;  // the page record of the last refusal said
};

// Takes the entries that are waiting, without waiting for one.
void TakeWaitingDatagrams(LogChannel& channel);

// Opens the channel and names it in EventLog's environment. Without it EventLog still runs and
// pages; only the outcomes do not reach the journal, which is said at err.
void OpenLogChannel(LogChannel& channel, std::vector<platform::EnvironmentSetting>& environment);

}  // namespace service
