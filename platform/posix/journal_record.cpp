#include "platform/posix/journal_record.h"

#include <algorithm>

#include "core/event_record.h"
#include "core/evt_codec.h"
#include "platform/text.h"

namespace platform::journal {
namespace {

// Names, host and unit are short in practice; bounding them leaves the message the room.
constexpr std::size_t kLongestName = 1024;
constexpr std::size_t kTrailerSize = 4;
constexpr std::uint16_t kTypeError = 1;
constexpr std::uint16_t kTypeWarning = 2;
constexpr std::uint16_t kTypeInformation = 4;

std::string_view UpToZero(std::string_view text) { return text.substr(0, text.find('\0')); }

// The longest prefix of at most length bytes that does not end inside a UTF-8 sequence.
std::size_t CharacterBoundary(std::string_view text, std::size_t length) {
  if (length >= text.size()) return text.size();
  for (int back = 0; back < 3 && length > 0; ++back, --length)
    if ((static_cast<unsigned char>(text[length]) & 0xC0) != 0x80) break;
  return length;
}

// Sets out to the text in the locale's set, cut at a character boundary so that it takes at
// most limit bytes.
void ConvertWithin(std::string_view utf8, std::size_t limit, std::string& out) {
  std::size_t take = CharacterBoundary(utf8, limit);
  for (;;) {
    out.clear();
    AppendUtf8AsAnsi(utf8.substr(0, take), out);
    if (out.size() <= limit) return;
    // A set with characters longer than their UTF-8 form: give up the excess and try again.
    take = CharacterBoundary(utf8, take - std::min(take, out.size() - limit));
  }
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
  // What the message may take: the record's bound less all else (the header, the names and
  // their padding, zero bytes, the unit, up to three bytes of padding and the trailing length).
  const std::size_t names =
      (core::kEventRecordHeaderSize + texts.Source.size() + 1 + texts.Computer.size() + 1 + 3) / 4 *
      4;
  const std::size_t fixed =
      names + 1 + (entry.HasUnit ? texts.Unit.size() + 1 : 0) + 3 + kTrailerSize;
  ConvertWithin(UpToZero(entry.Message), core::evt::kMaxRecordSize - fixed, texts.Message);
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
  fields.TimeGenerated = std::uint32_t(entry.RealtimeMicroseconds / 1000000);
  return fields;
}

void AppendRecord(const Entry& entry, const RecordTexts& texts, std::uint16_t eventId,
                  std::string& out) {
  core::EventLogRecord header{};
  const auto seconds = std::uint32_t(entry.RealtimeMicroseconds / 1000000);
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
