// The parts of eventlog-check (tools/check/) on their own, without running the program: its
// command line and the target it names, the carried state's lines and findings, the environment
// file's findings, and the texts it reads back from saved reports.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "core/environment_file.h"
#include "monitor/delivery_state.h"
#include "monitor/settings.h"
#include "tests/support/process.h"
#include "tools/check/command_line.h"
#include "tools/check/environment_check.h"
#include "tools/check/findings.h"
#include "tools/check/reports.h"
#include "tools/check/state_check.h"
#include "tools/check/watches.h"

namespace {

// What a part printed, and the findings it counted.
struct Printed {
  std::string Output;
  int Warnings = 0;
  int Errors = 0;
};

template <class Part>
Printed RunPart(Part part) {
  check::Findings findings;
  ::testing::internal::CaptureStdout();
  part(findings);
  Printed printed;
  printed.Output = ::testing::internal::GetCapturedStdout();
  printed.Warnings = findings.Warnings;
  printed.Errors = findings.Errors;
  return printed;
}

// Points into the arguments, which must outlive it.
std::vector<const char*> Argv(const std::vector<std::string>& arguments) {
  std::vector<const char*> argv = {"eventlog-check"};
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  return argv;
}

TEST(EventLogCheckParts, CommandLineNamesTheTargetOrSaysWhatIsWrong) {
  struct Case {
    std::vector<std::string> arguments;
    std::string error;         // empty: good arguments
    std::string folder;        // of the target
    std::string settingsFile;  // of the target
    bool help = false;
  };
  const Case cases[] = {
      {{}, "", ".", "./EventLog.XML"},
      {{"run"}, "", "run", "run/EventLog.XML"},
      {{"run/"}, "", "run/", "run/EventLog.XML"},
      {{"--settings", "other.xml", "run"}, "", "run", "other.xml"},
      {{"--settings=other.xml"}, "", ".", "other.xml"},
      {{"/?"}, "", ".", "./EventLog.XML", true},
      {{"-h"}, "", ".", "./EventLog.XML", true},
      // Help is answered wherever it stands, even beside a wrong argument.
      {{"--bogus", "a", "b", "-?"}, "", ".", "./EventLog.XML", true},
      {{"--settings"}, "--settings needs a value", "", ""},
      {{"--user"}, "--user needs a value", "", ""},
      {{"--bogus"}, "unknown option --bogus", "", ""},
      {{"--page=yes"}, "unknown option --page=yes", "", ""},
      {{"a", "b"}, "one folder only, not also b", "", ""},
      {{"--service", "run"},
       "--service checks the service's own folder /var/lib/eventlog; give no FOLDER "
       "(--program-dir DIR names another)",
       "",
       ""},
      // "-" alone is a folder's name, not an option.
      {{"-"}, "", "-", "-/EventLog.XML"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.arguments));
    std::vector<const char*> argv = Argv(c.arguments);
    check::Options options;
    EXPECT_EQ(check::ParseOptions(int(argv.size()), const_cast<char**>(argv.data()), options),
              c.error);
    if (!c.error.empty()) continue;
    EXPECT_EQ(options.Help, c.help);
    const check::Target target = check::TargetOf(options);
    EXPECT_EQ(target.Folder, c.folder);
    EXPECT_EQ(target.SettingsFile, c.settingsFile);
    EXPECT_FALSE(target.Service);
  }
}

TEST(EventLogCheckParts, ServiceTargetIsTheInstalledServiceWithAbsolutePaths) {
  const std::vector<std::string> arguments = {"--service", "--state", "/tmp/../tmp/x.state"};
  std::vector<const char*> argv = Argv(arguments);
  check::Options options;
  ASSERT_EQ(check::ParseOptions(int(argv.size()), const_cast<char**>(argv.data()), options), "");
  const check::Target target = check::TargetOf(options);
  EXPECT_TRUE(target.Service);
  EXPECT_EQ(target.Folder, "/var/lib/eventlog");
  EXPECT_EQ(target.ProgramDirectory, "/var/lib/eventlog");
  EXPECT_EQ(target.SettingsFile, "/etc/eventlog/EventLog.XML");
  EXPECT_EQ(target.EnvironmentFile, "/etc/default/eventlog");
  EXPECT_EQ(target.StateFile, "/tmp/x.state");
  EXPECT_EQ(target.User, "eventlog");
}

