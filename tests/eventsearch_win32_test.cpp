// The event search read through the Windows backend, against a stand-in for the event log
// service that delivers records the way the system does: whole records, newest first, in the
// 8-bit layout.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "monitor/eventsearch.h"
#include "platform/eventlog.h"
#include "tests/support/fake_eventlog.h"
#include "tests/support/record_builder.h"

namespace {

constexpr std::uint32_t kSequentialBackwards = 9;
constexpr std::uint32_t kErrorInvalidParameter = 87;
constexpr std::uint32_t kOctoberNinth = 1507566240;  // 2017-10-09 16:24:00 UTC

struct Event {
  std::uint32_t RecordNumber = 1;
  std::uint32_t EventID = 7036;
  std::string Source = "Service Control Manager";
  std::vector<std::string> Strings = {"details"};
  std::uint32_t TimeGenerated = kOctoberNinth;
  std::size_t DataSize = 0;  // bytes of event data, to make a record of a chosen size
};

// A whole record: header, source and computer names, a user SID, the strings, the data and the
// trailing copy of the length.
Bytes Record(const Event& event) {
  AnsiRecordFields record;
  record.RecordNumber = event.RecordNumber;
  record.TimeGenerated = event.TimeGenerated;
  record.TimeWritten = event.TimeGenerated + 1;
  record.EventID = event.EventID;
  record.EventType = 4;  // information
  record.Source = event.Source;
  record.Computer = "WINHOST";
  record.UserSid = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};  // S-1-5-18
  record.Strings = event.Strings;
  record.Data.assign(event.DataSize, 0xAB);
  return BuildAnsiRecord(record);
}

// A record of exactly the given size (a multiple of 4).
Bytes RecordOfSize(Event event, std::size_t size) {
  event.DataSize = 0;
  const std::size_t base = Record(event).size();
  event.DataSize = size - base;
  Bytes record = Record(event);
  EXPECT_EQ(record.size(), size);
  return record;
}

tEventSearchRecord Criteria(const std::string& log, std::int32_t eventId,
                            const std::string& source = "") {
  tEventSearchRecord criteria;
  criteria.LogFile = log;
  criteria.EventID = eventId;
  criteria.Source = source;
  return criteria;
}

// Two hundred records, newest first, record 200 the newest; they fill several reads of 4,097
// bytes. Every tenth comes from the backup agent, the oldest one from the disk driver.
std::vector<Bytes> SystemLog() {
  std::vector<Bytes> records;
  for (std::uint32_t number = 200; number >= 1; --number) {
    Event event;
    event.RecordNumber = number;
    event.TimeGenerated = kOctoberNinth - 60 * (200 - number);
    event.Strings = {"record " + std::to_string(number), "second string"};
    if (number % 10 == 0) {
      event.Source = "Backup Agent";
      event.EventID = 0xC0000000 | 105;
    }
    if (number == 1) {
      event.Source = "disk";
      event.EventID = 11;
    }
    records.push_back(Record(event));
  }
  return records;
}

// Each handle given out was given back once, and every read asked in the system's way.
void ExpectTidyService(const ScopedFakeEventLogService& service, std::uint32_t largestRead) {
  EXPECT_EQ(service.Opens(), service.Closes());
  EXPECT_EQ(service.BadCloses(), 0);
  EXPECT_FALSE(service.ServerNamed());
  for (const FakeRead& read : service.Reads()) {
    EXPECT_EQ(read.Flags, kSequentialBackwards);
    EXPECT_LE(read.BufferSize, largestRead);
    EXPECT_NE(read.Error, kErrorInvalidParameter);
  }
}

