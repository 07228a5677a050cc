// The .evt codec on its own: file header, end-of-file record, offsets in the circular region,
// records written and turned into the 8-bit layout, damaged records refused. No file is touched
// and no locale is asked: the tests hand the codec a conversion of their own.
#include "core/evt_codec.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "core/byteorder.h"
#include "tests/support/record_builder.h"

namespace {

namespace evt = core::evt;
using core::EventLogRecord;

// Writes each character other than ASCII as "<hex>" and notes every run it is handed, so that
// a test sees which units reached the conversion and in which pieces.
std::vector<std::size_t> runsConverted;

void MarkOtherCharacters(const std::uint8_t* bytes, std::size_t units, std::string& out) {
  runsConverted.push_back(units);
  static const char* digits = "0123456789ABCDEF";
  for (std::size_t i = 0; i < units; ++i) {
    const unsigned unit = core::LoadU16(bytes + 2 * i);
    out += '<';
    for (int shift = 12; shift >= 0; shift -= 4) out += digits[(unit >> shift) & 0xF];
    out += '>';
  }
}

std::string Converted(const std::u16string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] < 0x80) {
      out += char(text[i++]);
      continue;
    }
    std::size_t end = i;
    while (end < text.size() && text[end] >= 0x80) ++end;
    std::vector<std::uint8_t> bytes;
    for (std::size_t k = i; k < end; ++k) {
      bytes.push_back(std::uint8_t(text[k]));
      bytes.push_back(std::uint8_t(text[k] >> 8));
    }
    MarkOtherCharacters(bytes.data(), end - i, out);
    i = end;
  }
  return out;
}

evt::NewRecord SampleRecord() {
  evt::NewRecord record;
  record.TimeGenerated = 1507566240;
  record.TimeWritten = 1507566241;
  record.EventID = 0xC0000105;
  record.EventType = 1;
  record.EventCategory = 3;
  record.Source = u"Service Control Manager";
  record.Computer = u"WORKSTATION-01";
  record.Strings = {u"The Print Spooler service entered the running state.", u"", u"running"};
  record.Data = {0x00, 0xFF, 0x10};
  return record;
}

std::vector<std::uint8_t> Encoded(const evt::NewRecord& record, std::uint32_t number = 7) {
  return evt::EncodeRecord(record, number);
}

// The record's 8-bit layout as the hand-made builder lays it out.
std::vector<std::uint8_t> Expected(const evt::NewRecord& record, std::uint32_t number = 7) {
  AnsiRecordFields fields;
  fields.RecordNumber = number;
  fields.TimeGenerated = record.TimeGenerated;
  fields.TimeWritten = record.TimeWritten;
  fields.EventID = record.EventID;
  fields.EventType = record.EventType;
  fields.EventCategory = record.EventCategory;
  fields.Source = Converted(record.Source);
  fields.Computer = Converted(record.Computer);
  for (const auto& text : record.Strings) fields.Strings.push_back(Converted(text));
  fields.Data = record.Data;
  return BuildAnsiRecord(fields);
}

std::vector<std::uint8_t> AnsiOf(const std::vector<std::uint8_t>& encoded) {
  std::string out;
  EXPECT_TRUE(evt::AppendAnsiRecord(encoded.data(), std::uint32_t(encoded.size()),
                                    MarkOtherCharacters, out));
  return std::vector<std::uint8_t>(out.begin(), out.end());
}

}  // namespace

