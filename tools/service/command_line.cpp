// eventlog-service's command line (command_line.h).
#include "tools/service/command_line.h"

#include <filesystem>
#include <string>

#include "core/watch_name.h"
#include "tools/arguments.h"
#include "tools/service/journal_lines.h"

namespace fs = std::filesystem;

namespace service {

const char* const kUsage =
    "usage: eventlog-service prepare|run|finish [--dir DIR] [--settings FILE] [--program FILE]\n"
    "       eventlog-service prepare|run|finish --watch NAME [--dir DIR] [--settings FILE] ...\n"
    "       eventlog-service --help | --version\n"
    "\n"
    "The start and stop steps of the EventLog service, run in this order:\n"
    "  prepare  checks the settings (FILE, default /etc/eventlog/EventLog.XML) and stops the "
    "start\n"
    "           on an error; copies them to DIR/EventLog.XML with LoggedAfter carried forward\n"
    "           from DIR/LoggedAfter.state, and the program (default the EventLog beside this\n"
    "           tool) to DIR/EventLog; either is written only when it differs\n"
    "  run      runs DIR/EventLog in DIR (default /var/lib/eventlog) with standard input from\n"
    "           /dev/null and its delivery state in DIR/LoggedAfter.state; writes its lines, its\n"
    "           errors and the outcome of every page to standard output and error (with journal\n"
    "           priorities when they are the journal), passes SIGTERM and SIGINT on and ends the\n"
    "           way EventLog ended\n"
    "  finish   flushes LoggedAfter.state to the disk and removes what a kill left behind\n"
    "\n"
    "EventLog saves the state before each report and again once its page has ended. prepare uses\n"
    "its LoggedAfter when it is later than the settings' own; a report whose page had not ended "
    "is\n"
    "reported and paged again, with a warning. Delete DIR/LoggedAfter.state to start afresh.\n"
    "\n"
    "Environment: EVENTLOG_LOG_LEVEL (at least 5 under the service), EVENTLOG_LOG_IDENT (default\n"
    "eventlog), EVENTLOG_LOG_FILE, EVENTLOG_LOG_KEEPDAYS and EVENTLOG_SYSLOG_HOST (the page\n"
    "outcomes are also relayed there) reach EventLog's log writer.\n"
    "\n"
    "--watch NAME runs one of several watches (the unit eventlog@NAME): its settings are\n"
    "/etc/eventlog/NAME.XML and DIR is /var/lib/eventlog/watches/NAME (prepare makes it), unless\n"
    "--settings or --dir name others. NAME is 1 to 64 letters, digits, '-' or '_', and not\n"
    "EventLog. run gives EventLog EVENTLOG_WATCH=NAME, EVENTLOG_LOG_IDENT eventlog-NAME when it\n"
    "is unset, and moves daily log files set in /var/lib/eventlog into DIR.\n"
    "\n"
    "Exit codes (run ends as EventLog ended: with its exit code, or by its signal):\n"
    "  0  prepare or finish did its work; also --help and --version\n"
    "  1  prepare or finish failed, an error in the settings among them, or NAME is no watch\n"
    "     name (the reason on standard error)\n"
    "  2  bad arguments (with this text on standard error)\n";

namespace {

// The files of a watch: its settings /etc/eventlog/NAME.XML and its working folder
// /var/lib/eventlog/watches/NAME, beside the plain service's.
constexpr const char* kSettingsFolder = "/etc/eventlog";
constexpr const char* kWatchesFolder = "/var/lib/eventlog/watches";

// Checks options.Watch, which --watch gave (a StepFailure that names the rule when it is no
// watch name, the empty one among them), and makes the settings and the working folder the
// watch's where no --settings or --dir named them.
void ApplyWatch(Options& options, bool settingsGiven, bool directoryGiven) {
  if (const std::string problem = core::WatchNameProblem(options.Watch); !problem.empty())
    throw StepFailure{problem + ". Name the watch's settings file NAME.XML after such a name"};
  if (!settingsGiven)
    options.Settings = (fs::path(kSettingsFolder) / (options.Watch + ".XML")).string();
  if (!directoryGiven) options.Directory = (fs::path(kWatchesFolder) / options.Watch).string();
}

}  // namespace

Parsed ParseArguments(int argc, char** argv, Options& options) {
  // --help and --version count wherever they stand, even where an option's value would be.
  static constexpr tools::OptionSpec kInformation[] = {{"--help"}, {"--version"}};
  for (const tools::Argument& argument : tools::ReadArguments(argc, argv, kInformation)) {
    if (argument.Kind != tools::ArgumentKind::Option) continue;
    return argument.Name == "--version" ? Parsed::Version : Parsed::Help;
  }
  options.Program = ProgramBesideThisTool();
  static constexpr tools::OptionSpec kOptions[] = {
      {"--dir", true}, {"--settings", true}, {"--program", true}, {"--watch", true}};
  bool settingsGiven = false, directoryGiven = false, watchGiven = false;
  for (const tools::Argument& argument : tools::ReadArguments(argc, argv, kOptions)) {
    if (argument.Kind == tools::ArgumentKind::MissingValue) {
      Say(Priority::Err, argument.Name + " needs a value");
      return Parsed::Wrong;
    }
    if (argument.Kind == tools::ArgumentKind::Option) {
      std::string* value = argument.Name == "--dir"        ? &options.Directory
                           : argument.Name == "--settings" ? &options.Settings
                           : argument.Name == "--watch"    ? &options.Watch
                                                           : &options.Program;
      *value = argument.Value;
      settingsGiven = settingsGiven || argument.Name == "--settings";
      directoryGiven = directoryGiven || argument.Name == "--dir";
      watchGiven = watchGiven || argument.Name == "--watch";
    } else if (options.Command.empty() && (argument.Value == "prepare" || argument.Value == "run" ||
                                           argument.Value == "finish")) {
      options.Command = argument.Value;
    } else {
      Say(Priority::Err, "unknown argument '" + argument.Value + "'");
      return Parsed::Wrong;
    }
  }
  if (options.Command.empty()) {
    Say(Priority::Err, "name the step: prepare, run or finish");
    return Parsed::Wrong;
  }
  if (watchGiven) {
    try {
      ApplyWatch(options, settingsGiven, directoryGiven);
    } catch (const StepFailure& failure) {
      Say(Priority::Err, failure.Message);
      return Parsed::Refused;
    }
  }
  // EventLog runs inside the directory, so every name must hold from there too.
  for (std::string* path : {&options.Directory, &options.Settings, &options.Program})
    *path = fs::absolute(*path).lexically_normal().string();
  return Parsed::Run;
}

}  // namespace service
