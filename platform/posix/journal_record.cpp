#include "platform/posix/journal_record.h"

#include <algorithm>

#include "core/event_record.h"
#include "core/evt_codec.h"
#include "platform/text.h"

namespace platform::journal {
namespace {

// The source, the computer and the unit are kept whole up to this many bytes each (in the
// locale's set), so that the message keeps at least the rest of the record.
constexpr std::size_t kLongestName = 16 * 1024;
// What the record leaves the message with empty names and no unit: the bound less the header,
// the names' two zero bytes and their padding (at most 3), the message's zero byte, the strings'
// padding (at most 3) and the trailing length.
constexpr std::size_t kMessageRoom = core::evt::kMaxRecordSize - core::kEventRecordHeaderSize - 13;
static_assert(kMessageRoom == 262075);
// UTF-8 is converted this many bytes at a time, so that a cut converts only the piece it falls in
// a character at a time.
constexpr std::size_t kPieceSize = 4096;
constexpr std::uint16_t kTypeError = 1;
constexpr std::uint16_t kTypeWarning = 2;
constexpr std::uint16_t kTypeInformation = 4;
// The largest time a record holds: 2106-02-07 06:28:15 UTC.
constexpr std::uint64_t kLatestSecond = 0xFFFFFFFF;

std::string_view UpToZero(std::string_view text) { return text.substr(0, text.find('\0')); }

bool IsContinuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// The longest prefix of at most length bytes that does not end inside a UTF-8 sequence.
std::size_t CharacterBoundary(std::string_view text, std::size_t length) {
  if (length >= text.size()) return text.size();
  for (int back = 0; back < 3 && length > 0; ++back, --length)
    if (!IsContinuation(text[length])) break;
  return length;
}

// Where the UTF-8 character at the start of text ends (a stray continuation byte is one).
std::size_t CharacterEnd(std::string_view text) {
  std::size_t end = 1;
  while (end < text.size() && end < 4 && IsContinuation(text[end])) ++end;
  return end;
}

// Appends a piece of UTF-8 in the locale's set, a character at a time, as long as out stays
// within limit bytes; false when a character did not fit (the cut).
bool AppendCharactersWithin(std::string_view piece, std::size_t limit, std::string& out,
                            std::string& character) {
  while (!piece.empty()) {
    const std::size_t end = CharacterEnd(piece);
    character.clear();
    AppendUtf8AsAnsi(piece.substr(0, end), character);
    if (out.size() + character.size() > limit) return false;
    out += character;
    piece.remove_prefix(end);
  }
  return true;
}

// Sets out to the text in the locale's set: whole when that takes at most limit bytes, else its
// longest beginning of whole characters of the locale's set that does. The measure is the
// converted size, whatever the UTF-8 size: under Latin-1 an "é" takes one byte, not two.
void ConvertWithin(std::string_view utf8, std::size_t limit, std::string& out) {
  out.clear();
  std::string piece;
  while (!utf8.empty()) {
    const std::size_t take = std::max<std::size_t>(CharacterBoundary(utf8, kPieceSize), 1);
    piece.clear();
    AppendUtf8AsAnsi(utf8.substr(0, take), piece);
    if (out.size() + piece.size() <= limit) {
      out += piece;
    } else if (!AppendCharactersWithin(utf8.substr(0, take), limit, out, piece)) {
      return;
    }
    utf8.remove_prefix(take);
  }
}

// The entry's realtime stamp in the record's 32-bit seconds: a time past 2106-02-07 06:28:15
// UTC shows as that time, never as one wrapped around to the 1960s. The journal holds no time
// before 1970.
std::uint32_t SecondsOf(std::uint64_t microseconds) {
  return std::uint32_t(std::min(microseconds / 1000000, kLatestSecond));
}

std::uint16_t EventTypeOf(std::string_view priority) {
  if (priority.size() != 1 || priority[0] < '0' || priority[0] > '7') return kTypeInformation;
  if (priority[0] <= '3') return kTypeError;
  return priority[0] == '4' ? kTypeWarning : kTypeInformation;
}

}  // namespace

void TextsOf(const Entry& entry, RecordTexts& texts) {
  const std::string_view identifier = UpToZero(entry.Identifier);
  ConvertWithin(identifier.empty() ? UpToZero(entry.Command) : identifier, kLongestName,
                texts.Source);
  ConvertWithin(UpToZero(entry.Hostname), kLongestName, texts.Computer);
  texts.Unit.clear();
  if (entry.HasUnit) ConvertWithin(UpToZero(entry.Unit), kLongestName, texts.Unit);
  // The message takes what the record leaves after the rest.
  const std::size_t rest =
      texts.Source.size() + texts.Computer.size() + (entry.HasUnit ? texts.Unit.size() + 1 : 0);
  ConvertWithin(UpToZero(entry.Message), kMessageRoom - rest, texts.Message);
}

JournalFields RuleFields(const Entry& entry, const RecordTexts& texts) {
  JournalFields fields;
  fields.Source = UpToZero(texts.Source);
  fields.Message = UpToZero(texts.Message);
  fields.Identifier = entry.Identifier;
  fields.Transport = entry.Transport;
  fields.Uid = entry.Uid;
  fields.Command = entry.Command;
  fields.Executable = entry.Executable;
  fields.Unit = entry.Unit;
  fields.TimeGenerated = SecondsOf(entry.RealtimeMicroseconds);
  return fields;
}

void AppendRecord(const Entry& entry, const RecordTexts& texts, std::uint16_t eventId,
                  std::string& out) {
  core::EventLogRecord header{};
  const std::uint32_t seconds = SecondsOf(entry.RealtimeMicroseconds);
  header.Reserved = core::kEventRecordSignature;
  header.RecordNumber = std::uint32_t(entry.SequenceNumber);
  header.TimeGenerated = seconds;
  header.TimeWritten = seconds;
  header.EventID = eventId;
  header.EventType = EventTypeOf(entry.Priority);
  core::EventRecordWriter record(out, header);
  record.Text(texts.Source);
  record.Text(texts.Computer);
  record.Sid({});
  record.BeginStrings();
  record.Text(texts.Message);
  if (entry.HasUnit) record.Text(texts.Unit);
  record.Data({});
  record.Finish();
}

}  // namespace platform::journal
