#include "monitor/eventsearch.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/errors.h"
#include "tests/support/record_builder.h"
#include "tests/support/scoped.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void PutUInt32(Bytes& bytes, std::size_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

struct RecordFields {
  std::uint32_t EventID = 1;
  std::string Source = "Source";
  std::string Details = "details";
  std::uint32_t TimeGenerated = 1507566240;  // 2017-10-09 16:24:00 UTC
  bool WithStrings = true;
};

// A record in the 8-bit layout the event log delivers.
Bytes MakeRecord(const RecordFields& fields) {
  AnsiRecordFields record;
  record.EventID = fields.EventID;
  record.TimeGenerated = fields.TimeGenerated;
  record.Source = fields.Source;
  record.Computer = "COMPUTER";
  if (fields.WithStrings) record.Strings = {fields.Details};
  return BuildAnsiRecord(record);
}

Bytes Block(std::initializer_list<Bytes> records) {
  Bytes block;
  for (const auto& record : records) block.insert(block.end(), record.begin(), record.end());
  return block;
}

struct WalkResult {
  BlockWalkOutcome Outcome;
  tMyEventLogRecord Record;
  std::uint32_t TimeGenerated;
};

WalkResult Walk(const Bytes& block, const tEventSearchRecord& criteria,
                tMyEventLogRecord record = {}) {
  std::uint32_t time = 0;
  BlockWalkOutcome outcome = WalkEventBlock(block.data(), block.size(), criteria, record, time);
  return {outcome, record, time};
}

tEventSearchRecord Criteria(std::int32_t eventId, std::string source = "") {
  tEventSearchRecord criteria;
  criteria.EventID = eventId;
  criteria.Source = std::move(source);
  return criteria;
}

TEST(WalkEventBlock, TakesTheFirstMatchingRecordOfTheBlock) {
  Bytes block = Block({MakeRecord({7036, "Service Control Manager", "first", 100}),
                       MakeRecord({105, "Backup Agent", "second", 200}),
                       MakeRecord({105, "Backup Agent", "third", 300})});
  struct Case {
    const char* name;
    tEventSearchRecord criteria;
    BlockWalkOutcome outcome;
    std::uint16_t eventId;
    std::string source, details;
    std::uint32_t time;
  } cases[] = {
      {"any", Criteria(0), BlockWalkOutcome::Matched, 7036, "Service Control Manager", "first",
       100},
      {"by id", Criteria(105), BlockWalkOutcome::Matched, 105, "Backup Agent", "second", 200},
      {"source in other case", Criteria(0, "backup agent"), BlockWalkOutcome::Matched, 105,
       "Backup Agent", "second", 200},
      {"id and source", Criteria(105, "BACKUP AGENT"), BlockWalkOutcome::Matched, 105,
       "Backup Agent", "second", 200},
      {"source differs", Criteria(105, "Backup"), BlockWalkOutcome::NoMatch, 0, "", "", 0},
      {"id differs", Criteria(106), BlockWalkOutcome::NoMatch, 0, "", "", 0},
      {"id above 16 bits", Criteria(105 + 65536), BlockWalkOutcome::NoMatch, 0, "", "", 0},
      {"negative id", Criteria(-1), BlockWalkOutcome::NoMatch, 0, "", "", 0},
  };
  for (const auto& c : cases) {
    WalkResult result = Walk(block, c.criteria);
    EXPECT_EQ(result.Outcome, c.outcome) << c.name;
    EXPECT_EQ(result.Record.EventLogRecord.EventID, c.eventId) << c.name;
    EXPECT_EQ(result.Record.Source, c.source) << c.name;
    EXPECT_EQ(result.Record.Details, c.details) << c.name;
    if (c.outcome == BlockWalkOutcome::Matched) {
      EXPECT_EQ(result.TimeGenerated, c.time) << c.name;
    }
  }
}

TEST(WalkEventBlock, UsesOnlyTheLowSixteenBitsOfTheEventIdentifier) {
  WalkResult result = Walk(Block({MakeRecord({0xC0040069})}), Criteria(105));
  EXPECT_EQ(result.Outcome, BlockWalkOutcome::Matched);
  EXPECT_EQ(result.Record.EventLogRecord.EventID, 105u);
}