// --watch NAME names the watch's files; --watch and --all-watches go with --service only.
TEST(EventLogCheckParts, WatchTargetsAreTheWatchsFiles) {
  struct Case {
    std::vector<std::string> arguments;
    std::string error;
    std::string folder = "", settingsFile = "", watchEnvironment = "";
  };
  const Case cases[] = {
      {{"--service", "--watch", "disk"},
       "",
       "/var/lib/eventlog/watches/disk",
       "/etc/eventlog/disk.XML",
       "/etc/eventlog/disk.env"},
      {{"--service", "--watch", "disk", "--settings", "/tmp/d.XML"},
       "",
       "/var/lib/eventlog/watches/disk",
       "/tmp/d.XML",
       "/etc/eventlog/disk.env"},
      {{"--watch", "disk"}, "--watch checks the installed service's watches: give --service too"},
      {{"--all-watches"},
       "--all-watches checks the installed service's watches: give --service too"},
      {{"--service", "--all-watches", "--watch", "a"}, "--watch NAME or --all-watches, not both"},
      {{"--service", "--all-watches", "--state", "x"},
       "--all-watches checks each service with its own files; give no --settings, "
       "--environment, --program-dir, --state or --page"},
      {{"--service", "--watch", "eventlog"},
       "--watch: the watch name 'eventlog' is taken by the plain service's settings file "
       "EventLog.XML: a watch name is 1 to 64 letters (A-Z, a-z), digits, '-' or '_', and not "
       "EventLog"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.arguments));
    std::vector<const char*> argv = Argv(c.arguments);
    check::Options options;
    EXPECT_EQ(check::ParseOptions(int(argv.size()), const_cast<char**>(argv.data()), options),
              c.error);
    if (!c.error.empty()) continue;
    const check::Target target = check::TargetOf(options);
    EXPECT_EQ(target.Folder, c.folder);
    EXPECT_EQ(target.ProgramDirectory, c.folder);
    EXPECT_EQ(target.SettingsFile, c.settingsFile);
    EXPECT_EQ(target.EnvironmentFile, "/etc/default/eventlog");
    EXPECT_EQ(target.WatchEnvironmentFile, c.watchEnvironment);
  }
}

