// The start step's settings check (CheckSettingsBeforeStart) over a real settings file, real log
// folders and this process's environment.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "monitor/settings_lint.h"
#include "tests/support/process.h"

inline void PrintTo(const tFinding& finding, std::ostream* out) {
  *out << SeverityWord(finding.Severity) << ": " << finding.Text;
}

namespace {

constexpr tSeverity N = tSeverity::Note;
constexpr tSeverity E = tSeverity::Error;

constexpr char kSound[] =
    "<?xml version=\"1.0\"?>\n<EventLog>\n  <LogFile>System</LogFile>\n"
    "  <EventID>7036</EventID>\n  <Action>page</Action>\n"
    "  <LoggedAfter>10/9/2017 4:00:00 PM</LoggedAfter>\n  <Sleep>60</Sleep>\n</EventLog>\n";

const std::string kRange =
    ": EventLog compares it with the low 16 bits of each record's event ID (0 to 65535), so it "
    "never matches; the low 16 bits of ";

std::string With(const std::string& from, const std::string& to) {
  std::string xml = kSound;
  xml.replace(xml.find(from), from.size(), to);
  return xml;
}

// The start step's check over a real settings file and log folder, with this process's
// environment.
TEST(SettingsLint, CheckBeforeStartRatesWhatStopsTheStart) {
  namespace fs = std::filesystem;
  const std::optional<std::string> savedDirectory = ProcessEnvironment("EVENTLOG_DIR");
  const std::optional<std::string> savedGateway = ProcessEnvironment("PAGING_GATEWAY_HOST");
  TemporaryDirectory directory;
  fs::create_directory(directory.File("logs"));
  SetTestEnvironment("EVENTLOG_DIR", directory.File("logs"));
  ClearTestEnvironment("PAGING_GATEWAY_HOST");
  const std::string path = directory.File("EventLog.XML");
  const std::string missingLog =
      "the log \"System\" does not exist yet: its first event creates it there (eventcreate "
      "--log System ...); until then EventLog finds nothing";
  struct Case {
    const char* name;
    std::string content;  // empty: no file
    std::map<std::string, std::string> environment;
    std::vector<tFinding> findings;
  } cases[] = {
      {"no settings file",
       "",
       {},
       {{E, path + " does not exist (or its last-write time lies outside the years 1980 to 2107): "
                   "without it EventLog asks its three questions on a console that a service does "
                   "not have"}}},
      {"sound, the log not yet written", kSound, {}, {{N, missingLog}}},
      {"an event ID out of range",
       With(">7036<", ">70000<"),
       {},
       {{E, path + ": EventID 70000 is above 65535" + kRange + "\"70000\" are 4464"},
        {N, missingLog}}},
      {"a gateway with a scheme",
       kSound,
       {{"PAGING_GATEWAY_HOST", "http://pager"}},
       {{E,
         "PAGING_GATEWAY_HOST=\"http://pager\" holds a scheme (http://), which EventLog adds "
         "itself: it can never be reached; write host or host:port, as in "
         "PAGING_GATEWAY_HOST=pager.example.com:8080"},
        {N, missingLog}}},
      {"a log folder that is not there",
       kSound,
       {{"EVENTLOG_DIR", directory.File("nowhere")}},
       {{E,
         "the log \"System\" does not exist: EventLog finds nothing in it, cycle after "
         "cycle"}}},
      {"a log that is no event log",
       kSound,
       {{"EVENTLOG_DIR", directory.File("broken")}},
       {{E,
         "the log \"System\" does not open (not an event log, or no right to read it for this "
         "user): EventLog finds nothing in it"}}},
  };
  fs::create_directory(directory.File("broken"));
  WriteFileBytes(directory.File("broken/System.evt"), "not an event log");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(path);
    if (!c.content.empty()) WriteFileBytes(path, c.content);
    for (const auto& [name, value] : c.environment) SetTestEnvironment(name, value);
    EXPECT_EQ(CheckSettingsBeforeStart(path), c.findings);
    SetTestEnvironment("EVENTLOG_DIR", directory.File("logs"));
    ClearTestEnvironment("PAGING_GATEWAY_HOST");
  }
  for (const auto& [name, saved] : {std::pair{"EVENTLOG_DIR", savedDirectory},
                                    std::pair{"PAGING_GATEWAY_HOST", savedGateway}}) {
    if (saved)
      SetTestEnvironment(name, *saved);
    else
      ClearTestEnvironment(name);
  }
}

}  // namespace