TEST(WalkEventBlock, ComparesOnlyTheLettersAToZWithoutRegardToCase) {
  // "É" and "é" in the locale's 8-bit text differ outside a to z.
  WalkResult differ = Walk(Block({MakeRecord({1, "Caf\xc9"})}), Criteria(0, "caf\xe9"));
  EXPECT_EQ(differ.Outcome, BlockWalkOutcome::NoMatch);
  WalkResult same = Walk(Block({MakeRecord({1, "Caf\xc9"})}), Criteria(0, "CAF\xc9"));
  EXPECT_EQ(same.Outcome, BlockWalkOutcome::Matched);
}

TEST(WalkEventBlock, ARecordWithoutStringsYieldsTheTextAtItsStringOffset) {
  // Without strings the offset names the trailing copy of Length, here the byte 76 and a zero.
  Bytes record = MakeRecord({.WithStrings = false});
  ASSERT_EQ(record.size(), 76u);
  WalkResult result = Walk(Block({record}), Criteria(0));
  EXPECT_EQ(result.Outcome, BlockWalkOutcome::Matched);
  EXPECT_EQ(result.Record.Details, "L");
}

TEST(WalkEventBlock, ABrokenLayoutEndsTheWalkWithoutReadingOutsideTheBlock) {
  Bytes good = MakeRecord({1, "Old", "old details"});
  auto withLength = [&](std::uint32_t length) {
    Bytes record = MakeRecord({2, "New"});
    PutUInt32(record, 0, length);
    return record;
  };
  auto withStringOffset = [&](std::uint32_t offset) {
    Bytes record = MakeRecord({2, "New"});
    PutUInt32(record, 36, offset);
    return record;
  };
  Bytes unterminatedSource(60, 'A');
  PutUInt32(unterminatedSource, 0, 60);
  Bytes unterminatedDetails = MakeRecord({2, "New", "xyz"});
  std::uint32_t detailsAt = 72;  // after "New", "COMPUTER" and the padding
  std::memset(unterminatedDetails.data() + detailsAt, 'x', unterminatedDetails.size() - detailsAt);
  struct Case {
    const char* name;
    Bytes block;
  } cases[] = {
      {"length 0", Block({withLength(0), good})},
      {"length below the header", Block({withLength(55), good})},
      {"length past the block", Block({withLength(100000), good})},
      {"string offset past the record", Block({withStringOffset(100000), good})},
      {"string offset at the record's end", Block({withStringOffset(good.size()), good})},
      {"source without zero byte", Block({unterminatedSource, good})},
      {"details without zero byte", Block({unterminatedDetails, good})},
      {"block shorter than a length", Bytes{1, 2}},
  };
  for (const auto& c : cases) {
    tMyEventLogRecord before;
    before.EventLogRecord.EventID = 9;
    before.Source = "earlier";
    before.TimeGeneratedAsDateTime = 42;
    WalkResult result = Walk(c.block, Criteria(1), before);
    EXPECT_EQ(result.Outcome, BlockWalkOutcome::Malformed) << c.name;
    EXPECT_EQ(result.Record.EventLogRecord.EventID, 0u) << c.name;
    EXPECT_EQ(result.Record.Source, "") << c.name;
    EXPECT_EQ(result.Record.TimeGeneratedAsDateTime, 42) << c.name;
  }
}

TEST(UnixTimeToDateTime, CountsDaysFromNineteenSeventy) {
  EXPECT_EQ(UnixTimeToDateTime(0), 25569.0);
  EXPECT_EQ(UnixTimeToDateTime(86400), 25570.0);
  EXPECT_DOUBLE_EQ(UnixTimeToDateTime(43200), 25569.5);
  EXPECT_DOUBLE_EQ(UnixTimeToDateTime(0xFFFFFFFF), 25569.0 + 4294967295.0 / 86400);
}

}  // namespace

namespace {

TEST(UTCToLocalDateTime, ARefusedConversionRaisesTheSystemError) {
  ScopedEnvironment zone("TZ", "America/New_York");
  TDateTime firstOfYearOne = 0;
  ASSERT_TRUE(TryEncodeDate(1, 1, 1, firstOfYearOne));
  try {
    UTCToLocalDateTime(firstOfYearOne);  // five hours earlier is before year 1
    ADD_FAILURE() << "no failure raised";
  } catch (const Exception& failure) {
    EXPECT_EQ(failure.ClassName(), "EOSError");
    EXPECT_EQ(failure.Message(),
              "System Error.  Code: 75.\r\nValue too large for defined data type");
  }
  EXPECT_DOUBLE_EQ(UTCToLocalDateTime(UnixTimeToDateTime(1507566240)),
                   UnixTimeToDateTime(1507566240 - 4 * 3600));
}

}  // namespace
