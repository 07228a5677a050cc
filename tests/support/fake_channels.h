// A stand-in for the event channels of the newer event log interface in the Windows suite. The
// suite's program defines the interface's functions itself (EvtQuery, EvtNext, EvtRender,
// EvtFormatMessage, EvtCreateRenderContext, EvtOpenPublisherMetadata, EvtClose): the header does
// not declare them as imports, so the linker takes these definitions and leaves wevtapi's out,
// and platform/win32/eventlog_channel.cpp runs unchanged against channels a test lays out.
// Without a stand-in in place every query is refused as a channel not found.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

struct FakeChannel {
  std::string Path;  // the channel's name, as a query names it
  // The channel's events as the system renders them to XML (UTF-8), oldest first: <Event>
  // elements with their System section, EventData or UserData, and a RenderingInfo whose
  // <Message> is what formatting the event gives (none there: the message cannot be formatted).
  std::string Events;
  std::uint32_t QueryError = 0;  // the query is refused with this error
  // EvtNext fails with BreakError once this many events were handed out.
  std::size_t BreakAfter = std::numeric_limits<std::size_t>::max();
  std::uint32_t BreakError = 0;
  // The channel's configuration: its properties, or the error its open is refused with.
  bool Enabled = true;
  bool Classic = false;
  std::string LogFilePath = {};
  std::uint32_t ConfigError = 0;
};

// Serves the channels until the object ends, their queries, their configurations
// (EvtOpenChannelConfig, EvtGetChannelConfigProperty) and their names in the given order
// (EvtOpenChannelEnum, EvtNextChannelPath); a query or configuration of any other channel is
// refused with ERROR_EVT_CHANNEL_NOT_FOUND, and names are matched in any letter case as the
// system does. Process-wide, so one object at a time.
class ScopedFakeChannelService {
 public:
  explicit ScopedFakeChannelService(std::vector<FakeChannel> channels);
  ~ScopedFakeChannelService();
  ScopedFakeChannelService(const ScopedFakeChannelService&) = delete;
  ScopedFakeChannelService& operator=(const ScopedFakeChannelService&) = delete;

  int Queries() const;      // queries given out
  int OpenHandles() const;  // handles of any kind given out and not closed
  int BadCalls() const;     // closes of unknown handles, calls with a wrong handle, kind or flag
  // The queries as asked: the channel path, the query text and the flags, one line each.
  std::vector<std::string> QueriesAsked() const;
  // The channels whose configuration was asked for, in order.
  std::vector<std::string> ConfigurationsAsked() const;
};
