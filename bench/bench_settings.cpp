// Times the settings check over large settings files: 100 KiB and 800 KiB of comments, tags in
// other letter case and tags EventLog does not read around the five settings.
#include <cstdio>
#include <string>

#include "monitor/settings_lint.h"
#include "platform/locale.h"
#include "timing.h"

namespace {

constexpr int kRepetitions = 5;

std::string SettingsOfSize(std::size_t bytes) {
  std::string content =
      "<?xml version=\"1.0\"?>\n<EventLog>\n  <LogFile>System</LogFile>\n"
      "  <EventID>7036</EventID>\n  <Action>page</Action>\n  <Sleep>60</Sleep>\n";
  const std::string line = "  <!-- a note --> <Note>text</Note> <eventid>1</eventid>\n";
  const std::string end = "</EventLog>\n";
  while (content.size() + line.size() + end.size() <= bytes) content += line;
  return content + end;
}

}  // namespace

int main() {
  LoadRegionalSettings();
  for (std::size_t kib : {100, 800, 6400}) {
    const std::string content = SettingsOfSize(kib * 1024);
    std::size_t findings = 0;
    const double seconds = bench::MedianSeconds(
        kRepetitions, [&] { findings = LintSettingsContent(content).Findings.size(); });
    std::printf("settings check, %4zu KiB settings file   %8.3f ms  (%zu findings)\n", kib,
                seconds * 1000, findings);
  }
}
