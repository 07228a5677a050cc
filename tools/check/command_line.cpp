// eventlog-check's command line (command_line.h).
#include "tools/check/command_line.h"

#include <utility>
#include <vector>

#include "core/watch_name.h"
#include "kit/helpers.h"
#include "monitor/settings.h"
#include "platform/system.h"
#include "tools/arguments.h"
#include "tools/check/paths.h"

namespace check {

const char kUsage[] =
    "usage: eventlog-check [options] [FOLDER]\n"
    "       eventlog-check --service [options]\n"
    "       eventlog-check --service --watch NAME [options] | --all-watches [--probe]\n"
    "       eventlog-check --list-logs\n"
    "       eventlog-check --help | --version\n"
    "\n"
    "Checks EventLog's settings the way EventLog reads them, without starting EventLog, and\n"
    "says what EventLog will do with them. FOLDER is the folder EventLog runs in, the one\n"
    "holding its EventLog.XML (default: the current folder).\n"
    "\n"
    "--service checks the Linux service (the Debian package) exactly as it will run, from any\n"
    "current folder: the settings /etc/eventlog/EventLog.XML; the environment of\n"
    "/etc/default/eventlog, its KEY=VALUE lines read as systemd's EnvironmentFile= reads them\n"
    "(comments, blank lines, optional quotes) and applied over the current environment; the\n"
    "program folder /var/lib/eventlog, the service's working folder, where exception reports,\n"
    "page records and the state land; and the carried state /var/lib/eventlog/LoggedAfter.state\n"
    "(or EVENTLOG_STATE_FILE). Run as root, it reads the environment file as systemd does and\n"
    "then becomes the service's user eventlog with its groups, so that it finds what the service\n"
    "can read and write; run as another user it checks what that user can do.\n"
    "\n"
    "--service --watch NAME checks the watch eventlog@NAME exactly as it will run: the settings\n"
    "/etc/eventlog/NAME.XML, the environment of /etc/default/eventlog and then of\n"
    "/etc/eventlog/NAME.env when it exists, with EVENTLOG_WATCH=NAME and the unit's liveness\n"
    "file, the working folder /var/lib/eventlog/watches/NAME (made by the watch's first start)\n"
    "and its carried state. --service --all-watches checks the plain service (when\n"
    "/etc/eventlog/EventLog.XML exists) and every watch /etc/eventlog/NAME.XML, one block each\n"
    "under a line \"== eventlog.service ==\" or \"== eventlog@NAME.service ==\", then the\n"
    "services that would write the same working folder, daily log files or liveness file\n"
    "(an error each), and ends with the worst exit code of them all.\n"
    "\n"
    "Options:\n"
    "  --service          check the installed service (above)\n"
    "  --watch NAME       with --service: check the watch eventlog@NAME instead\n"
    "  --all-watches      with --service: check the plain service and every watch\n"
    "  --settings FILE    the settings file (default FOLDER/EventLog.XML; with --service\n"
    "                     /etc/eventlog/EventLog.XML)\n"
    "  --environment FILE apply an environment file before checking (with --service\n"
    "                     /etc/default/eventlog)\n"
    "  --program-dir DIR  the folder of the EventLog executable, where its exception reports\n"
    "                     land (default: the folder that holds eventlog-check; with --service\n"
    "                     /var/lib/eventlog)\n"
    "  --state FILE       show a carried delivery state (with --service\n"
    "                     /var/lib/eventlog/LoggedAfter.state)\n"
    "  --user NAME        when run as root: check as this user and its groups (with --service\n"
    "                     the default is eventlog)\n"
    "  --probe            connect to the gateway within the page's connect time limit and close\n"
    "                     again, without sending a page; says whether it answered. With\n"
    "                     ALERTMANAGER_URL set, also asks each Alertmanager for GET\n"
    "                     /api/v2/status (200 expected)\n"
    "  --page             send one real test page through the gateway and print the request URL\n"
    "                     and the outcome: the page record (written to the current folder; with\n"
    "                     --service to the program folder), or the failure's class and message\n"
    "                     (its report is written in the program folder)\n"
    "  --list-logs        list the logs of this machine instead, each with its kind and whether\n"
    "                     this user may read it (Windows: the classic logs and the event\n"
    "                     channels; Linux: the journal and the .evt files in EVENTLOG_DIR)\n"
    "  --help, -h, /?     print this text and exit\n"
    "  --version          print the version and exit\n"
    "\n"
    "For each tag of the settings it prints the raw text between <Tag> and </Tag> (quoted,\n"
    "control characters shown as \\r \\n \\t \\xNN) and the value EventLog will use. Then come\n"
    "the findings, each on a line that begins with note:, warning: or error:.\n"
    "Errors, which EventLog's service refuses to start with:\n"
    "  - an EventID that is not one clean number from 0 to 65535 (decimal, or hexadecimal as\n"
    "    $1B7C or 0x1B7C, nothing around it): blanks, line ends, two IDs, a range or a word make\n"
    "    it 0 (any event), a number outside the range never matches\n"
    "  - a LoggedAfter that is not a date-time under the current regional settings (EventLog\n"
    "    stops on its error line)\n"
    "  - a log that does not exist and never will, or does not open (EventLog finds nothing)\n"
    "  - a tag EventLog does not read (<Source>), a tag in other letter case or with an\n"
    "    attribute that EventLog therefore does not find, a tag without its end tag\n"
    "  - blanks or line ends that make a Sleep 0 or keep an Action from paging\n"
    "  - a file saved as UTF-16 (EventLog finds no tag)\n"
    "  - a gateway or syslog host that can never work (a scheme such as http://, a path, blanks,\n"
    "    an empty host, a port that is no number or outside 1 to 65535), and an "
    "EVENTLOG_LOG_LEVEL\n"
    "    or EVENTLOG_LOG_KEEPDAYS that is not a whole number\n"
    "  - a gateway that does not answer --probe, and a test page (--page) that fails or that\n"
    "    the gateway does not accept\n"    "  - an ALERTMANAGER_URL entry that cannot work (https://, no http://, no host, a bad\n"
    "    port, a query), and an Alertmanager that does not answer --probe with 200\n"
    "Warnings: a tag inside an XML comment (EventLog still reads it), a tag given twice (EventLog\n"
    "reads the first), an Action other than page, a LoggedAfter in the future, a Sleep of 0 or\n"
    "less (one cycle), a newest match stamped in the future, a program folder that cannot take\n"
    "exception reports, unusable lines of journal.rules, a carried state that does not read.\n"
    "Notes: a setting left out (its default), a log not yet created in the log folder (its first\n"
    "event creates it), the built-in gateway, no carried state yet.\n"
    "Without EventLog.XML it says that EventLog will ask its three questions.\n"
    "\n"
    "Then the log: what LogFile resolves to (on Linux the file in EVENTLOG_DIR; on Windows a\n"
    "classic log's registry key and file, or an event channel's state and file, or neither,\n"
    "as the service silently opens Application for an unknown name), on Windows whether this\n"
    "user may read it, whether it opens, its record count, and its newest record and newest\n"
    "match as EventLog prints them. For LogFile Journal (Linux) it says which journal is read\n"
    "(the system journal, or the files in EVENTLOG_JOURNAL_DIR) and lists the rules of\n"
    "journal.rules in EVENTLOG_DIR with the newest entry each gives its event ID to. Then\n"
    "whether the program folder can take exception reports, the gateway URL, the newest\n"
    "exception report (EXCEPTION-*.XML) in the program folder and the newest page record\n"
    "(SendPage_*.xml) in FOLDER, each in one line. Its own times carry four-digit years; the\n"
    "lines of a record are printed as EventLog prints them.\n"
    "\n"
    "Without --service, run it as the user EventLog runs as and with its environment\n"
    "(EVENTLOG_DIR, PAGING_GATEWAY_HOST, TZ, LC_ALL, LC_TIME, LANG): it sees what EventLog would\n"
    "see.\n"
    "\n"
    "Exit codes:\n"
    "  0  sound (notes at most); also --help and --version\n"
    "  1  warnings\n"
    "  2  errors: EventLog would stop on its error line, watch the wrong thing, never find\n"
    "     anything or fail to page; also bad arguments (with this text on standard error)\n"
    "  3  the check itself could not run (no such folder or user, a refused switch of user)\n";

std::string ParseOptions(int argc, char** argv, Options& options) {
  const std::pair<const char*, std::optional<std::string> Options::*> valued[] = {
      {"--settings", &Options::Settings},
      {"--environment", &Options::Environment},
      {"--program-dir", &Options::ProgramDirectory},
      {"--state", &Options::State},
      {"--user", &Options::User},
      {"--watch", &Options::Watch}};
  const std::pair<const char*, bool Options::*> flags[] = {{"--service", &Options::Service},
                                                           {"--probe", &Options::Probe},
                                                           {"--page", &Options::Page},
                                                           {"--list-logs", &Options::ListLogs},
                                                           {"--help", &Options::Help},
                                                           {"--version", &Options::Version},
                                                           {"--all-watches", &Options::AllWatches}};
  std::vector<tools::OptionSpec> known;
  for (const auto& [name, member] : valued) known.push_back({name, true});
  for (const auto& [name, member] : flags) known.push_back({name, false});
  const std::vector<tools::Argument> arguments = tools::ReadArguments(argc, argv, known);
  // Help is answered wherever it stands, even beside a wrong argument.
  for (const tools::Argument& argument : arguments)
    if (argument.Kind == tools::ArgumentKind::Option && argument.Name == "--help") {
      options.Help = true;
      return {};
    }
  for (const tools::Argument& argument : arguments) {
    if (argument.Kind == tools::ArgumentKind::MissingValue) return argument.Name + " needs a value";
    if (argument.Kind == tools::ArgumentKind::Option) {
      for (const auto& [name, member] : flags)
        if (argument.Name == name) options.*member = true;
      for (const auto& [name, member] : valued)
        if (argument.Name == name) options.*member = argument.Value;
      continue;
    }
    const std::string& operand = argument.Value;
    if (operand.size() > 1 && operand[0] == '-') return "unknown option " + operand;
    if (options.Folder) return "one folder only, not also " + operand;
    options.Folder = operand;
  }
  if ((options.Watch || options.AllWatches) && !options.Service)
    return std::string(options.Watch ? "--watch" : "--all-watches") +
           " checks the installed service's watches: give --service too";
  if (options.Watch && options.AllWatches) return "--watch NAME or --all-watches, not both";
  if (options.AllWatches && (options.Settings || options.Environment || options.ProgramDirectory ||
                             options.State || options.Page))
    return "--all-watches checks each service with its own files; give no --settings, "
           "--environment, --program-dir, --state or --page";
  if (options.Watch)
    if (const std::string problem = core::WatchNameProblem(*options.Watch); !problem.empty())
      return "--watch: " + problem;
  if (options.Service && options.Folder)
    return "--service checks the service's own folder " + std::string(kServiceDirectory) +
           "; give no FOLDER (--program-dir DIR names another)";
  return {};
}

Target TargetOf(const Options& options) {
  Target target;
  target.Service = options.Service;
  target.Probe = options.Probe;
  target.Page = options.Page;
  target.User = options.User;
  if (options.Service) {
    target.ProgramDirectory = Absolute(options.ProgramDirectory.value_or(kServiceDirectory));
    target.Folder = target.ProgramDirectory;
    target.SettingsFile = Absolute(options.Settings.value_or(kServiceSettings));
    target.EnvironmentFile = Absolute(options.Environment.value_or(kServiceEnvironment));
    if (options.State) target.StateFile = Absolute(*options.State);
    if (!options.User) target.User = kServiceUser;
    if (options.Watch) {
      const std::string& name = *options.Watch;
      target.Watch = name;
      target.ProgramDirectory =
          Absolute(options.ProgramDirectory.value_or(JoinPath(kServiceWatchesFolder, name)));
      target.Folder = target.ProgramDirectory;
      target.SettingsFile =
          Absolute(options.Settings.value_or(JoinPath(kServiceSettingsFolder, name + ".XML")));
      target.WatchEnvironmentFile = JoinPath(kServiceSettingsFolder, name + ".env");
    }
  } else {
    target.Folder = options.Folder.value_or(".");
    target.ProgramDirectory = options.ProgramDirectory.value_or(GetAppPath());
    target.SettingsFile = options.Settings.value_or(JoinPath(target.Folder, kSettingsFileName));
    target.EnvironmentFile = options.Environment;
    target.StateFile = options.State;
  }
  return target;
}

std::string BecomeUser(const Target& target) {
  if (!target.User || !platform::CanSwitchUser()) return {};
  if (*target.User == platform::CurrentUserName()) return {};
  std::string error;
  if (platform::SwitchToUser(*target.User, error)) return {};
  return "cannot check as the user " + *target.User + ": " + error +
         (target.Service ? " (is the package installed? --user NAME checks as another user)" : "");
}

}  // namespace check
