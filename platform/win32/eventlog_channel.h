// The event channels that only the newer event log interface reads (a name with "/", such as
// "Microsoft-Windows-TaskScheduler/Operational"): each event, newest first, rendered into the
// 8-bit record layout the classic logs deliver. win32/eventlog.cpp gives them the same read
// contract as the classic logs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Whether the log name is a channel's rather than a classic log's.
bool IsChannelName(const std::string& logName);

struct ChannelQuery;

// The channel's events queried newest first; nullptr when the channel cannot be queried (it does
// not exist, the account may not read it), with the system's error left as the last error.
ChannelQuery* OpenChannel(const std::string& channel);
void CloseChannel(ChannelQuery* query);

enum class ChannelStep {
  kRecord,    // record holds the next older event
  kEnd,       // after the oldest event
  kBrokeOff,  // the query failed on the way: older events were not read
};
// The next older event as a record in the 8-bit layout, its RecordNumber the low 32 bits of the
// event's record ID.
ChannelStep NextChannelRecord(ChannelQuery& query, std::string& record);
// After kBrokeOff: the system's error of the refused call that ended the query (access denied,
// the service gone), or 0 where an event could not be rendered.
std::uint32_t ChannelQueryError(const ChannelQuery& query);

// Whether the newer interface knows a channel of that name: its configuration opens and gives
// the channel's enabled state.
bool ChannelExists(const std::string& channel);

// A channel's configuration as the system gives it; Error is the system's error when the
// configuration does not open (ERROR_EVT_CHANNEL_NOT_FOUND for a name it does not know, also when
// the configuration lacks the enabled state, as ChannelExists says), and another property the
// system does not give stays empty.
struct ChannelConfiguration {
  std::uint32_t Error = 0;
  std::optional<bool> Enabled;
  std::optional<bool> Classic;  // a classic log seen as a channel (Application, System, ...)
  std::string LogFilePath = {};
};
ChannelConfiguration ReadChannelConfiguration(const std::string& channel);

// The channels' names as the interface enumerates them, at most limit (more says there were
// others); false with the system's error left as the last error when the enumeration fails.
bool ListChannels(std::size_t limit, std::vector<std::string>& names, bool& more);

}  // namespace platform
