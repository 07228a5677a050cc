// The event channels that only the newer event log interface reads (a name with "/", such as
// "Microsoft-Windows-TaskScheduler/Operational"): each event, newest first, rendered into the
// 8-bit record layout the classic logs deliver. win32/eventlog.cpp gives them the same read
// contract as the classic logs.
#pragma once

#include <cstdint>
#include <string>

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

}  // namespace platform
