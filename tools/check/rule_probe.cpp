// The journal's rules (rule_probe.h).
#include "tools/check/rule_probe.h"

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "monitor/eventsearch.h"
#include "monitor/settings_lint.h"
#include "platform/journal.h"

namespace check {

namespace {

constexpr std::size_t kShownMessageBytes = 160;
// The newest entries each rule is timed against, at most, and the time for one entry on
// average past which a rule is slow: EventLog runs every rule on each new entry.
constexpr std::size_t kTimedEntries = 1000;
constexpr double kSlowRuleMilliseconds = 1.0;

// An entry's fields kept beyond the journal's reading; a field the entry lacks stays absent.
struct HeldEntry {
  std::string Source, Message;
  std::optional<std::string> Identifier, Transport, Uid, Command, Executable, Unit;
  std::uint32_t TimeGenerated = 0;
};

std::optional<std::string> Held(std::string_view field) {
  if (field.data() == nullptr) return std::nullopt;
  return std::string(field);
}

std::string_view Viewed(const std::optional<std::string>& field) {
  return field ? std::string_view(*field) : std::string_view();
}

HeldEntry Hold(const platform::JournalFields& entry) {
  return {std::string(entry.Source), entry.Message,    Held(entry.Identifier),
          Held(entry.Transport),     Held(entry.Uid),  Held(entry.Command),
          Held(entry.Executable),    Held(entry.Unit), entry.TimeGenerated};
}

platform::JournalFields Fields(const HeldEntry& entry) {
  platform::JournalFields fields;
  fields.Source = entry.Source;
  fields.Message = entry.Message;
  fields.Identifier = Viewed(entry.Identifier);
  fields.Transport = Viewed(entry.Transport);
  fields.Uid = Viewed(entry.Uid);
  fields.Command = Viewed(entry.Command);
  fields.Executable = Viewed(entry.Executable);
  fields.Unit = Viewed(entry.Unit);
  fields.TimeGenerated = entry.TimeGenerated;
  return fields;
}

// An entry as a rule's line shows it: local generation time, source and message.
std::string EntryLine(const platform::JournalFields& entry) {
  std::string message = entry.Message;
  if (message.size() > kShownMessageBytes) message = message.substr(0, kShownMessageBytes) + "...";
  return FullYearDateTimeText(UTCToLocalDateTime(UnixTimeToDateTime(entry.TimeGenerated))) + " " +
         EscapedText(std::string(entry.Source)) + ": " + EscapedText(message);
}

// For each usable rule, the newest entry that gets its event ID (the first rule an entry
// matches gives it), read newest first until every rule has one or the journal ends; the
// newest of the entries read are kept in timed.
std::vector<std::string> NewestEntriesOfRules(const std::vector<platform::JournalRuleLine>& rules,
                                              std::vector<HeldEntry>& timed) {
  std::vector<std::string> newest(rules.size());
  std::size_t usable = 0;
  for (const auto& rule : rules)
    if (rule.Problem.empty()) ++usable;
  if (usable == 0) return newest;
  std::size_t found = 0;
  // The journal says which rule gave each entry its event ID, as a search reads it.
  platform::VisitJournalNewestFirst(rules, [&](const platform::JournalFields& entry, int rule) {
    if (timed.size() < kTimedEntries) timed.push_back(Hold(entry));
    if (rule >= 0 && newest[rule].empty()) {
      newest[rule] = EntryLine(entry);
      ++found;
    }
    return found < usable;
  });
  return newest;
}

// The line that says a rule is slow, empty when it is not: the rule alone against each of the
// entries.
std::string SlowRuleLine(const platform::JournalMatcher& matcher, std::size_t rule,
                         const std::vector<HeldEntry>& entries) {
  if (entries.empty()) return {};
  const auto start = std::chrono::steady_clock::now();
  for (const HeldEntry& entry : entries) matcher.Matches(rule, Fields(entry));
  const std::chrono::duration<double, std::milli> spent = std::chrono::steady_clock::now() - start;
  const double each = spent.count() / double(entries.size());
  if (each <= kSlowRuleMilliseconds) return {};
  char figures[64];
  std::snprintf(figures, sizeof figures, "%.1f ms", each);
  return "    slow: " + std::string(figures) + " for each entry on average over " +
         (entries.size() == 1 ? std::string("the newest entry")
                              : "the " + std::to_string(entries.size()) + " newest entries") +
         " (slow means more than 1 ms): EventLog tries the rules on every new entry; fewer or "
         "smaller repetitions in the pattern, or a narrower source, make it faster";
}

}  // namespace

void CheckJournalRules(const tEventSearchRecord& settings, Findings& findings) {
  const platform::JournalRulesFile file = platform::ReadJournalRules(true);
  Print("The rules in " + file.Path + " (each with the newest entry it gives its event ID to):");
  if (!file.Readable)
    Print("  cannot be read (" + file.Problem + "): every journal entry has event ID 0");
  else if (file.Rules.empty())
    Print("  none: every journal entry has event ID 0");
  std::vector<HeldEntry> timed;
  const std::vector<std::string> newest = NewestEntriesOfRules(file.Rules, timed);
  const platform::JournalMatcher matcher(file.Rules);
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
    if (const std::string slow = SlowRuleLine(matcher, i, timed); !slow.empty()) Print(slow);
  }
  for (; next != ruleFindings.end(); ++next) findings.Add(*next);
}

}  // namespace check
