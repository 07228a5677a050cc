// The event log service: .evt files written by eventcreate and by the format's writer, read
// back newest first in the 8-bit record layout, checked against libevt where it is installed.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/byteorder.h"
#include "core/event_record.h"
#include "core/evt_codec.h"
#include "platform/eventlog.h"
#include "platform/eventwriter.h"
#include "platform/text.h"
#include "tests/support/held_file_lock.h"
#include "tests/support/process.h"
#include "tests/support/record_builder.h"

namespace {

namespace fs = std::filesystem;
namespace evt = core::evt;

constexpr const char* kPython = "/usr/bin/python3";

// One record as the reader delivers it, taken apart by the program's decoder. The write time and
// the user SID are left out of the comparisons: libevt's listing does not give them.
using Record = core::EventRecordFields;

std::optional<Record> ParseRecord(const std::uint8_t* bytes, std::uint32_t available) {
  const auto decoding = core::DecodeEventRecord(bytes, available, core::EventRecordCheck::Whole);
  if (!decoding.Record) return std::nullopt;
  Record r = decoding.Record->Fields();
  r.TimeWritten = 0;
  r.UserSid.clear();
  return r;
}

struct ReadOutcome {
  std::vector<Record> Records;
  bool LayoutBroken = false;
  std::uint32_t FinalError = 0;
};

// Reads the whole log newest first, growing the buffer whenever the next record needs it.
ReadOutcome ReadLog(const std::string& logName, std::uint32_t initialSize = 4097) {
  ReadOutcome outcome;
  platform::EventLogHandle log = platform::OpenEventLog(logName);
  if (log == nullptr) {
    outcome.FinalError = platform::kErrorInvalidHandle;
    return outcome;
  }
  std::vector<std::uint8_t> buffer(initialSize);
  for (;;) {
    std::uint32_t bytesRead = 0, bytesNeeded = 0, error = 0;
    if (!platform::ReadEventLogBackwards(log, buffer.data(), std::uint32_t(buffer.size()),
                                         bytesRead, bytesNeeded, error)) {
      if (error == platform::kErrorInsufficientBuffer && bytesNeeded > buffer.size()) {
        buffer.resize(bytesNeeded);
        continue;
      }
      outcome.FinalError = error;
      break;
    }
    for (std::uint32_t at = 0; at < bytesRead;) {
      auto record = ParseRecord(buffer.data() + at, bytesRead - at);
      if (!record) {
        outcome.LayoutBroken = true;
        break;
      }
      outcome.Records.push_back(*record);
      at += core::LoadU32(buffer.data() + at);
    }
  }
  platform::CloseEventLog(log);
  return outcome;
}

void PointLogDirectoryAt(const std::string& dir) { setenv("EVENTLOG_DIR", dir.c_str(), 1); }

std::string EventCreate() { return EVENTCREATE_EXE; }

// utf8Locale false keeps the environment as it is: the child then changes nothing between
// fork and exec, which matters while other threads of the test allocate.
ProcessResult RunEventCreate(const std::vector<std::string>& arguments, bool utf8Locale = true) {
  ProcessRun run;
  run.Executable = EventCreate();
  run.Arguments = arguments;
  if (utf8Locale) run.Environment = {{"LC_ALL", "C.UTF-8"}};
  return RunProcess(run);
}

bool HavePyevt() {
  if (!fs::exists(kPython)) return false;
  ProcessRun run;
  run.Executable = kPython;
  run.Arguments = {"-c", "import pyevt"};
  return RunProcess(run).ExitCode == 0;
}

std::u16string FromHex16(const std::string& hex) {
  std::u16string text;
  for (std::size_t i = 0; i + 3 < hex.size(); i += 4) {
    auto byte = [&](std::size_t at) { return std::stoi(hex.substr(at, 2), nullptr, 16); };
    text.push_back(char16_t(byte(i) | byte(i + 2) << 8));
  }
  return text;
}

// Prints the records of each file libevt can open, after a line "==" per file.
constexpr const char* kLibevtScript = R"(
import sys, pyevt
h = lambda s: (s or '').encode('utf-16-le').hex() or '-'
out = []
for path in sys.argv[1:]:
    out.append('==')
    f = pyevt.file()
    try:
        f.open(path)
    except IOError:
        continue
    for i in range(f.number_of_records):
        r = f.get_record(i)
        strings = [h(r.get_string(k)) for k in range(r.number_of_strings)]
        out.append(' '.join(str(x) for x in (
            r.identifier, r.event_identifier, r.event_type, r.event_category,
            r.get_creation_time_as_integer(), h(r.source_name), h(r.computer_name),
            len(strings), *strings)))
    f.close()
# One write: the output may be unbuffered.
sys.stdout.write('\n'.join(out) + '\n')
)";

// One record of the script's output; texts converted as the reader converts them.
Record LibevtRecord(const std::string& line) {
  auto text = [](const std::string& hex) {
    return hex == "-" ? std::string() : platform::WideToAnsi(FromHex16(hex));
  };
  std::istringstream fields(line);
  Record r;
  std::string source, computer;
  unsigned type = 0, category = 0;
  std::size_t count = 0;
  fields >> r.RecordNumber >> r.EventID >> type >> category >> r.TimeGenerated >> source >>
      computer >> count;
  r.EventType = std::uint16_t(type);
  r.EventCategory = std::uint16_t(category);
  r.Source = text(source);
  r.Computer = text(computer);
  for (std::size_t i = 0; i < count; ++i) {
    std::string hex;
    fields >> hex;
    r.Strings.push_back(text(hex));
  }
  return r;
}