// Each service's files come from its unit and its environment files, the later line winning;
// every file two services would both write is an error that names both units.
TEST(EventLogCheckParts, ServicesThatWouldShareAFileAreNamed) {
  TemporaryDirectory root;
  WriteFileBytes(root.File("shared"), "EVENTLOG_LOG_FILE=/var/lib/eventlog/eventlog\n");
  WriteFileBytes(root.File("b.env"), "EVENTLOG_METRICS_FILE=/m/eventlog-a.prom\n");
  WriteFileBytes(root.File("c.env"),
                 "EVENTLOG_METRICS_FILE=\nEVENTLOG_LOG_FILE=/var/lib/eventlog/eventlog\n");
  WriteFileBytes(root.File("d.env"), "EVENTLOG_METRICS_FILE=\"/m/eventlog-a.prom\"\n");
  const check::ServiceFiles plain = check::FilesOf(std::nullopt, {root.File("shared")});
  EXPECT_EQ(plain.Unit, "eventlog.service");
  EXPECT_EQ(plain.Folder, "/var/lib/eventlog");
  EXPECT_EQ(plain.LogFile, "/var/lib/eventlog/eventlog");
  EXPECT_EQ(plain.MetricsFile, "/var/lib/prometheus/node-exporter/eventlog.prom");
  const check::ServiceFiles a = check::FilesOf(std::string("a"), {root.File("shared")});
  EXPECT_EQ(a.Unit, "eventlog@a.service");
  EXPECT_EQ(a.LogFile, "/var/lib/eventlog/watches/a/eventlog");
  EXPECT_EQ(a.MetricsFile, "/var/lib/prometheus/node-exporter/eventlog-a.prom");
  const check::ServiceFiles c =
      check::FilesOf(std::string("c"), {root.File("shared"), root.File("c.env")});
  EXPECT_EQ(c.MetricsFile, "");
  EXPECT_EQ(c.LogFile, "/var/lib/eventlog/watches/c/eventlog");
  std::vector<check::ServiceFiles> services = {
      plain, a, c, check::FilesOf(std::string("b"), {root.File("shared"), root.File("b.env")}),
      check::FilesOf(std::string("d"), {root.File("d.env"), root.File("missing.env")})};
  services[4].MetricsFile = "/m/./eventlog-a.prom";
  EXPECT_EQ(check::SharedFiles(services),
            (std::vector<std::string>{
                "eventlog@b.service and eventlog@d.service would both write the liveness file "
                "/m/eventlog-a.prom: set EVENTLOG_METRICS_FILE apart in /etc/eventlog/NAME.env, "
                "or leave it to the units"}));
  services[2].LogFile = "/srv/x/eventlog";
  services[3].LogFile = "/srv/x//eventlog";
  services[1].Folder = services[0].Folder;
  EXPECT_EQ(check::SharedFiles(services),
            (std::vector<std::string>{
                "eventlog.service and eventlog@a.service would both write the working folder "
                "/var/lib/eventlog: give each watch a name of its own",
                "eventlog@c.service and eventlog@b.service would both write the daily log files "
                "/srv/x/eventlog: set EVENTLOG_LOG_FILE apart in /etc/eventlog/NAME.env",
                "eventlog@b.service and eventlog@d.service would both write the liveness file "
                "/m/eventlog-a.prom: set EVENTLOG_METRICS_FILE apart in /etc/eventlog/NAME.env, "
                "or leave it to the units"}));
}