TEST(EvtCodec, HeaderAndEndOfFileRecordRoundTrip) {
  evt::FileHeader header;
  header.StartOffset = 0x1234;
  header.EndOffset = 0x5678;
  header.CurrentRecordNumber = 99;
  header.OldestRecordNumber = 42;
  header.MaxSize = 0x10000;
  header.Flags = evt::kFlagDirty | evt::kFlagWrapped;
  header.Retention = 604800;
  std::uint8_t bytes[evt::kHeaderSize];
  evt::EncodeHeader(header, bytes);
  const std::uint32_t stored[12] = {0x30, 0x654c664c, 1,       1, 0x1234, 0x5678,
                                    99,   42,         0x10000, 3, 604800, 0x30};
  for (int i = 0; i < 12; ++i) EXPECT_EQ(core::LoadU32(bytes + 4 * i), stored[i]) << i;
  auto decoded = evt::DecodeHeader(bytes);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->StartOffset, 0x1234u);
  EXPECT_EQ(decoded->EndOffset, 0x5678u);
  EXPECT_EQ(decoded->CurrentRecordNumber, 99u);
  EXPECT_EQ(decoded->OldestRecordNumber, 42u);
  EXPECT_EQ(decoded->MaxSize, 0x10000u);
  EXPECT_EQ(decoded->Flags, 3u);
  EXPECT_EQ(decoded->Retention, 604800u);
  for (std::size_t field : {std::size_t(0), std::size_t(4), std::size_t(44)}) {
    std::uint8_t damaged[evt::kHeaderSize];
    std::copy(bytes, bytes + evt::kHeaderSize, damaged);
    damaged[field] ^= 1;
    EXPECT_FALSE(evt::DecodeHeader(damaged)) << field;
  }

  const evt::LogBounds bounds{0x40, 0x200, 12, 5};
  std::uint8_t eof[evt::kEofSize];
  evt::EncodeEof(bounds, eof);
  const std::uint32_t eofStored[10] = {0x28, 0x11111111, 0x22222222, 0x33333333, 0x44444444,
                                       0x40, 0x200,      12,         5,          0x28};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(core::LoadU32(eof + 4 * i), eofStored[i]) << i;
  EXPECT_TRUE(evt::IsEofRecord(eof));
  auto found = evt::DecodeEof(eof, 0x200, 0x10000);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->BeginOffset, 0x40u);
  EXPECT_EQ(found->EofOffset, 0x200u);
  EXPECT_EQ(found->CurrentRecordNumber, 12u);
  EXPECT_EQ(found->OldestRecordNumber, 5u);
  // The oldest record must lie in the region, on the 4-byte grid.
  EXPECT_FALSE(evt::DecodeEof(eof, 0x200, 0x40));
  for (std::uint32_t begin : {0x2Cu, 0x42u, 0x10000u}) {
    evt::EncodeEof({begin, 0x200, 12, 5}, eof);
    EXPECT_FALSE(evt::DecodeEof(eof, 0x200, 0x10000)) << begin;
  }
  for (std::size_t at = 0; at < evt::kEofSize; at += 4) {
    if (at >= 20 && at < 36) continue;  // the bounds, any value
    evt::EncodeEof(bounds, eof);
    eof[at] ^= 0x10;
    EXPECT_FALSE(evt::IsEofRecord(eof)) << at;
  }
}

TEST(EvtCodec, OffsetsWrapAroundTheRegionBehindTheHeader) {
  const evt::CircularRegion region{0x130};  // 0x100 bytes after the header
  struct Case {
    std::uint32_t offset, count, forward, backward;
  };
  const Case cases[] = {{0x30, 0, 0x30, 0x30},     {0x30, 4, 0x34, 0x12C},
                        {0x100, 0x30, 0x30, 0xD0}, {0x12C, 4, 0x30, 0x128},
                        {0x12C, 8, 0x34, 0x124},   {0x40, 0x100, 0x40, 0x40}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.offset);
    EXPECT_EQ(region.Forward(c.offset, c.count), c.forward);
    EXPECT_EQ(region.Backward(c.offset, c.count), c.backward);
    EXPECT_EQ(region.Distance(c.offset, c.forward), c.count % 0x100);
  }
  EXPECT_EQ(region.Distance(0x120, 0x40), 0x20u);
}

