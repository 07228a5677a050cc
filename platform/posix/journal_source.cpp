// The systemd journal as a log source: its entries newest first, each turned into a record whose
// event ID the first matching rule of journal.rules gives (read and compiled once per open).
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>

#include "core/record_position.h"
#include "platform/journal.h"
#include "platform/posix/journal_reader.h"
#include "platform/posix/journal_record.h"
#include "platform/posix/log_source.h"

namespace platform {
namespace {

class JournalSource final : public LogSource {
 public:
  JournalSource(journal::UniqueJournal journal, std::vector<JournalRuleLine> rules,
                const std::string& fileNames)
      : journal_(std::move(journal)),
        rules_(std::move(rules)),
        matcher_(rules_),
        prefix_(PositionPrefix(rules_, fileNames)) {}

  const SourcedRecord* Next() override;
  std::string PositionText(const SourcedRecord& record) const override;
  bool Accepts(std::string_view position) const override {
    return position.substr(0, prefix_.size()) == prefix_;
  }
  core::Placement Place(const SourcedRecord& record, std::string_view position) const override;
  // The entry the last record came from, as the rules saw it.
  const JournalFields& Fields() const { return fields_; }

 private:
  journal::UniqueJournal journal_;
  std::vector<JournalRuleLine> rules_;
  JournalMatcher matcher_;
  journal::RecordTexts texts_;  // reused from entry to entry
  JournalFields fields_;
  std::string cursor_;
  std::string bytes_;
  SourcedRecord record_;
  std::uint64_t realtime_ = 0;  // the stamp of the entry the last record came from
  std::string prefix_;          // "journal:<fingerprint of the rules and files>:"

  static std::string PositionPrefix(const std::vector<JournalRuleLine>& rules,
                                    const std::string& fileNames);
};

// Other rules give the same entries other event IDs, and a journal file that arrived since may
// hold entries that sort below those read before: a position names the rules and the files it
// was read with, and a reading with other rules or files does not stop at it.
std::string JournalSource::PositionPrefix(const std::vector<JournalRuleLine>& rules,
                                          const std::string& fileNames) {
  std::uint64_t hash = core::HashBytes("rules");
  for (const JournalRuleLine& rule : rules) {
    hash = core::HashBytes(std::to_string(rule.Line) + ":", hash);
    hash = core::HashBytes(rule.Text, hash);
    hash = core::HashBytes("\n", hash);
  }
  hash = core::HashBytes(fileNames, core::HashBytes("files", hash));
  return "journal:" + core::HashText(hash) + ":";
}

// A cursor's field ("s" the sequence's id, "i" the sequence number); empty when it has none.
std::string_view CursorField(std::string_view cursor, std::string_view name) {
  while (!cursor.empty()) {
    const std::size_t end = cursor.find(';');
    const std::string_view field = cursor.substr(0, end);
    if (field.size() > name.size() && field.substr(0, name.size()) == name &&
        field[name.size()] == '=')
      return field.substr(name.size() + 1);
    if (end == std::string_view::npos) break;
    cursor.remove_prefix(end + 1);
  }
  return {};
}

std::string JournalSource::PositionText(const SourcedRecord& record) const {
  // Entries written later sort above an entry only when it is not stamped ahead of the clock:
  // a reading must not stop at an entry from the future.
  const auto now = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::system_clock::now().time_since_epoch());
  if (record.Position.Cursor.empty() || realtime_ > std::uint64_t(now.count())) return {};
  return prefix_ + std::string(record.Position.Cursor);
}

core::Placement JournalSource::Place(const SourcedRecord& record, std::string_view position) const {
  const std::string_view remembered = position.substr(prefix_.size());
  if (record.Position.Cursor == remembered) return core::Placement::kAt;
  // Within one sequence the numbers fall as the reading goes back: a number at or below the
  // remembered one's proves that entry gone (vacuumed, or the file replaced).
  const std::string_view sequence = CursorField(remembered, "s");
  if (!sequence.empty() && CursorField(record.Position.Cursor, "s") == sequence &&
      record.Position.Number <=
          std::strtoull(std::string(CursorField(remembered, "i")).c_str(), nullptr, 16))
    return core::Placement::kGone;
  return core::Placement::kNewer;
}

const SourcedRecord* JournalSource::Next() {
  if (sd_journal_previous(journal_.get()) <= 0) return nullptr;
  const journal::Entry entry = journal::ReadEntry(journal_.get(), cursor_);
  journal::TextsOf(entry, texts_);
  fields_ = journal::RuleFields(entry, texts_);
  const int rule = matcher_.FirstMatch(fields_);
  const std::uint16_t eventId = rule >= 0 ? rules_[std::size_t(rule)].EventID : 0;
  bytes_.clear();
  journal::AppendRecord(entry, texts_, eventId, bytes_);
  record_.Bytes = bytes_;
  record_.Position = {entry.SequenceNumber, cursor_};
  record_.Rule = rule;
  realtime_ = entry.RealtimeMicroseconds;
  return &record_;
}

std::unique_ptr<JournalSource> OpenJournal(std::vector<JournalRuleLine> rules) {
  // Listed before the journal opens: a file that arrives in between counts as new next time.
  const std::string fileNames = journal::JournalFileNames();
  journal::UniqueJournal journal = journal::OpenTheJournal();
  if (!journal) return nullptr;
  return std::make_unique<JournalSource>(std::move(journal), std::move(rules), fileNames);
}

std::unique_ptr<LogSource> OpenJournalLog(const std::string&) {
  // The rules are read and compiled once per open, that is once per search.
  return OpenJournal(ReadJournalRules().Rules);
}

EventLogLocation LocateJournal(const std::string&) { return journal::Locate(); }

}  // namespace

const LogSourceKind kJournalSourceKind = {NamesTheJournal, OpenJournalLog, LocateJournal};

bool VisitJournalNewestFirst(const std::vector<JournalRuleLine>& rules,
                             const std::function<bool(const JournalFields&, int rule)>& visit) {
  const auto source = OpenJournal(rules);
  if (!source) return false;
  for (const SourcedRecord* record; (record = source->Next()) != nullptr;)
    if (!visit(source->Fields(), record->Rule)) break;
  return true;
}

}  // namespace platform
