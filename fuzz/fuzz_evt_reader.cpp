// Feeds arbitrary bytes to the event log reader as a log file and reads every record, newest
// first, through a small buffer that grows when the next record does not fit. Each delivered
// record must keep the 8-bit layout, and the search's block walk must accept each block.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "monitor/eventsearch.h"
#include "platform/eventlog.h"

namespace {

constexpr std::uint32_t kFixedSize = 56;
constexpr int kMaxReads = 1 << 20;

std::string logPath;

[[noreturn]] void Fail(const char* what, std::uint32_t offset) {
  std::fprintf(stderr, "layout broken: %s at block offset %u\n", what, offset);
  std::abort();
}

std::uint32_t U32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}

// Offset past the zero byte of the text at offset, or 0 when there is none before limit.
std::uint32_t TextEnd(const std::uint8_t* record, std::uint32_t offset, std::uint32_t limit) {
  for (std::uint32_t at = offset; at < limit; ++at)
    if (record[at] == 0) return at + 1;
  return 0;
}

void CheckRecord(const std::uint8_t* record, std::uint32_t available, std::uint32_t at) {
  if (available < kFixedSize + 4) Fail("short tail", at);
  const std::uint32_t length = U32(record);
  if (length < kFixedSize + 4 || length > available || length % 4 != 0) Fail("Length", at);
  if (U32(record + 4) != 0x654c664c) Fail("signature", at);
  if (U32(record + length - 4) != length) Fail("trailing length", at);
  const std::uint32_t limit = length - 4;
  const std::uint32_t sourceEnd = TextEnd(record, kFixedSize, limit);
  if (sourceEnd == 0 || TextEnd(record, sourceEnd, limit) == 0) Fail("names", at);
  const std::uint32_t sidLength = U32(record + 40), sidOffset = U32(record + 44);
  if (sidOffset < kFixedSize || std::uint64_t(sidOffset) + sidLength > limit) Fail("SID", at);
  const std::uint32_t dataLength = U32(record + 48), dataOffset = U32(record + 52);
  if (dataOffset < kFixedSize || std::uint64_t(dataOffset) + dataLength > limit) Fail("data", at);
  std::uint32_t text = U32(record + 36);
  if (text < kFixedSize || text > limit) Fail("StringOffset", at);
  for (std::uint16_t i = 0, n = std::uint16_t(record[26] | record[27] << 8); i < n; ++i) {
    text = TextEnd(record, text, limit);
    if (text == 0) Fail("insertion string", at);
  }
}

void CheckBlock(const std::uint8_t* block, std::uint32_t size) {
  for (std::uint32_t at = 0; at < size; at += U32(block + at))
    CheckRecord(block + at, size - at, at);
  tEventSearchRecord criteria;
  criteria.Source = "\x01 no such source";
  tMyEventLogRecord result;
  std::uint32_t timeGenerated = 0;
  if (WalkEventBlock(block, size, criteria, result, timeGenerated) != BlockWalkOutcome::NoMatch)
    Fail("block walk", 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/evt-fuzz-XXXXXX";
  const char* dir = mkdtemp(pattern);
  if (dir == nullptr) std::abort();
  setenv("EVENTLOG_DIR", dir, 1);
  logPath = std::string(dir) + "/Fuzz.evt";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(logPath.c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);

  platform::EventLogHandle log = platform::OpenEventLog("Fuzz");
  if (log == nullptr) return 0;
  std::vector<std::uint8_t> buffer(16);
  for (int reads = 0; reads < kMaxReads; ++reads) {
    std::uint32_t bytesRead = 0, bytesNeeded = 0, errorCode = 0;
    // The exact size lets the address sanitizer see any write past the buffer.
    std::vector<std::uint8_t> exact(buffer.size());
    if (platform::ReadEventLogBackwards(log, exact.data(), std::uint32_t(exact.size()), bytesRead,
                                        bytesNeeded, errorCode)) {
      if (bytesRead == 0 || bytesRead > exact.size()) Fail("bytesRead", bytesRead);
      CheckBlock(exact.data(), bytesRead);
      continue;
    }
    if (errorCode == platform::kErrorInsufficientBuffer) {
      if (bytesNeeded <= buffer.size()) Fail("bytesNeeded", bytesNeeded);
      buffer.resize(bytesNeeded);
      continue;
    }
    // The end of the log, or where a damaged log breaks off.
    if (errorCode != platform::kErrorHandleEof && errorCode != platform::kErrorEventlogFileCorrupt)
      Fail("error code", errorCode);
    break;
  }
  platform::CloseEventLog(log);
  return 0;
}