TEST(EventLogCheckParts, CarriedStateGivesTheNextStartsLoggedAfter) {
  const TDateTime configured = *ParseDeliveryStateTime("2017-10-09 16:00:00.000");
  const TDateTime carried = *ParseDeliveryStateTime("2017-10-09 16:24:00.000");
  const TDateTime earlier = *ParseDeliveryStateTime("2017-10-01 08:00:00.000");
  struct Case {
    std::string name;
    std::optional<std::string> content;  // nothing: no file
    std::vector<std::string> lines;      // after the heading
    TDateTime effective;
    int warnings;
  };
  const Case cases[] = {
      {"none",
       std::nullopt,
       {"  none yet",
        "note: {path} does not exist yet: the next start goes by the settings' LoggedAfter "
        "alone"},
       configured,
       0},
      {"later",
       "2017-10-09 16:24:00.000\n",
       {"  LoggedAfter " + FullYearDateTimeText(carried) +
            " (carried from the last finished report)",
        "  the next start reports events generated after " + FullYearDateTimeText(carried)},
       carried,
       0},
      {"earlier",
       "2017-10-01 08:00:00.000\npending 2017-10-09 16:24:00.000\n",
       {"  LoggedAfter " + FullYearDateTimeText(earlier) +
            " (carried from the last finished report)",
        "  pending: the record of " + FullYearDateTimeText(carried) +
            " was reported, but its page attempt had not ended: the next start reports it again",
        "  the next start reports events generated after " + FullYearDateTimeText(configured)},
       configured,
       0},
      {"garbage",
       "yesterday\n",
       {"warning: {path} holds no state EventLog wrote: the service leaves it out and may report "
        "the last event again; delete it to start afresh"},
       configured,
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TemporaryDirectory directory;
    const std::string path = directory.File("LoggedAfter.state");
    if (c.content) WriteFileBytes(path, *c.content);
    TDateTime effective = 0;
    const Printed printed = RunPart([&](check::Findings& findings) {
      effective = check::CheckState(path, configured, findings);
    });
    std::string expected = "The carried state " + path + ":\n";
    for (std::string line : c.lines) {
      if (const auto at = line.find("{path}"); at != std::string::npos) line.replace(at, 6, path);
      expected += line + "\n";
    }
    EXPECT_EQ(printed.Output, expected);
    EXPECT_EQ(effective, c.effective);
    EXPECT_EQ(printed.Warnings, c.warnings);
    EXPECT_EQ(printed.Errors, 0);
  }
}

TEST(EventLogCheckParts, EnvironmentFileFindingsComeBeforeTheEnvironment) {
  struct Case {
    std::string name;
    check::AppliedEnvironment applied;
    std::string expected;  // what is printed before "The environment EventLog gets:"
    int warnings;
    int errors;
  };
  check::AppliedEnvironment parsed{"/etc/default/eventlog", true, std::nullopt,
                                   core::ParseEnvironmentFile("EVENTLOG_LOG_LEVL=5\n"
                                                              "PAGING_GATEWAY_HOST=gw:8080\n"
                                                              "OTHER=1\n"
                                                              "no assignment\n")};
  const Case cases[] = {
      {"missing",
       {"/etc/default/eventlog", false, std::nullopt, {}},
       "The environment file /etc/default/eventlog:\n"
       "  none: the service runs with the environment systemd gives it\n"
       "note: /etc/default/eventlog does not exist: EventLog runs with its built-in defaults "
       "(the gateway, the log folder /var/log/eventlog)\n",
       0,
       0},
      {"unreadable",
       {"/etc/default/eventlog", true, std::string("Permission denied"), {}},
       "The environment file /etc/default/eventlog:\n"
       "error: /etc/default/eventlog cannot be read (Permission denied): the check runs "
       "without it\n",
       0,
       1},
      {"read", parsed,
       "The environment file /etc/default/eventlog:\n"
       "  3 assignments, applied over the current environment for this check\n"
       "warning: /etc/default/eventlog line 4 is no assignment (" +
           (parsed.Content.Problems.empty() ? std::string() : parsed.Content.Problems[0].Problem) +
           "), so systemd skips it: no assignment\n"
           "warning: /etc/default/eventlog line 1: EVENTLOG_LOG_LEVL is no variable EventLog or "
           "its service reads: check its spelling\n",
       2, 0},
  };
  ASSERT_EQ(parsed.Content.Problems.size(), 1u);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Printed printed =
        RunPart([&](check::Findings& findings) { check::CheckEnvironment(c.applied, findings); });
    const std::size_t own = printed.Output.find("The environment EventLog gets:\n");
    ASSERT_NE(own, std::string::npos) << printed.Output;
    EXPECT_EQ(printed.Output.substr(0, own), c.expected);
    // The environment's own findings come on top; the file's are at least these.
    EXPECT_GE(printed.Warnings, c.warnings);
    EXPECT_GE(printed.Errors, c.errors);
  }
}

TEST(EventLogCheckParts, ReportTextsAreDecodedAndFitOnOneLine) {
  struct Case {
    std::string document;
    std::string element;
    std::string text;
  };
  const Case cases[] = {
      {"<r><ClassName>ESocketError</ClassName></r>", "ClassName", "ESocketError"},
      {"<r><e.Message>a &lt;b&gt; &amp;amp; &quot;c&quot; &apos;d&apos;</e.Message></r>",
       "e.Message", "a <b> &amp; \"c\" 'd'"},
      {"<r><e.Message>one\r\ntwo&#13;\nthree&#xD;four\nfive</e.Message></r>", "e.Message",
       "one two three four five"},
      {"<r><URL>  </URL></r>", "URL", "  "},
      {"<r><a>first</a><a>second</a></r>", "a", "first"},
      {"<r><PagerNo>1</PagerNo></r>", "URL", ""},
      // A report that breaks off keeps what stands before the break.
      {"<r><DateTime>12/10/2026</DateTime><e.Mess", "DateTime", "12/10/2026"},
      {"Error: cannot open (EFOpenError)", "DateTime", ""},
      // A control character is shown, not printed.
      {"<r><a>x\ty</a></r>", "a", "x\\ty"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.document);
    EXPECT_EQ(check::ElementText(c.document, c.element), c.text);
  }
}

}  // namespace
