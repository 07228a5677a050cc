// The one builder and the one decoder of the 8-bit record layout: a record pinned down byte by
// byte, the decoder's two depths on damaged copies of it (each with the reason it gives), and a
// whole decode giving back the fields the record was built from.
#include "core/event_record.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/byteorder.h"

namespace {

using core::EventLogRecord;
using core::EventRecordCheck;

core::EventRecordFields Sample() {
  core::EventRecordFields fields;
  fields.RecordNumber = 7;
  fields.TimeGenerated = 0x5A000001;
  fields.TimeWritten = 0x5A000002;
  fields.EventID = 1000;
  fields.EventType = 4;
  fields.EventCategory = 2;
  fields.Source = "Src";
  fields.Computer = "PC";
  fields.UserSid = {1, 2, 3};
  fields.Strings = {"a", "bc"};
  fields.Data = {0xAB};
  return fields;
}

// Sample() as the layout stores it: header, "Src" "PC" and one byte of padding, the SID at 64,
// the strings at 67, the data at 72, three bytes of padding and the trailing length 80.
const std::string kSampleBytes(
    "\x50\x00\x00\x00"
    "LfLe"
    "\x07\x00\x00\x00"
    "\x01\x00\x00\x5A"
    "\x02\x00\x00\x5A"
    "\xE8\x03\x00\x00"
    "\x04\x00\x02\x00\x02\x00\x00\x00"
    "\x00\x00\x00\x00"
    "\x43\x00\x00\x00"
    "\x03\x00\x00\x00"
    "\x40\x00\x00\x00"
    "\x01\x00\x00\x00"
    "\x48\x00\x00\x00"
    "Src\0PC\0\0"
    "\x01\x02\x03"
    "a\0bc\0"
    "\xAB\0\0\0"
    "\x50\x00\x00\x00",
    80);

const std::uint8_t* Bytes(const std::string& record) {
  return reinterpret_cast<const std::uint8_t*>(record.data());
}

TEST(EventRecord, BuildsTheLayoutByteByByte) {
  EXPECT_EQ(core::BuildEventRecord(Sample()), kSampleBytes);
}

TEST(EventRecord, WriterAppendsBehindWhatIsThereAndAbandonsCleanly) {
  std::string out = "before";
  core::EventRecordWriter record(out, EventLogRecord{});
  record.Text("Src");
  record.Abandon();
  EXPECT_EQ(out, "before");
  out += core::BuildEventRecord(Sample());
  EXPECT_EQ(out, "before" + kSampleBytes);
}

TEST(EventRecord, HeaderLoadsAndStoresEveryField) {
  const EventLogRecord header = core::LoadEventRecordHeader(Bytes(kSampleBytes));
  EXPECT_EQ(header.Length, 80u);
  EXPECT_EQ(header.Reserved, core::kEventRecordSignature);
  EXPECT_EQ(header.NumStrings, 2);
  EXPECT_EQ(header.EventCategory, 2);
  EXPECT_EQ(header.StringOffset, 67u);
  EXPECT_EQ(header.UserSidOffset, 64u);
  EXPECT_EQ(header.DataOffset, 72u);
  std::string stored(core::kEventRecordHeaderSize, '\xFF');
  core::StoreEventRecordHeader(header, reinterpret_cast<std::uint8_t*>(stored.data()));
  EXPECT_EQ(stored, kSampleBytes.substr(0, core::kEventRecordHeaderSize));
}

TEST(EventRecord, WholeDecodeGivesBackTheFields) {
  const auto decoding =
      core::DecodeEventRecord(Bytes(kSampleBytes), kSampleBytes.size(), EventRecordCheck::Whole);
  ASSERT_TRUE(decoding.Record) << decoding.Problem;
  EXPECT_EQ(decoding.Record->Fields(), Sample());
  EXPECT_EQ(decoding.Record->Source, "Src");
  EXPECT_EQ(decoding.Record->Message, "a");
}

struct DamageCase {
  const char* name;
  std::function<void(std::string&)> damage;
  std::size_t available;     // bytes handed to the decoder
  const char* readingFault;  // nullptr: a reading decode takes the record
  const char* wholeFault;
};

void Put32(std::string& record, std::size_t at, std::uint32_t value) {
  core::StoreU32(reinterpret_cast<std::uint8_t*>(record.data()) + at, value);
}

TEST(EventRecord, DecoderNamesWhatIsBroken) {
  const char* kLength = "the length is below the fixed header or past the bytes read";
  const DamageCase cases[] = {
      {"fewer than four bytes", [](std::string&) {}, 3, kLength, kLength},
      {"length below the header",
       [](std::string& r) { Put32(r, offsetof(EventLogRecord, Length), 55); }, 80, kLength,
       kLength},
      {"length past the bytes", [](std::string&) {}, 79, kLength, kLength},
      {"source without zero byte", [](std::string& r) { r.replace(56, 24, std::string(24, 'x')); },
       80, "the source name has no zero byte inside the record",
       "the source name has no zero byte inside the record"},
      {"string offset past the record",
       [](std::string& r) { Put32(r, offsetof(EventLogRecord, StringOffset), 80); }, 80,
       "the text at the string offset has no zero byte inside the record",
       "the text at the string offset has no zero byte inside the record"},
      {"length off the four-byte grid",
       [](std::string& r) { Put32(r, offsetof(EventLogRecord, Length), 78); }, 80, nullptr,
       "the length breaks the layout"},
      {"signature", [](std::string& r) { r[4] = 'X'; }, 80, nullptr, "the signature is not LfLe"},
      {"trailing length", [](std::string& r) { Put32(r, 76, 84); }, 80, nullptr,
       "the trailing length differs from the length"},
      {"SID outside",
       [](std::string& r) { Put32(r, offsetof(EventLogRecord, UserSidLength), 100); }, 80, nullptr,
       "the SID lies outside the record"},
      {"data outside", [](std::string& r) { Put32(r, offsetof(EventLogRecord, DataOffset), 76); },
       80, nullptr, "the data lie outside the record"},
      {"more strings than the record holds",
       [](std::string& r) {
         core::StoreU16(
             reinterpret_cast<std::uint8_t*>(r.data()) + offsetof(EventLogRecord, NumStrings), 9);
       },
       80, nullptr, "a string has no zero byte inside the record"},
  };
  for (const DamageCase& c : cases) {
    std::string record = kSampleBytes;
    c.damage(record);
    const auto reading = core::DecodeEventRecord(Bytes(record), c.available);
    const auto whole = core::DecodeEventRecord(Bytes(record), c.available, EventRecordCheck::Whole);
    if (c.readingFault == nullptr) {
      EXPECT_TRUE(reading.Record) << c.name << ": " << reading.Problem;
    } else {
      EXPECT_FALSE(reading.Record) << c.name;
      EXPECT_EQ(reading.Problem, c.readingFault) << c.name;
    }
    EXPECT_FALSE(whole.Record) << c.name;
    EXPECT_EQ(whole.Problem, c.wholeFault) << c.name;
  }
}

TEST(EventRecord, FramingTakesOnlyTheLength) {
  std::string record = kSampleBytes;
  record.replace(56, 24, std::string(24, 'x'));  // texts broken, framing whole
  EXPECT_EQ(core::FramedRecordLength(Bytes(record), 80), 80u);
  EXPECT_EQ(core::FramedRecordLength(Bytes(record), 79), std::nullopt);
  EXPECT_EQ(core::FramedRecordLength(Bytes(record), 2), std::nullopt);
}

}  // namespace
