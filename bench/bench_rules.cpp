// Times loading 100,000 journal rules as EventLog loads them (reading journal.rules, checking
// each line and parsing its message pattern, then the matcher over them), the same with every
// pattern compiled as eventlog-check does, and one entry tried against all of them (the first
// search compiles the patterns whose conditions hold); prints seconds and rules/s (the aim: the
// load under a second).
#include <cstdio>
#include <string>

#include "platform/journal.h"
#include "tests/support/process.h"
#include "timing.h"

namespace {

constexpr int kRepetitions = 3;
constexpr std::size_t kRules = 100000;

// Rules of the kinds a journal.rules holds: sources, field conditions, anchored and open
// patterns, classes and repetitions; no two alike.
std::string GeneratedRules() {
  std::string text = "# generated rules\n";
  for (std::size_t i = 0; i < kRules; ++i) {
    const std::string n = std::to_string(i);
    const std::string id = std::to_string(1 + i % 65535);
    switch (i % 5) {
      case 0:
        text += id + " kernel Out of memory: Killed process " + n + "\n";
        break;
      case 1:
        text += id + " sshd* ^Failed password for .* port " + n + "$\n";
        break;
      case 2:
        text += id + " _TRANSPORT=kernel,_UID=0 segfault at [0-9a-f]+ ip " + n + "\n";
        break;
      case 3:
        text += id + " nginx upstream (timed out|refused) " + n + "\n";
        break;
      default:
        text += id + " * error [A-Z]{2,8}-" + n + "\n";
        break;
    }
  }
  return text;
}

}  // namespace

int main() {
  TemporaryDirectory directory;
  SetTestEnvironment("EVENTLOG_DIR", directory.Path());
  const std::string rules = GeneratedRules();
  WriteFileBytes(directory.File("journal.rules"), rules);
  std::size_t usable = 0;
  const double load = bench::MedianSeconds(kRepetitions, [&] {
    const platform::JournalRulesFile file = platform::ReadJournalRules();
    const platform::JournalMatcher matcher(file.Rules);
    usable = 0;
    for (const auto& rule : file.Rules) usable += rule.Problem.empty();
  });
  const double compiled = bench::MedianSeconds(kRepetitions, [&] {
    const platform::JournalRulesFile file = platform::ReadJournalRules(true);
  });
  const platform::JournalRulesFile file = platform::ReadJournalRules();
  const platform::JournalMatcher matcher(file.Rules);
  platform::JournalFields entry;
  entry.Source = "kernel";
  entry.Message = "EXT4-fs (sda1): mounted filesystem with ordered data mode";
  int match = 0;
  const double first = bench::MedianSeconds(1, [&] { match = matcher.FirstMatch(entry); });
  const double search =
      bench::MedianSeconds(kRepetitions, [&] { match = matcher.FirstMatch(entry); });
  std::printf("journal.rules of %zu rules (%.1f MB), %zu usable\n", kRules,
              double(rules.size()) / 1e6, usable);
  std::printf("  load (read, check, parse): %.3f s, %.0f rules/s\n", load, double(kRules) / load);
  std::printf("  load with every pattern compiled: %.3f s, %.0f rules/s\n", compiled,
              double(kRules) / compiled);
  std::printf("  first entry against every rule (compiling): %.3f s\n", first);
  std::printf("  one entry against every rule: %.3f s (first match %d)\n", search, match);
  ClearTestEnvironment("EVENTLOG_DIR");
  return 0;
}