// The records of each file as libevt lists them, newest first; none for a file it cannot open.
std::vector<std::vector<Record>> LibevtRecordsOfEach(const std::vector<std::string>& paths) {
  ProcessRun run;
  run.Executable = kPython;
  run.Arguments = {"-c", kLibevtScript};
  run.Arguments.insert(run.Arguments.end(), paths.begin(), paths.end());
  run.Timeout = std::chrono::milliseconds(120000);
  ProcessResult result = RunProcess(run);
  EXPECT_EQ(result.ExitCode, 0) << result.Errors;
  std::vector<std::vector<Record>> logs;
  std::istringstream lines(result.Output);
  std::string line;
  while (std::getline(lines, line)) {
    if (line == "==")
      logs.emplace_back();
    else if (!logs.empty())
      logs.back().push_back(LibevtRecord(line));
  }
  for (auto& records : logs) std::reverse(records.begin(), records.end());
  EXPECT_EQ(logs.size(), paths.size());
  logs.resize(paths.size());
  return logs;
}

std::vector<Record> LibevtRecords(const std::string& path) {
  return LibevtRecordsOfEach({path}).front();
}

std::vector<Record> WithoutData(std::vector<Record> records) {
  for (auto& r : records) r.Data.clear();
  return records;
}

evt::NewRecord MakeRecord(std::uint32_t id, std::string text, std::size_t dataSize = 0) {
  evt::NewRecord record;
  record.TimeGenerated = 1500000000 + id;
  record.TimeWritten = record.TimeGenerated;
  record.EventID = id;
  record.Source = u"Writer";
  record.Computer = u"HOST";
  record.Strings = {std::u16string(text.begin(), text.end())};
  for (std::size_t i = 0; i < dataSize; ++i) record.Data.push_back(std::uint8_t(id + i));
  return record;
}

// Appends the records with the format's writer; fails the test on an error.
void WriteRecords(const std::string& dir, const std::string& log,
                  const std::vector<evt::NewRecord>& records, std::uint32_t maxSize) {
  for (const auto& record : records)
    ASSERT_EQ(platform::AppendEvent(dir, log, record, maxSize), "");
}

std::string HexOf(std::size_t count, std::uint32_t seed) {
  static const char* digits = "0123456789abcdef";
  std::string hex;
  for (std::size_t i = 0; i < count; ++i) {
    std::uint8_t byte = std::uint8_t(seed * 7 + i);
    hex += digits[byte >> 4];
    hex += digits[byte & 15];
  }
  return hex;
}

std::vector<std::uint8_t> BytesOf(std::size_t count, std::uint32_t seed) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < count; ++i) bytes.push_back(std::uint8_t(seed * 7 + i));
  return bytes;
}

}  // namespace

TEST(EvtEventCreate, LibevtAndReaderSeeTheWrittenRecords) {
  TemporaryDirectory dir;
  const std::vector<std::vector<std::string>> runs = {
      {"--source", "Dienst Größe", "--id",     "0xC0000105", "--type",     "error",    "--category",
       "3",        "--computer",   "PC-Ü",     "--time",     "1000000000", "--string", "Grüße",
       "--string", "naïve café",   "--string", "",           "--data-hex", "00ff10"},
      {"--source", "S2", "--id", "7", "--computer", "C", "--time", "5"},
      {"--source", "Audit", "--id", "4294967295", "--type", "audit-failure", "--computer", "C",
       "--time", "4294967295", "--string", "one", "--data-hex", "ABCDEF01"}};
  for (auto arguments : runs) {
    arguments.insert(arguments.begin(), {"--dir", dir.Path(), "--log", "Written"});
    ProcessResult result = RunEventCreate(arguments);
    ASSERT_EQ(result.ExitCode, 0) << result.Errors;
  }
  using platform::WideToAnsi;
  const std::vector<Record> expected = {
      {.RecordNumber = 3,
       .TimeGenerated = 4294967295u,
       .TimeWritten = 0,
       .EventID = 4294967295u,
       .EventType = 16,
       .EventCategory = 0,
       .Source = "Audit",
       .Computer = "C",
       .UserSid = {},
       .Strings = {"one"},
       .Data = {0xAB, 0xCD, 0xEF, 0x01}},
      {.RecordNumber = 2,
       .TimeGenerated = 5,
       .TimeWritten = 0,
       .EventID = 7,
       .EventType = 4,
       .EventCategory = 0,
       .Source = "S2",
       .Computer = "C",
       .UserSid = {},
       .Strings = {},
       .Data = {}},
      {.RecordNumber = 1,
       .TimeGenerated = 1000000000,
       .TimeWritten = 0,
       .EventID = 0xC0000105,
       .EventType = 1,
       .EventCategory = 3,
       .Source = WideToAnsi(u"Dienst Größe"),
       .Computer = WideToAnsi(u"PC-Ü"),
       .UserSid = {},
       .Strings = {WideToAnsi(u"Grüße"), WideToAnsi(u"naïve café"), ""},
       .Data = {0x00, 0xFF, 0x10}}};
  PointLogDirectoryAt(dir.Path());
  ReadOutcome ours = ReadLog("written");
  EXPECT_FALSE(ours.LayoutBroken);
  EXPECT_EQ(ours.FinalError, platform::kErrorHandleEof);
  EXPECT_EQ(ours.Records, expected);
  if (!HavePyevt()) GTEST_SKIP() << "python3 pyevt (python3-libevt) is not installed";
  EXPECT_EQ(LibevtRecords(dir.File("Written.evt")), WithoutData(expected));
}