TEST(EvtCodec, RecordIsWrittenAndDeliveredInTheEightBitLayout) {
  const evt::NewRecord sample = SampleRecord();
  const std::vector<std::uint8_t> encoded = Encoded(sample);
  // 56 + 2 * (24 + 15) names, the strings 2 * (53 + 1 + 8), 3 data bytes, padding, length.
  ASSERT_EQ(encoded.size(), 56u + 78 + 124 + 3 + 3 + 4);
  EXPECT_EQ(core::LoadU32(encoded.data() + offsetof(EventLogRecord, Length)), encoded.size());
  EXPECT_EQ(core::LoadU32(encoded.data() + encoded.size() - 4), encoded.size());
  EXPECT_EQ(core::LoadU32(encoded.data() + offsetof(EventLogRecord, RecordNumber)), 7u);
  EXPECT_EQ(core::LoadU16(encoded.data() + offsetof(EventLogRecord, NumStrings)), 3u);
  EXPECT_EQ(core::LoadU32(encoded.data() + offsetof(EventLogRecord, UserSidLength)), 0u);
  auto view = evt::CheckRecord(encoded.data(), std::uint32_t(encoded.size()));
  ASSERT_TRUE(view);
  EXPECT_EQ(view->SourceUnits, 23u);
  EXPECT_EQ(view->ComputerOffset, 56u + 48);
  EXPECT_EQ(view->ComputerUnits, 14u);

  runsConverted.clear();
  EXPECT_EQ(AnsiOf(encoded), Expected(sample));
  EXPECT_EQ(runsConverted, std::vector<std::size_t>{}) << "ASCII never reaches the conversion";

  // Appended behind what the string already holds, offsets counted from the record's start.
  std::string out = "abc";
  ASSERT_TRUE(evt::AppendAnsiRecord(encoded.data(), std::uint32_t(encoded.size()),
                                    MarkOtherCharacters, out));
  EXPECT_EQ(out.substr(0, 3), "abc");
  const std::vector<std::uint8_t> expected = Expected(sample);
  EXPECT_EQ(std::vector<std::uint8_t>(out.begin() + 3, out.end()), expected);
}

TEST(EvtCodec, OnlyRunsOfOtherCharactersReachTheConversion) {
  // Texts whose ASCII runs begin and end at every place within the four units the codec takes
  // at a time, with the runs of other characters the conversion gets, one call each.
  struct Case {
    std::u16string text;
    std::vector<std::size_t> runs;
  };
  const Case cases[] = {
      {u"", {}},
      {u"a", {}},
      {u"abcd", {}},
      {u"abcdefghi", {}},
      {u"\u00E9", {1}},
      {u"a\u00E9", {1}},
      {u"ab\u00E9c", {1}},
      {u"abc\u00E9\u00E8", {2}},
      {u"abcd\u00E9", {1}},
      {u"abcde\u00E9fghijk\u00FC\u00DF", {1, 2}},
      {u"\u007F\u0080\u00FF\u0100", {3}},
      {u"abcd\xD83D\xDE00wxyz", {2}},  // a surrogate pair stays in one run
      {u"abc\xDE00xyz\xD83D", {1, 1}},
      {u"\x4100\x0041\x8000\x0080", {1, 2}},  // ASCII bytes in the other half of a unit
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::vector<unsigned>(c.text.begin(), c.text.end())));
    evt::NewRecord record;
    record.Source = u"S";
    record.Computer = u"C";
    record.Strings = {c.text};
    runsConverted.clear();
    const std::vector<std::uint8_t> expected = Expected(record);
    runsConverted.clear();
    EXPECT_EQ(AnsiOf(Encoded(record)), expected);
    EXPECT_EQ(runsConverted, c.runs);
  }
}

TEST(EvtCodec, TextsOfEveryLengthAroundTheScanStepsComeOutTheSame) {
  // The names, and the strings, are narrowed in one go while they are ASCII; lengths around the
  // steps of eight and sixteen units and the 512 units narrowed at once, with a character the
  // conversion takes first, last or not at all, and data bytes beyond the last string that are
  // no ASCII text, must come out as the text by text conversion lays them out.
  const std::size_t lengths[] = {0,  1,  5,  6,   7,   8,   9,   14,  15,  16,  17,  23,
                                 31, 32, 33, 255, 503, 504, 505, 510, 511, 512, 513, 1030};
  enum class Other { None, First, Last };
  for (const std::size_t n : lengths) {
    for (const Other other : {Other::None, Other::First, Other::Last}) {
      SCOPED_TRACE(testing::Message() << n << " units, other character " << int(other));
      const auto text = [&](std::size_t units, char16_t fill) {
        std::u16string t(units, fill);
        if (units > 0 && other == Other::First) t.front() = u'\u00E9';
        if (units > 0 && other == Other::Last) t.back() = u'\u0100';
        return t;
      };
      evt::NewRecord record;
      record.Source = text(n, u'S');
      record.Computer = text(n % 7, u'C');
      record.Strings = {text(n, u'a'), u"", text(n + 3, u'b')};
      record.Data = {0xE9, 0x00, 0xFF, 0x01};
      const std::vector<std::uint8_t> expected = Expected(record);
      runsConverted.clear();
      EXPECT_EQ(AnsiOf(Encoded(record)), expected);
      if (other == Other::None) {
        EXPECT_TRUE(runsConverted.empty());
      }
    }
  }
}

