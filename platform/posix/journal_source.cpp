// The systemd journal as a log source: its entries newest first, each turned into a record whose
// event ID the first matching rule of journal.rules gives (read and compiled once per open).
#include <memory>
#include <vector>

#include "platform/journal.h"
#include "platform/posix/journal_reader.h"
#include "platform/posix/journal_record.h"
#include "platform/posix/log_source.h"

namespace platform {
namespace {

class JournalSource final : public LogSource {
 public:
  JournalSource(journal::UniqueJournal journal, std::vector<JournalRuleLine> rules)
      : journal_(std::move(journal)), rules_(std::move(rules)), matcher_(rules_) {}

  const SourcedRecord* Next() override;
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
};

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
  return &record_;
}

std::unique_ptr<JournalSource> OpenJournal(std::vector<JournalRuleLine> rules) {
  journal::UniqueJournal journal = journal::OpenTheJournal();
  if (!journal) return nullptr;
  return std::make_unique<JournalSource>(std::move(journal), std::move(rules));
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