TEST(EvtEventCreate, LogThatWrappedManyTimesStaysReadable) {
  TemporaryDirectory dir;
  constexpr std::uint32_t kRuns = 320;
  for (std::uint32_t i = 1; i <= kRuns; ++i) {
    ProcessResult result = RunEventCreate(
        {"--dir", dir.Path(), "--log", "Ring", "--source", "Ring", "--id", std::to_string(i),
         "--computer", "HOST", "--time", std::to_string(i), "--max-size", "65536", "--string",
         "payload " + std::to_string(i) + std::string(i % 61, '.'), "--data-hex",
         HexOf(500 + i % 97, i)});
    ASSERT_EQ(result.ExitCode, 0) << result.Errors;
  }
  EXPECT_EQ(fs::file_size(dir.File("Ring.evt")), 65536u);
  PointLogDirectoryAt(dir.Path());
  ReadOutcome ours = ReadLog("RING");
  EXPECT_FALSE(ours.LayoutBroken);
  EXPECT_EQ(ours.FinalError, platform::kErrorHandleEof);
  ASSERT_GT(ours.Records.size(), 40u);
  ASSERT_LT(ours.Records.size(), 120u);  // the oldest records gave way several times
  std::uint32_t number = kRuns;
  for (const Record& r : ours.Records) {
    const Record expected{
        .RecordNumber = number,
        .TimeGenerated = number,
        .TimeWritten = 0,
        .EventID = number,
        .EventType = 4,
        .EventCategory = 0,
        .Source = "Ring",
        .Computer = "HOST",
        .UserSid = {},
        .Strings = {"payload " + std::to_string(number) + std::string(number % 61, '.')},
        .Data = BytesOf(500 + number % 97, number)};
    ASSERT_EQ(r, expected);
    --number;
  }
  if (!HavePyevt()) GTEST_SKIP() << "python3 pyevt (python3-libevt) is not installed";
  EXPECT_EQ(LibevtRecords(dir.File("Ring.evt")), WithoutData(ours.Records));
}

TEST(EvtReader, WrappedDirtySystemLogMatchesLibevt) {
  const std::string fixture = std::string(SHARED_FIXTURES_DIR) + "/SysEvent.Evt";
  if (!fs::exists(fixture)) GTEST_SKIP() << fixture << " is absent";
  if (!HavePyevt()) GTEST_SKIP() << "python3 pyevt (python3-libevt) is not installed";
  PointLogDirectoryAt(SHARED_FIXTURES_DIR);
  ReadOutcome ours = ReadLog("System");
  EXPECT_FALSE(ours.LayoutBroken);
  EXPECT_EQ(ours.FinalError, platform::kErrorHandleEof);
  ASSERT_EQ(ours.Records.size(), 6063u);
  EXPECT_EQ(ours.Records.front().RecordNumber, 7454u);
  EXPECT_EQ(ours.Records.back().RecordNumber, 1392u);
  std::vector<Record> theirs = LibevtRecords(fixture);
  ASSERT_EQ(theirs.size(), ours.Records.size());
  std::vector<Record> mine = WithoutData(ours.Records);
  for (std::size_t i = 0; i < mine.size(); ++i) ASSERT_EQ(mine[i], theirs[i]) << "index " << i;
}

TEST(EvtReader, RecordLargerThanTheBufferReportsItsSize) {
  TemporaryDirectory dir;
  WriteRecords(
      dir.Path(), "Small",
      {MakeRecord(1, "first", 10), MakeRecord(2, "second", 3000), MakeRecord(3, "third", 1)},
      evt::kDefaultMaxSize);
  PointLogDirectoryAt(dir.Path());
  platform::EventLogHandle log = platform::OpenEventLog("Small");
  ASSERT_NE(log, nullptr);
  std::vector<std::uint8_t> buffer(8192);
  std::uint32_t bytesRead = 0, needed = 0, error = 0;

  ASSERT_FALSE(platform::ReadEventLogBackwards(log, buffer.data(), 10, bytesRead, needed, error));
  EXPECT_EQ(error, platform::kErrorInsufficientBuffer);
  const std::uint32_t newest = needed;
  // Fixed part, "Writer" and "HOST", "third", one data byte, padding, trailing length.
  EXPECT_EQ(newest, 56u + 7 + 5 + 6 + 1 + 1 + 4);
  ASSERT_FALSE(
      platform::ReadEventLogBackwards(log, buffer.data(), newest - 1, bytesRead, needed, error));
  EXPECT_EQ(needed, newest);
  ASSERT_TRUE(
      platform::ReadEventLogBackwards(log, buffer.data(), newest, bytesRead, needed, error));
  EXPECT_EQ(bytesRead, newest);
  EXPECT_EQ(ParseRecord(buffer.data(), bytesRead)->RecordNumber, 3u);

  // The 3000-byte record does not fit 2000 bytes; the next call with its size reads it, and a
  // large buffer then takes it and the oldest in one call.
  ASSERT_FALSE(platform::ReadEventLogBackwards(log, buffer.data(), 2000, bytesRead, needed, error));
  EXPECT_EQ(error, platform::kErrorInsufficientBuffer);
  const std::uint32_t secondSize = needed;
  EXPECT_GT(secondSize, 3000u);
  ASSERT_TRUE(platform::ReadEventLogBackwards(log, buffer.data(), 8192, bytesRead, needed, error));
  auto second = ParseRecord(buffer.data(), bytesRead);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->RecordNumber, 2u);
  ASSERT_EQ(core::LoadU32(buffer.data()), secondSize);
  auto first = ParseRecord(buffer.data() + secondSize, bytesRead - secondSize);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->RecordNumber, 1u);
  EXPECT_EQ(bytesRead, secondSize + core::LoadU32(buffer.data() + secondSize));
  for (int i = 0; i < 2; ++i) {
    EXPECT_FALSE(
        platform::ReadEventLogBackwards(log, buffer.data(), 8192, bytesRead, needed, error));
    EXPECT_EQ(error, platform::kErrorHandleEof);
    EXPECT_EQ(bytesRead, 0u);
  }
  platform::CloseEventLog(log);

  int notAHandle = 0;
  for (platform::EventLogHandle bad :
       {platform::EventLogHandle(nullptr), platform::EventLogHandle(&notAHandle), log}) {
    EXPECT_FALSE(
        platform::ReadEventLogBackwards(bad, buffer.data(), 8192, bytesRead, needed, error));
    EXPECT_EQ(error, platform::kErrorInvalidHandle);
  }
}

