// The journal's rules (rule_probe.h).
#include "tools/check/rule_probe.h"

#include <cstddef>
#include <string>
#include <vector>

#include "monitor/eventsearch.h"
#include "monitor/settings_lint.h"
#include "platform/journal.h"

namespace check {

namespace {

constexpr std::size_t kShownMessageBytes = 160;

// An entry as a rule's line shows it: local generation time, source and message.
std::string EntryLine(const platform::JournalFields& entry) {
  std::string message = entry.Message;
  if (message.size() > kShownMessageBytes) message = message.substr(0, kShownMessageBytes) + "...";
  return FullYearDateTimeText(UTCToLocalDateTime(UnixTimeToDateTime(entry.TimeGenerated))) + " " +
         EscapedText(std::string(entry.Source)) + ": " + EscapedText(message);
}

// For each usable rule, the newest entry that gets its event ID (the first rule an entry
// matches gives it), read newest first until every rule has one or the journal ends.
std::vector<std::string> NewestEntriesOfRules(const std::vector<platform::JournalRuleLine>& rules) {
  std::vector<std::string> newest(rules.size());
  std::size_t usable = 0;
  for (const auto& rule : rules)
    if (rule.Problem.empty()) ++usable;
  if (usable == 0) return newest;
  std::size_t found = 0;
  // The journal says which rule gave each entry its event ID, as a search reads it.
  platform::VisitJournalNewestFirst(rules, [&](const platform::JournalFields& entry, int rule) {
    if (rule >= 0 && newest[rule].empty()) {
      newest[rule] = EntryLine(entry);
      ++found;
    }
    return found < usable;
  });
  return newest;
}

}  // namespace

void CheckJournalRules(const tEventSearchRecord& settings, Findings& findings) {
  const platform::JournalRulesFile file = platform::ReadJournalRules(true);
  Print("The rules in " + file.Path + " (each with the newest entry it gives its event ID to):");
  if (!file.Readable)
    Print("  cannot be read (" + file.Problem + "): every journal entry has event ID 0");
  else if (file.Rules.empty())
    Print("  none: every journal entry has event ID 0");
  const std::vector<std::string> newest = NewestEntriesOfRules(file.Rules);
  // The findings come in the file's order, one for each line that cannot be used, each said
  // where its line stands; then the one on the event ID.
  const std::vector<tFinding> ruleFindings = LintJournalRules(file, settings.EventID);
  auto next = ruleFindings.begin();
  for (std::size_t i = 0; i < file.Rules.size(); ++i) {
    const platform::JournalRuleLine& rule = file.Rules[i];
    if (!rule.Problem.empty()) {
      if (next != ruleFindings.end()) findings.Add(*next++);
      continue;
    }
    Print("  line " + std::to_string(rule.Line) + ": event ID " + std::to_string(rule.EventID) +
          " for source " + VisibleText(rule.Identifier) + " and message " +
          VisibleText(rule.Pattern));
    Print("    newest entry: " + (newest[i].empty() ? std::string("none") : newest[i]));
  }
  for (; next != ruleFindings.end(); ++next) findings.Add(*next);
}

}  // namespace check
