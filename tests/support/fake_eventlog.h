// A stand-in for the system's event log service in the Windows suite. The suite's program takes
// the service's entry points (OpenEventLogA, ReadEventLogA, CloseEventLog) from here instead of
// from the system, so platform/win32/eventlog.cpp runs unchanged against logs a test lays out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// What the service saw of one read.
struct FakeRead {
  std::uint32_t Flags = 0;
  std::uint32_t BufferSize = 0;
  bool Succeeded = false;
  std::uint32_t BytesRead = 0;
  std::uint32_t BytesNeeded = 0;
  std::uint32_t Error = 0;  // the last error a failed read left
};

struct FakeEventLog {
  std::string Name;
  std::vector<Bytes> Records;  // newest first, each in the 8-bit layout
  // Reads (counted from 0 over every open handle) that succeed and deliver nothing.
  std::vector<std::size_t> EmptySuccessAt;
  std::uint32_t OpenError = 0;  // the open is refused with this error (access denied)
};

// Serves the logs until the object ends; every other log name is refused. The service and its
// counters are process-wide, so one object at a time.
class ScopedFakeEventLogService {
 public:
  explicit ScopedFakeEventLogService(std::vector<FakeEventLog> logs);
  ~ScopedFakeEventLogService();
  ScopedFakeEventLogService(const ScopedFakeEventLogService&) = delete;
  ScopedFakeEventLogService& operator=(const ScopedFakeEventLogService&) = delete;

  int Opens() const;         // handles given out
  int RefusedOpens() const;  // names refused
  int Closes() const;        // handles given back
  int BadCloses() const;     // closes of a handle never given out or given back twice
  bool ServerNamed() const;  // an open named a server instead of the local machine
  std::vector<FakeRead> Reads() const;
};

// The service's largest read buffer; a larger one is refused as an invalid parameter.
constexpr std::uint32_t kFakeLargestRead = 0x7FFFF;