TEST(EvtReader, DamagedRecordEndsTheLog) {
  struct Case {
    const char* name;
    std::uint32_t field;  // offset in the fourth newest record; ~0u: truncate the file there
    std::uint32_t value;
    bool wholeDword;
    std::size_t delivered;
  };
  constexpr std::uint32_t kTrailing = 0xFFFF0000;  // stands for the trailing length
  const Case cases[] = {
      {"leading length", 0, 4, false, 3},
      {"signature", 4, 0x58, false, 3},
      {"trailing length too small", kTrailing, 8, true, 3},
      {"trailing length too large", kTrailing, 0x7FFFFFF0, true, 3},
      {"trailing length beyond the log", kTrailing, 0x10000, true, 3},
      {"record number out of sequence", 8, 100, true, 3},
      {"string offset outside", 36, 0x10000, true, 3},
      {"more strings than fit", 26, 60, false, 3},
      {"user SID outside", 40, 0x1000, true, 3},
      {"data outside", 48, 0xFFFFFFF0, true, 3},
      {"source without end", 56, 0, false, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TemporaryDirectory dir;
    std::vector<evt::NewRecord> records;
    for (std::uint32_t i = 1; i <= 10; ++i) records.push_back(MakeRecord(i, "text", i * 3));
    WriteRecords(dir.Path(), "Damaged", records, evt::kDefaultMaxSize);
    PointLogDirectoryAt(dir.Path());
    const std::vector<Record> intact = ReadLog("Damaged").Records;
    ASSERT_EQ(intact.size(), 10u);

    std::string bytes = ReadFileBytes(dir.File("Damaged.evt"));
    auto* file = reinterpret_cast<std::uint8_t*>(bytes.data());
    std::uint32_t at = evt::kHeaderSize;
    for (int i = 0; i < 6; ++i) at += core::LoadU32(file + at);  // the seventh oldest record
    const std::uint32_t length = core::LoadU32(file + at);
    if (c.field == 56) {
      for (std::uint32_t k = 56; k < length - 4; ++k) file[at + k] |= 0x41;
    } else if (c.field == kTrailing) {
      core::StoreU32(file + at + length - 4, c.value);
    } else if (c.wholeDword) {
      core::StoreU32(file + at + c.field, c.value);
    } else {
      file[at + c.field] = std::uint8_t(file[at + c.field] + c.value);
    }
    WriteFileBytes(dir.File("Damaged.evt"), bytes);
    ReadOutcome outcome = ReadLog("Damaged");
    EXPECT_FALSE(outcome.LayoutBroken);
    // The reading broke off: not the end of the log.
    EXPECT_EQ(outcome.FinalError, platform::kErrorEventlogFileCorrupt);
    EXPECT_EQ(outcome.Records,
              std::vector<Record>(intact.begin(), intact.begin() + std::ptrdiff_t(c.delivered)));
  }
}

TEST(EvtReader, TruncatedFileIsNeverReadBeyondItsEnd) {
  TemporaryDirectory dir;
  std::vector<evt::NewRecord> records;
  for (std::uint32_t i = 1; i <= 400; ++i) records.push_back(MakeRecord(i, "text", 100 + i));
  WriteRecords(dir.Path(), "Cut", records, 0x10000);
  const std::string whole = ReadFileBytes(dir.File("Cut.evt"));
  // A log that has wrapped (one that has not keeps its oldest records, tested below).
  ASSERT_NE(
      core::LoadU32(reinterpret_cast<const std::uint8_t*>(whole.data()) + 36) & evt::kFlagWrapped,
      0u);
  PointLogDirectoryAt(dir.Path());
  const std::vector<Record> intact = ReadLog("Cut").Records;
  ASSERT_GT(intact.size(), 20u);
  for (std::size_t size : {std::size_t(20), std::size_t(100), whole.size() / 3,
                           whole.size() / 2 + 7, whole.size() - 2}) {
    SCOPED_TRACE(size);
    WriteFileBytes(dir.File("Cut.evt"), whole.substr(0, size));
    ReadOutcome outcome = ReadLog("Cut");
    EXPECT_FALSE(outcome.LayoutBroken);
    // Cut inside the records, the reading breaks off where they end.
    EXPECT_TRUE(outcome.FinalError == platform::kErrorHandleEof ||
                outcome.FinalError == platform::kErrorEventlogFileCorrupt ||
                outcome.FinalError == platform::kErrorInvalidHandle);
    // Whatever is delivered is the newest records, whole.
    ASSERT_LE(outcome.Records.size(), intact.size());
    EXPECT_EQ(outcome.Records,
              std::vector<Record>(intact.begin(),
                                  intact.begin() + std::ptrdiff_t(outcome.Records.size())));
  }
}

// A log that never wrapped, laid out as the service writes it: the raw records, oldest first,
// right after the header, then the end-of-file record. recordEnds gets where each record ends.
std::string UnwrappedLog(const std::vector<std::string>& records,
                         std::vector<std::size_t>& recordEnds) {
  std::string body;
  for (const auto& record : records) {
    body += record;
    recordEnds.push_back(evt::kHeaderSize + body.size());
  }
  const auto number = [&](std::size_t i) {
    return core::LoadU32(reinterpret_cast<const std::uint8_t*>(records[i].data()) + 8);
  };
  evt::LogBounds bounds;
  bounds.EofOffset = std::uint32_t(evt::kHeaderSize + body.size());
  bounds.OldestRecordNumber = number(0);
  bounds.CurrentRecordNumber = number(records.size() - 1) + 1;
  evt::FileHeader header;
  header.EndOffset = bounds.EofOffset;
  header.CurrentRecordNumber = bounds.CurrentRecordNumber;
  header.OldestRecordNumber = bounds.OldestRecordNumber;
  std::uint8_t headerBytes[evt::kHeaderSize], eof[evt::kEofSize];
  evt::EncodeHeader(header, headerBytes);
  evt::EncodeEof(bounds, eof);
  return std::string(reinterpret_cast<const char*>(headerBytes), evt::kHeaderSize) + body +
         std::string(reinterpret_cast<const char*>(eof), evt::kEofSize);
}

// count bytes of a log file from offset on, going on after the header at the end of the file.
std::string CircularBytes(const std::string& file, std::size_t offset, std::size_t count) {
  std::string bytes;
  for (std::size_t i = 0; i < count; ++i) {
    if (offset >= file.size()) offset = evt::kHeaderSize;
    bytes += file[offset++];
  }
  return bytes;
}

// The oldest records of the real System log, raw, in the order they were written.
std::vector<std::string> FixtureRecords(const std::string& fixture, std::size_t count) {
  ProcessRun run;
  run.Executable = kPython;
  run.Arguments = {"-c",
                   "import sys, pyevt\n"
                   "f = pyevt.file()\n"
                   "f.open(sys.argv[1])\n"
                   "for i in range(min(int(sys.argv[2]), f.number_of_records)):\n"
                   "    print(f.get_record(i).offset)\n",
                   fixture, std::to_string(count)};
  ProcessResult result = RunProcess(run);
  EXPECT_EQ(result.ExitCode, 0) << result.Errors;
  const std::string file = ReadFileBytes(fixture);
  std::vector<std::string> records;
  std::istringstream offsets(result.Output);
  for (std::size_t offset; offsets >> offset;) {
    const std::string length = CircularBytes(file, offset, 4);
    records.push_back(CircularBytes(
        file, offset, core::LoadU32(reinterpret_cast<const std::uint8_t*>(length.data()))));
  }
  return records;
}

// Cuts the log short at each offset and reads every copy: the reader delivers exactly the
// records that lie whole before the cut, newest first, as libevt recovers them.
void ExpectWholeRecordsBeforeEachCut(const std::string& log,
                                     const std::vector<std::size_t>& recordEnds,
                                     const std::vector<std::size_t>& cuts) {
  TemporaryDirectory dir;
  PointLogDirectoryAt(dir.Path());
  WriteFileBytes(dir.File("Whole.evt"), log);
  const std::vector<Record> intact = ReadLog("Whole").Records;
  ASSERT_EQ(intact.size(), recordEnds.size());
  // Each copy in a directory of its own, where the reader finds it at once.
  const auto directoryOf = [&](std::size_t cut) { return dir.File(std::to_string(cut)); };
  std::vector<std::string> paths;
  for (std::size_t cut : cuts) {
    fs::create_directory(directoryOf(cut));
    paths.push_back(directoryOf(cut) + "/Cut.evt");
    WriteFileBytes(paths.back(), log.substr(0, cut));
  }
  const bool libevt = HavePyevt();
  const auto theirs = libevt ? LibevtRecordsOfEach(paths) : std::vector<std::vector<Record>>();
  std::size_t mismatches = 0;
  for (std::size_t i = 0; i < cuts.size() && mismatches < 5; ++i) {
    SCOPED_TRACE("cut at " + std::to_string(cuts[i]) + " of " + std::to_string(log.size()));
    const auto whole = std::ptrdiff_t(
        std::upper_bound(recordEnds.begin(), recordEnds.end(), cuts[i]) - recordEnds.begin());
    PointLogDirectoryAt(directoryOf(cuts[i]));
    const ReadOutcome ours = ReadLog("Cut");
    const std::vector<Record> expected(intact.end() - whole, intact.end());
    EXPECT_FALSE(ours.LayoutBroken);
    EXPECT_EQ(ours.Records.size(), expected.size());
    bool same = ours.Records == expected;
    EXPECT_TRUE(same);
    if (libevt) {
      // libevt also lists the record that the cut tears, when only its end is missing (the
      // trailing length, say), and then with whatever its texts hold; the reader never does.
      std::vector<Record> agreed = theirs[i];
      const bool torn =
          std::size_t(whole) < recordEnds.size() && agreed.size() == expected.size() + 1 &&
          agreed.front().RecordNumber == intact[intact.size() - whole - 1].RecordNumber;
      if (torn) agreed.erase(agreed.begin());
      EXPECT_EQ(WithoutData(ours.Records), agreed);
      same = same && WithoutData(ours.Records) == agreed;
    }
    mismatches += same ? 0 : 1;
  }
  if (!libevt) GTEST_SKIP() << "python3 pyevt (python3-libevt) is not installed";
}

TEST(EvtReader, UnwrappedLogCutShortDeliversItsWholeRecords) {
  TemporaryDirectory dir;
  std::vector<evt::NewRecord> records;
  for (std::uint32_t i = 1; i <= 12; ++i) {
    evt::NewRecord record = MakeRecord(i, "text " + std::string(i * 5, 'a' + char(i)), i * 13);
    if (i % 3 == 0) record.Strings.push_back(u"second \u00e4\u00f6\u00fc");
    if (i % 4 == 0) record.Strings.clear();
    records.push_back(record);
  }
  WriteRecords(dir.Path(), "Written", records, evt::kDefaultMaxSize);
  const std::string log = ReadFileBytes(dir.File("Written.evt"));
  std::vector<std::size_t> recordEnds;
  for (std::size_t at = evt::kHeaderSize; recordEnds.size() < records.size();) {
    at += core::LoadU32(reinterpret_cast<const std::uint8_t*>(log.data()) + at);
    recordEnds.push_back(at);
  }
  // Every length from the bare header to the whole file.
  std::vector<std::size_t> cuts;
  for (std::size_t cut = evt::kHeaderSize; cut <= log.size(); ++cut) cuts.push_back(cut);
  ExpectWholeRecordsBeforeEachCut(log, recordEnds, cuts);
}

TEST(EvtReader, RealSystemLogCutShortDeliversItsWholeRecords) {
  const std::string fixture = std::string(SHARED_FIXTURES_DIR) + "/SysEvent.Evt";
  if (!fs::exists(fixture)) GTEST_SKIP() << fixture << " is absent";
  if (!HavePyevt()) GTEST_SKIP() << "python3 pyevt (python3-libevt) is not installed";
  // The real log has wrapped; its oldest records, laid out again, make one that has not.
  std::vector<std::size_t> recordEnds;
  const std::string log = UnwrappedLog(FixtureRecords(fixture, 80), recordEnds);
  ASSERT_EQ(recordEnds.size(), 80u);
  // Around every record's end, and at offsets spread over the records.
  std::vector<std::size_t> cuts;
  for (std::size_t end : recordEnds)
    for (std::size_t cut : {end - 4, end - 1, end, end + 2, end + 39, end + 40})
      if (cut <= log.size()) cuts.push_back(cut);
  for (std::size_t cut = evt::kHeaderSize; cut < log.size(); cut += 331) cuts.push_back(cut);
  ExpectWholeRecordsBeforeEachCut(log, recordEnds, cuts);
}

TEST(EvtReader, DirtyLogIsReadFromItsEndOfFileRecord) {
  TemporaryDirectory dir;
  // Records of growing size until the end-of-file record straddles the end of the file.
  const std::string path = dir.File("Dirty.evt");
  bool eofStraddles = false;
  for (std::uint32_t i = 1; i < 5000 && !eofStraddles; ++i) {
    WriteRecords(dir.Path(), "Dirty", {MakeRecord(i, "x", i % 29)}, 0x10000);
    if (fs::file_size(path) < 0x10000) continue;
    std::string bytes = ReadFileBytes(path);
    std::uint32_t eof = core::LoadU32(reinterpret_cast<const std::uint8_t*>(bytes.data()) + 20);
    eofStraddles = eof + evt::kEofSize > bytes.size();
  }
  ASSERT_TRUE(eofStraddles);
  PointLogDirectoryAt(dir.Path());
  const std::vector<Record> intact = ReadLog("Dirty").Records;
  ASSERT_GT(intact.size(), 50u);
  std::string bytes = ReadFileBytes(path);
  auto* header = reinterpret_cast<std::uint8_t*>(bytes.data());
  core::StoreU32(header + 16, 0x1234);                             // stale start offset
  core::StoreU32(header + 20, core::LoadU32(header + 20) - 4000);  // stale end offset
  core::StoreU32(header + 36, evt::kFlagDirty | evt::kFlagWrapped);
  WriteFileBytes(path, bytes);
  ReadOutcome outcome = ReadLog("Dirty");
  EXPECT_FALSE(outcome.LayoutBroken);
  EXPECT_EQ(outcome.Records, intact);
}

TEST(EvtReader, ConcurrentWriterNeverYieldsAPartialRecord) {
  TemporaryDirectory dir;
  PointLogDirectoryAt(dir.Path());
  std::atomic<bool> writing = true;
  std::vector<std::string> writerErrors;
  std::thread writer([&] {
    for (std::uint32_t i = 1; i <= 150; ++i) {
      ProcessResult result = RunEventCreate(
          {"--dir", dir.Path(), "--log", "Busy", "--source", "Busy", "--id", std::to_string(i),
           "--computer", "HOST", "--max-size", "65536", "--string", "payload " + std::to_string(i),
           "--data-hex", HexOf(400 + i % 300, i)},
          false);
      if (result.ExitCode != 0)
        writerErrors.push_back(std::to_string(result.ExitCode) +
                               (result.Stopped ? " stopped: " : ": ") + result.Errors);
    }
    writing = false;
  });
  int reads = 0;
  std::size_t seen = 0;
  std::vector<std::string> faults;
  while (writing) {
    ReadOutcome outcome = ReadLog("Busy");
    if (outcome.FinalError == platform::kErrorInvalidHandle) continue;  // not created yet
    ++reads;
    if (outcome.LayoutBroken || outcome.FinalError != platform::kErrorHandleEof)
      faults.push_back("read ended with " + std::to_string(outcome.FinalError));
    for (std::size_t k = 0; k < outcome.Records.size(); ++k) {
      const Record& r = outcome.Records[k];
      const bool whole =
          r.Strings == std::vector<std::string>{"payload " + std::to_string(r.EventID)} &&
          r.Data == BytesOf(400 + r.EventID % 300, r.EventID);
      const bool inSequence = k == 0 || r.RecordNumber + 1 == outcome.Records[k - 1].RecordNumber;
      if (!whole || !inSequence) {
        std::ostringstream text;
        PrintTo(r, &text);
        faults.push_back(text.str());
      }
    }
    seen += outcome.Records.size();
    // A pause between whole reads, as a monitor makes, lets the writer's exclusive lock in.
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  writer.join();
  EXPECT_EQ(writerErrors, std::vector<std::string>{});
  EXPECT_EQ(faults, std::vector<std::string>{});
  EXPECT_GT(reads, 5);
  EXPECT_GT(seen, 0u);
}

TEST(EvtReader, LogLockedByAStuckWriterIsGivenUpAfterTheBound) {
  using namespace std::chrono_literals;
  using Clock = std::chrono::steady_clock;
  const auto bound = std::chrono::milliseconds(platform::kEventLogLockWaitMilliseconds);
  TemporaryDirectory dir;
  // More than one cache window of records (the reader's window is 256 KiB; these are 780 KB),
  // so that a reader has to go back to the file.
  std::vector<evt::NewRecord> records;
  for (std::uint32_t i = 1; i <= 250; ++i) records.push_back(MakeRecord(i, "text", 3000));
  WriteRecords(dir.Path(), "Held", records, evt::kDefaultMaxSize);
  PointLogDirectoryAt(dir.Path());
  const std::string path = dir.File("Held.evt");
  const std::string before = ReadFileBytes(path);
  const std::vector<Record> intact = ReadLog("Held").Records;
  ASSERT_EQ(intact.size(), 250u);
  const std::vector<std::string> late = {"--dir",      dir.Path(), "--log",    "Held",
                                         "--source",   "Late",     "--id",     "251",
                                         "--computer", "HOST",     "--string", "late"};

  // A reader that has begun before the writer came.
  platform::EventLogHandle early = platform::OpenEventLog("Held");
  ASSERT_NE(early, nullptr);
  std::vector<std::uint8_t> buffer(0x7FFFF);
  std::uint32_t bytesRead = 0, needed = 0, error = 0;
  ASSERT_TRUE(
      platform::ReadEventLogBackwards(early, buffer.data(), 4097, bytesRead, needed, error));
  std::size_t delivered = 1;
  {
    // The writer gives up by itself only long after every bound, should the reader wait for it.
    // Writers lock the log's lock file beside it.
    HeldFileLock writer(path + ".lock", 15s);
    ASSERT_TRUE(writer.Held());

    auto start = Clock::now();
    EXPECT_EQ(platform::OpenEventLog("Held"), nullptr);
    auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, bound - 50ms);
    EXPECT_LT(elapsed, bound + 1500ms);

    // The early reader: what it has already read from the file is delivered, then it gives up.
    start = Clock::now();
    while (platform::ReadEventLogBackwards(early, buffer.data(), std::uint32_t(buffer.size()),
                                           bytesRead, needed, error))
      for (std::uint32_t at = 0; at < bytesRead; at += core::LoadU32(buffer.data() + at))
        ++delivered;
    elapsed = Clock::now() - start;
    // Given up before the oldest record: the reading broke off.
    EXPECT_EQ(error, platform::kErrorEventlogFileCorrupt);
    EXPECT_GT(delivered, 1u);
    EXPECT_LT(delivered, intact.size());
    EXPECT_GE(elapsed, bound - 50ms);
    EXPECT_LT(elapsed, bound + 1500ms);

    // eventcreate gives up as well, says so, and writes nothing.
    start = Clock::now();
    ProcessResult refused = RunEventCreate(late);
    elapsed = Clock::now() - start;
    EXPECT_FALSE(refused.Stopped);
    EXPECT_EQ(refused.ExitCode, 1);
    EXPECT_EQ(refused.Errors, "eventcreate: " + path +
                                  " is locked by another program; gave up after 3 seconds, "
                                  "nothing written\n");
    EXPECT_EQ(ReadFileBytes(path) == before, true);
    EXPECT_GE(elapsed, bound - 50ms);
    EXPECT_LT(elapsed, bound + 3000ms);
  }
  platform::CloseEventLog(early);

  // Once the writer has let go, the log is read and written again; nothing was lost.
  ProcessResult written = RunEventCreate(late);
  EXPECT_EQ(written.ExitCode, 0) << written.Errors;
  const std::vector<Record> after = ReadLog("Held").Records;
  ASSERT_EQ(after.size(), 251u);
  EXPECT_EQ(after[0].Strings, std::vector<std::string>{"late"});
  EXPECT_EQ(std::vector<Record>(after.begin() + 1, after.end()), intact);
}

// Anyone who can read a log can lock it, as `flock` through a read-only descriptor does. Such a
// lock on the log itself holds neither a writer nor the monitor's reader back: they lock the
// log's lock file, which only the writers' group can open.
TEST(EvtReader, AnOutsidersLockOnTheLogHoldsNobodyBack) {
  using namespace std::chrono_literals;
  TemporaryDirectory dir;
  WriteRecords(dir.Path(), "Held", {MakeRecord(1, "first")}, evt::kDefaultMaxSize);
  PointLogDirectoryAt(dir.Path());
  HeldFileLock outsider(dir.File("Held.evt"), 15s);
  ASSERT_TRUE(outsider.Held());
  const auto start = std::chrono::steady_clock::now();
  ProcessResult written = RunEventCreate({"--dir", dir.Path(), "--log", "Held", "--source", "Late",
                                          "--id", "2", "--computer", "HOST", "--string", "second"});
  EXPECT_EQ(written.ExitCode, 0) << written.Errors;
  const ReadOutcome outcome = ReadLog("Held");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
  EXPECT_EQ(outcome.FinalError, platform::kErrorHandleEof);
  ASSERT_EQ(outcome.Records.size(), 2u);
  EXPECT_EQ(outcome.Records[0].Strings, std::vector<std::string>{"second"});
  EXPECT_EQ(outcome.Records[1].Strings, std::vector<std::string>{"first"});
}

TEST(EvtReader, LogNamesIgnoreCaseAndKnowTheClassicFiles) {
  TemporaryDirectory dir;
  WriteRecords(dir.Path(), "MyApp", {MakeRecord(1, "myapp")}, evt::kDefaultMaxSize);
  WriteRecords(dir.Path(), "SysEvent", {MakeRecord(2, "system")}, evt::kDefaultMaxSize);
  fs::rename(dir.File("SysEvent.evt"), dir.File("SysEvent.Evt"));
  WriteRecords(dir.Path(), "appevent", {MakeRecord(3, "application")}, evt::kDefaultMaxSize);
  fs::create_directory(dir.File("Folder.evt"));
  PointLogDirectoryAt(dir.Path());
  struct Case {
    const char* name;
    const char* text;  // nullptr: the log cannot be opened
  };
  const Case cases[] = {{"MyApp", "myapp"},
                        {"myapp", "myapp"},
                        {"MYAPP", "myapp"},
                        {"System", "system"},
                        {"sYsTeM", "system"},
                        {"SysEvent", "system"},
                        {"Application", "application"},
                        {"Security", nullptr},
                        {"Nope", nullptr},
                        {"", nullptr},
                        {"../MyApp", nullptr},
                        {"Folder", nullptr}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ReadOutcome outcome = ReadLog(c.name);
    if (c.text == nullptr) {
      EXPECT_EQ(platform::OpenEventLog(c.name), nullptr);
      continue;
    }
    ASSERT_EQ(outcome.Records.size(), 1u);
    EXPECT_EQ(outcome.Records[0].Strings, std::vector<std::string>{c.text});
  }
}

TEST(EvtEventCreate, TypesMapToTheirCodes) {
  TemporaryDirectory dir;
  const std::pair<const char*, std::uint16_t> types[] = {
      {"error", 1},   {"warning", 2},       {"information", 4},
      {"success", 0}, {"audit-success", 8}, {"audit-failure", 16}};
  for (const auto& [name, code] : types) {
    ProcessResult result = RunEventCreate(
        {"--dir", dir.Path(), "--log", "Types", "--source", name, "--id", "1", "--type", name});
    ASSERT_EQ(result.ExitCode, 0) << result.Errors;
  }
  ProcessResult result =
      RunEventCreate({"--dir", dir.Path(), "--log", "Types", "--source", "default", "--id", "1"});
  ASSERT_EQ(result.ExitCode, 0) << result.Errors;
  PointLogDirectoryAt(dir.Path());
  ReadOutcome outcome = ReadLog("Types");
  ASSERT_EQ(outcome.Records.size(), 7u);
  EXPECT_EQ(outcome.Records[0].EventType, 4);
  EXPECT_FALSE(outcome.Records[0].Computer.empty());
  for (std::size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(outcome.Records[6 - i].Source, types[i].first);
    EXPECT_EQ(outcome.Records[6 - i].EventType, types[i].second);
  }
}

TEST(EvtEventCreate, BadArgumentsExitWithTwoAndWriteNothing) {
  const std::vector<std::vector<std::string>> cases = {
      {"--log", "L", "--source", "S", "--id", "1", "--colour", "red"},
      {"--source", "S", "--id", "1"},
      {"--log", "L", "--id", "1"},
      {"--log", "L", "--source", "S"},
      {"--log", "L", "--source", "S", "--id", "12x"},
      {"--log", "L", "--source", "S", "--id", "0x100000000"},
      {"--log", "L", "--source", "S", "--id", "4294967296"},
      {"--log", "L", "--source", "S", "--id", "-1"},
      {"--log", "L", "--source", "S", "--id", "1", "--data-hex", "abc"},
      {"--log", "L", "--source", "S", "--id", "1", "--data-hex", "zz"},
      {"--log", "L", "--source", "S", "--id", "1", "--type", "fatal"},
      {"--log", "L", "--source", "S", "--id", "1", "--category", "65536"},
      {"--log", "L", "--source", "S", "--id", "1", "--max-size", "1000"},
      {"--log", "L", "--source", "S", "--id", "1", "--max-size", "65536", "--data-hex",
       HexOf(65500, 1)},  // the record outgrows the log
      {"--log", "L", "--source", "S", "--id", "1", "--string"},
  };
  for (auto arguments : cases) {
    TemporaryDirectory dir;
    arguments.insert(arguments.begin(), {"--dir", dir.Path()});
    std::string joined;
    for (const auto& a : arguments) joined += a.substr(0, 20) + " ";
    SCOPED_TRACE(joined);
    ProcessResult result = RunEventCreate(arguments);
    EXPECT_EQ(result.ExitCode, 2);
    EXPECT_NE(result.Errors.find("usage: eventcreate"), std::string::npos);
    EXPECT_TRUE(fs::is_empty(dir.Path()));
  }
}