TEST(EvtCodec, DamagedRecordIsRefusedAndLeavesTheOutputAsItWas) {
  const std::vector<std::uint8_t> good = Encoded(SampleRecord());
  const std::uint32_t length = std::uint32_t(good.size());
  const std::uint32_t stringsAt =
      core::LoadU32(good.data() + offsetof(EventLogRecord, StringOffset));
  struct Case {
    const char* name;
    std::size_t at;  // where the 32-bit value goes; the trailing length when at is length - 4
    std::uint32_t value;
    std::uint32_t checkedLength;  // the length handed to the codec
  };
  const Case cases[] = {
      {"leading length", offsetof(EventLogRecord, Length), length + 4, length},
      {"signature", offsetof(EventLogRecord, Reserved), 0x654c664d, length},
      {"trailing length", length - 4, length - 4, length},
      {"length not a multiple of four", offsetof(EventLogRecord, Length), length - 2, length - 2},
      {"length below the smallest record", offsetof(EventLogRecord, Length), 60, 60},
      {"SID outside", offsetof(EventLogRecord, UserSidLength), length, length},
      {"data outside", offsetof(EventLogRecord, DataLength), length, length},
      {"data before the names", offsetof(EventLogRecord, DataOffset), 40, length},
      {"strings inside the header", offsetof(EventLogRecord, StringOffset), 52, length},
      {"strings past the record", offsetof(EventLogRecord, StringOffset), length, length},
      {"more strings than the record holds", offsetof(EventLogRecord, NumStrings), 4, length},
      {"last string without its zero", stringsAt + 2 * 53 + 2 + 2 * 7, 0x00410041, length},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> damaged = good;
    if (c.at == offsetof(EventLogRecord, NumStrings))
      core::StoreU16(damaged.data() + c.at, std::uint16_t(c.value));
    else
      core::StoreU32(damaged.data() + c.at, c.value);
    if (c.checkedLength != length)
      core::StoreU32(damaged.data() + c.checkedLength - 4, c.checkedLength);
    EXPECT_FALSE(evt::CheckRecord(damaged.data(), c.checkedLength));
    std::string out = "kept";
    EXPECT_FALSE(evt::AppendAnsiRecord(damaged.data(), c.checkedLength, MarkOtherCharacters, out));
    EXPECT_EQ(out, "kept");
  }
  // Names that run up to the trailing length: their zero units must come before it.
  std::vector<std::uint8_t> names(good.begin(), good.begin() + 56);
  for (std::size_t at = 56; at < 96; at += 2) names.insert(names.end(), {'x', 0});
  names.resize(100);
  core::StoreU32(names.data(), 100);
  core::StoreU32(names.data() + 96, 100);
  core::StoreU16(names.data() + offsetof(EventLogRecord, NumStrings), 0);
  core::StoreU32(names.data() + offsetof(EventLogRecord, UserSidLength), 0);
  core::StoreU32(names.data() + offsetof(EventLogRecord, DataLength), 0);
  struct Ending {
    const char* name;
    std::size_t zeroAt;  // where a zero unit goes, 0 for none
    bool whole;
  };
  const Ending endings[] = {{"source without its zero", 0, false},
                            {"computer without its zero", 58, false},
                            {"computer ending just before the trailing length", 94, true}};
  for (const Ending& e : endings) {
    SCOPED_TRACE(e.name);
    if (e.zeroAt != 0) names[e.zeroAt] = 0;
    EXPECT_EQ(bool(evt::CheckRecord(names.data(), 100)), e.whole);
    std::string out = "kept";
    EXPECT_EQ(evt::AppendAnsiRecord(names.data(), 100, MarkOtherCharacters, out), e.whole);
    if (!e.whole) {
      EXPECT_EQ(out, "kept");
    }
  }
  // The whole one: the source "x", the computer 17 times "x", no padding, the length 80.
  auto view = evt::CheckRecord(names.data(), 100);
  ASSERT_TRUE(view);
  EXPECT_EQ(view->SourceUnits, 1u);
  EXPECT_EQ(view->ComputerUnits, 17u);
  std::string out;
  ASSERT_TRUE(evt::AppendAnsiRecord(names.data(), 100, MarkOtherCharacters, out));
  EXPECT_EQ(out.substr(56), "x" + std::string(1, '\0') + std::string(17, 'x') +
                                std::string(1, '\0') + std::string("\x50\0\0\0", 4));
}
