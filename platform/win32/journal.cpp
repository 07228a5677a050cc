// The systemd journal exists only on Linux: here no log name opens it, and there are no rules.
#include "platform/journal.h"

namespace platform {

struct JournalMatcher::Compiled {};

bool NamesTheJournal(const std::string&) { return false; }

std::string JournalDescription() { return "no journal: the journal exists only on Linux"; }

JournalRulesFile ReadJournalRules(bool) {
  JournalRulesFile file;
  file.Problem = "the journal exists only on Linux";
  return file;
}

JournalMatcher::JournalMatcher(const std::vector<JournalRuleLine>&) {}
JournalMatcher::~JournalMatcher() = default;

const JournalMatcher::Compiled* JournalMatcher::Find(const JournalFields&) const { return nullptr; }

int JournalMatcher::FirstMatch(const JournalFields&) const { return -1; }

std::uint16_t JournalMatcher::EventIdFor(const JournalFields&) const { return 0; }

bool JournalMatcher::Matches(std::size_t, const JournalFields&) const { return false; }

bool VisitJournalNewestFirst(const std::vector<JournalRuleLine>&,
                             const std::function<bool(const JournalFields&, int)>&) {
  return false;
}

}  // namespace platform
