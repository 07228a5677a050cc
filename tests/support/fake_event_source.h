// A stand-in for the event log service's reporting calls in the Windows suite: the suite's program
// takes RegisterEventSourceW, ReportEventW and DeregisterEventSource from here, so a test sees the
// exact events platform/win32/application_log.cpp reports. Without a stand-in in place the calls
// go on to the system.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct FakeReportedEvent {
  std::string Source;
  std::uint16_t Type = 0;
  std::uint16_t Category = 0;
  std::uint32_t Id = 0;
  std::vector<std::u16string> Strings;
  bool HasData = false;  // raw data was passed
  bool operator==(const FakeReportedEvent&) const = default;
};

// Takes the calls until the object ends; process-wide, so one object at a time.
class ScopedFakeEventSource {
 public:
  ScopedFakeEventSource();
  ~ScopedFakeEventSource();
  ScopedFakeEventSource(const ScopedFakeEventSource&) = delete;
  ScopedFakeEventSource& operator=(const ScopedFakeEventSource&) = delete;

  // From now on every report fails with this error (0: reports succeed again).
  void RefuseReports(std::uint32_t error);
  // From now on opening a source fails with this error (0: opens succeed again).
  void RefuseOpens(std::uint32_t error);

  std::vector<FakeReportedEvent> Events() const;
  int Opens() const;
  int OpenHandles() const;  // opened and not given back
  int BadCloses() const;    // handles never given out or given back twice
};