TEST(WindowsEventLogSearch, FindsTheNewestMatchingRecordThroughTheService) {
  const std::vector<Bytes> log = SystemLog();
  std::size_t logBytes = 0;
  for (const Bytes& record : log) logBytes += record.size();
  ASSERT_GT(logBytes, 3 * 4097u);
  struct Case {
    const char* name;
    tEventSearchRecord criteria;
    bool found;
    std::uint16_t eventId;
    std::string source, details;
    std::uint32_t time;
  } cases[] = {
      {"any record", Criteria("System", 0), true, 105, "Backup Agent", "record 200", kOctoberNinth},
      {"by source", Criteria("System", 0, "Service Control Manager"), true, 7036,
       "Service Control Manager", "record 199", kOctoberNinth - 60},
      {"by id, upper bits set", Criteria("System", 105), true, 105, "Backup Agent", "record 200",
       kOctoberNinth},
      {"by source in other case", Criteria("System", 0, "backup AGENT"), true, 105, "Backup Agent",
       "record 200", kOctoberNinth},
      {"the oldest record, behind every read", Criteria("System", 11, "DISK"), true, 11, "disk",
       "record 1", kOctoberNinth - 60 * 199},
      {"no match", Criteria("System", 11, "Backup Agent"), false, 0, "", "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedFakeEventLogService service({{"System", log, {}}});
    tMyEventLogRecord result;
    result.TimeGeneratedAsDateTime = 42;
    result.Source = "earlier";
    EXPECT_EQ(FindLatestEvent(c.criteria, result), c.found);
    EXPECT_EQ(result.EventLogRecord.EventID, c.eventId);
    EXPECT_EQ(result.Source, c.source);
    EXPECT_EQ(result.Details, c.details);
    EXPECT_EQ(result.TimeGeneratedAsDateTime,
              c.found ? UTCToLocalDateTime(UnixTimeToDateTime(c.time)) : 42);
    EXPECT_EQ(service.Opens(), 1);
    ExpectTidyService(service, 4097);
    const std::vector<FakeRead> reads = service.Reads();
    ASSERT_FALSE(reads.empty());
    for (const FakeRead& read : reads) EXPECT_EQ(read.BufferSize, 4097u);
    if (!c.found) {
      // Every record was read, then the service said the log had ended.
      std::size_t delivered = 0;
      for (const FakeRead& read : reads) delivered += read.BytesRead;
      EXPECT_EQ(delivered, logBytes);
      EXPECT_FALSE(reads.back().Succeeded);
      EXPECT_EQ(reads.back().Error, platform::kErrorHandleEof);
    } else if (c.eventId != 11) {
      EXPECT_EQ(reads.size(), 1u) << "the newest block holds the match";
    }
  }
}

TEST(WindowsEventLogSearch, EachSearchOpensTheLogAnewAndGivesItBack) {
  ScopedFakeEventLogService service({{"System", SystemLog(), {}}});
  tMyEventLogRecord result;
  for (int call = 1; call <= 3; ++call) {
    EXPECT_TRUE(FindLatestEvent(Criteria("System", 105), result));
    EXPECT_EQ(result.Details, "record 200") << "every call starts again at the newest record";
    EXPECT_EQ(service.Opens(), call);
    EXPECT_EQ(service.Closes(), call);
  }
  tMyEventLogRecord untouched;
  untouched.EventLogRecord.EventID = 9;
  untouched.Source = "before";
  untouched.TimeGeneratedAsDateTime = 42;
  EXPECT_FALSE(FindLatestEvent(Criteria("NoSuchLog", 0), untouched));
  EXPECT_EQ(untouched.EventLogRecord.EventID, 9u);
  EXPECT_EQ(untouched.Source, "before");
  EXPECT_EQ(untouched.TimeGeneratedAsDateTime, 42);
  EXPECT_EQ(service.RefusedOpens(), 1);
  ExpectTidyService(service, 4097);
}

TEST(WindowsEventLogSearch, ARecordLargerThanTheBufferIsReadWithTheSizeTheServiceNames) {
  Event big;
  big.RecordNumber = 3;
  big.EventID = 1;
  big.Source = "Big";
  big.Strings = {std::string(20000, 'x')};
  Event older;
  older.RecordNumber = 2;
  older.Strings = {"older"};
  Event oldest;
  oldest.RecordNumber = 1;
  oldest.EventID = 6005;
  oldest.Strings = {"oldest"};
  const std::vector<Bytes> log = {Record(big), Record(older), Record(oldest)};
  const std::uint32_t bigSize = std::uint32_t(log[0].size());
  ASSERT_GT(bigSize, 20000u);
  const std::uint32_t behindSize = std::uint32_t(log[1].size() + log[2].size());
  struct Case {
    const char* name;
    tEventSearchRecord criteria;
    std::string details;
    std::size_t reads;
  } cases[] = {
      {"the large record itself", Criteria("System", 1), std::string(20000, 'x'), 2},
      {"a record behind it", Criteria("System", 7036), "older", 3},
      {"the oldest, in the same read", Criteria("System", 6005), "oldest", 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedFakeEventLogService service({{"System", log, {}}});
    tMyEventLogRecord result;
    EXPECT_TRUE(FindLatestEvent(c.criteria, result));
    EXPECT_EQ(result.Details, c.details);
    const std::vector<FakeRead> reads = service.Reads();
    ASSERT_EQ(reads.size(), c.reads);
    // The first read of 4,097 bytes is refused with the size of the newest record ...
    EXPECT_EQ(reads[0].BufferSize, 4097u);
    EXPECT_FALSE(reads[0].Succeeded);
    EXPECT_EQ(reads[0].Error, platform::kErrorInsufficientBuffer);
    EXPECT_EQ(reads[0].BytesNeeded, bigSize);
    // ... and the next asks with exactly that size and gets the whole records that fit.
    EXPECT_EQ(reads[1].BufferSize, bigSize);
    EXPECT_TRUE(reads[1].Succeeded);
    EXPECT_EQ(reads[1].BytesRead, bigSize);
    // The grown buffer stays for the records behind it.
    if (c.reads == 3) {
      EXPECT_EQ(reads[2].BufferSize, bigSize);
      EXPECT_EQ(reads[2].BytesRead, behindSize);
    }
    ExpectTidyService(service, kFakeLargestRead);
  }
}

TEST(WindowsEventLogSearch, NoReadAsksForMoreThanTheServiceTakes) {
  Event older;
  older.Strings = {"older"};
  struct Case {
    const char* name;
    std::size_t newestSize;
    bool found;
    std::vector<std::uint32_t> bufferSizes;
  } cases[] = {
      {"a record just below the limit", 0x7FFFC, true, {4097, 0x7FFFC, 0x7FFFC}},
      {"a record above the limit", 0x80000, false, {4097, kFakeLargestRead}},
      {"a record far above the limit", 0x200000, false, {4097, kFakeLargestRead}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Event newest;
    newest.EventID = 1;
    newest.Source = "Huge";
    ScopedFakeEventLogService service(
        {{"System", {RecordOfSize(newest, c.newestSize), Record(older)}, {}}});
    tMyEventLogRecord result;
    result.EventLogRecord.EventID = 9;
    result.Source = "before";
    EXPECT_EQ(FindLatestEvent(Criteria("System", 7036), result), c.found);
    if (c.found) {
      EXPECT_EQ(result.Details, "older");
    } else {
      // Nothing could be read: the result stays as it was.
      EXPECT_EQ(result.EventLogRecord.EventID, 9u);
      EXPECT_EQ(result.Source, "before");
    }
    std::vector<std::uint32_t> sizes;
    for (const FakeRead& read : service.Reads()) sizes.push_back(read.BufferSize);
    EXPECT_EQ(sizes, c.bufferSizes);
    ExpectTidyService(service, kFakeLargestRead);
  }
}

TEST(WindowsEventLogSearch, ASuccessThatDeliversNothingEndsTheLog) {
  const std::vector<Bytes> log = SystemLog();
  struct Case {
    const char* name;
    std::vector<std::size_t> emptyAt;
    bool found;
    std::uint16_t eventId;
    std::string source;
    std::size_t reads;
  } cases[] = {
      // Nothing was read: the result stays.
      {"at the first read", {0}, false, 9, "before", 1},
      // A block was read and none of it matched: the search is over without a match.
      {"after the first block", {1}, false, 0, "", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedFakeEventLogService service({{"System", log, c.emptyAt}});
    tMyEventLogRecord result;
    result.EventLogRecord.EventID = 9;
    result.Source = "before";
    EXPECT_EQ(FindLatestEvent(Criteria("System", 11, "disk"), result), c.found);
    EXPECT_EQ(result.EventLogRecord.EventID, c.eventId);
    EXPECT_EQ(result.Source, c.source);
    const std::vector<FakeRead> reads = service.Reads();
    ASSERT_EQ(reads.size(), c.reads) << "the search never asks again after an empty success";
    EXPECT_TRUE(reads.back().Succeeded);
    EXPECT_EQ(reads.back().BytesRead, 0u);
    ExpectTidyService(service, 4097);
  }
}

TEST(WindowsEventLogBackend, ReadsAsTheServiceAnswers) {
  Event newest;
  newest.Strings = {std::string(5000, 'n')};
  const std::vector<Bytes> log = {Record(newest), Record(Event{})};
  const std::uint32_t newestSize = std::uint32_t(log[0].size());
  const std::uint32_t bothSizes = newestSize + std::uint32_t(log[1].size());
  struct Case {
    const char* name;
    bool withBuffer;
    std::uint32_t bufferSize;
    bool ok;
    std::uint32_t bytesRead, bytesNeeded, errorCode;
    std::uint32_t serviceSaw;
  } cases[] = {
      {"no buffer: the size of the next record", false, 4097, false, 0, newestSize,
       platform::kErrorInsufficientBuffer, 0},
      {"a buffer too small", true, 4097, false, 0, newestSize, platform::kErrorInsufficientBuffer,
       4097},
      {"a buffer that holds both", true, bothSizes, true, bothSizes, 0, 0, bothSizes},
      {"a buffer above the limit is cut to it", true, 0x100000, true, bothSizes, 0, 0,
       kFakeLargestRead},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedFakeEventLogService service({{"System", log, {}}});
    platform::EventLogHandle handle = platform::OpenEventLog("System");
    ASSERT_NE(handle, nullptr);
    std::vector<std::uint8_t> buffer(c.withBuffer ? c.bufferSize : 0);
    std::uint32_t bytesRead = 99, bytesNeeded = 99, errorCode = 99;
    EXPECT_EQ(platform::ReadEventLogBackwards(handle, c.withBuffer ? buffer.data() : nullptr,
                                              c.bufferSize, bytesRead, bytesNeeded, errorCode),
              c.ok);
    EXPECT_EQ(bytesRead, c.bytesRead);
    EXPECT_EQ(bytesNeeded, c.bytesNeeded);
    EXPECT_EQ(errorCode, c.errorCode);
    if (c.ok) {
      EXPECT_EQ(std::memcmp(buffer.data(), log[0].data(), log[0].size()), 0);
      // The log has ended.
      EXPECT_FALSE(platform::ReadEventLogBackwards(handle, buffer.data(), c.bufferSize, bytesRead,
                                                   bytesNeeded, errorCode));
      EXPECT_EQ(errorCode, platform::kErrorHandleEof);
    }
    platform::CloseEventLog(handle);
    const std::vector<FakeRead> reads = service.Reads();
    ASSERT_FALSE(reads.empty());
    EXPECT_EQ(reads[0].BufferSize, c.serviceSaw);
    ExpectTidyService(service, kFakeLargestRead);
    EXPECT_EQ(service.Closes(), 1);
  }
  // A missing handle fails without asking the service.
  ScopedFakeEventLogService service({{"System", log, {}}});
  std::uint8_t buffer[64];
  std::uint32_t bytesRead = 0, bytesNeeded = 0, errorCode = 0;
  EXPECT_FALSE(
      platform::ReadEventLogBackwards(nullptr, buffer, 64, bytesRead, bytesNeeded, errorCode));
  EXPECT_EQ(errorCode, platform::kErrorInvalidHandle);
  platform::CloseEventLog(nullptr);
  EXPECT_TRUE(service.Reads().empty());
  EXPECT_EQ(service.BadCloses(), 0);
}

}  // namespace

// A search that reads only what the log gained since the last one, through the backend's stop,
// against the whole search of the same log, step by step as the log changes.
TEST(WindowsEventLogSearch, ASearchSinceTheLastGivesWhatTheWholeSearchGives) {
  auto event = [](std::uint32_t number, std::uint32_t id, const std::string& text) {
    Event e;
    e.RecordNumber = number;
    e.EventID = id;
    e.Strings = {text};
    e.TimeGenerated = kOctoberNinth + number;
    return Record(e);
  };
  // A record whose texts lack their zero byte: it breaks the layout and ends the walk.
  Bytes broken = event(6, 7036, "broken");
  std::memset(broken.data() + 56, 'x', broken.size() - 60);
  const Bytes old3 = event(3, 7036, "three");
  const Bytes old2 = event(2, 1, "two");
  const Bytes old1 = event(1, 7036, "one");
  struct Step {
    const char* name;
    std::vector<Bytes> log;  // newest first
  } steps[] = {
      {"the first search reads all", {old3, old2, old1}},
      {"nothing new: the remembered match", {old3, old2, old1}},
      {"a new record that does not match", {event(4, 1, "four"), old3, old2, old1}},
      {"a new match", {event(5, 7036, "five"), event(4, 1, "four"), old3, old2, old1}},
      {"a broken record above the remembered match",
       {broken, event(5, 7036, "five"), event(4, 1, "four"), old3}},
      {"cleared and refilled past the remembered number",
       {event(6, 1, "six'"), event(5, 1, "five'"), event(4, 7036, "four'"), event(3, 1, "3'")}},
      {"cleared, fewer records", {event(2, 1, "two''"), event(1, 7036, "one''")}},
      {"emptied", {}},
      {"a first record again", {event(1, 7036, "one'''")}},
  };
  tEventSearchRecord criteria = Criteria("System", 7036);
  criteria.LoggedAfter = 1e6;  // no remembered match is due again: the memory answers
  tSearchMemory memory;
  tMyEventLogRecord since;
  tMyEventLogRecord whole;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    ScopedFakeEventLogService service({{"System", step.log, {}}});
    const bool wholeFound = FindLatestEvent(criteria, whole);
    EXPECT_EQ(FindLatestEventSince(criteria, memory, since), wholeFound);
    EXPECT_EQ(since.EventLogRecord.EventID, whole.EventLogRecord.EventID);
    EXPECT_EQ(since.Source, whole.Source);
    EXPECT_EQ(since.Details, whole.Details);
    EXPECT_EQ(since.TimeGeneratedAsDateTime, whole.TimeGeneratedAsDateTime);
    EXPECT_EQ(service.Opens(), 2);
    EXPECT_EQ(service.Closes(), 2);
  }
}
