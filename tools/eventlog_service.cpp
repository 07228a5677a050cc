// eventlog-service: the start and stop steps of EventLog as a service. "prepare" writes the
// working copies of the settings and the program into the working directory, "run" runs EventLog
// there with its console lines passed on without CR, "finish" makes the saved state durable.
// Between them they carry LoggedAfter forward, so that a restart neither repeats the last report
// nor misses what was logged while EventLog was down.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/datetime.h"
#include "core/errors.h"
#include "core/regional.h"
#include "monitor/delivery_state.h"
#include "monitor/settings.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/locale.h"
#include "platform/supervision.h"
#include "platform/system.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kUsage =
    "usage: eventlog-service prepare|run|finish [--dir DIR] [--settings FILE] [--program FILE]\n"
    "\n"
    "The start and stop steps of the EventLog service, run in this order:\n"
    "  prepare  copies the settings (FILE, default /etc/eventlog/EventLog.XML) to "
    "DIR/EventLog.XML\n"
    "           with LoggedAfter carried forward from DIR/LoggedAfter.state, and the program\n"
    "           (default the EventLog beside this tool) to DIR/EventLog when it differs\n"
    "  run      runs DIR/EventLog in DIR (default /var/lib/eventlog) with standard input from\n"
    "           /dev/null, writes its lines without CR, saves LoggedAfter.state after every\n"
    "           report, passes SIGTERM and SIGINT on and ends the way EventLog ended\n"
    "  finish   flushes LoggedAfter.state to the disk and removes what a kill left behind\n"
    "\n"
    "After a report the state holds the earlier of the report's time and the reported record's\n"
    "time; prepare uses it as LoggedAfter when it is later than the settings' own. Delete\n"
    "DIR/LoggedAfter.state to start afresh.\n";

constexpr const char* kStateFileName = "LoggedAfter.state";
constexpr std::string_view kEventIdPrefix = "MyEventLogRecord.EventLogRecord.EventID=";
constexpr std::string_view kGeneratedPrefix = "MyEventLogRecord.TimeGeneratedAsDateTime=";

struct Options {
  std::string Command;
  std::string Directory = "/var/lib/eventlog";
  std::string Settings = "/etc/eventlog/EventLog.XML";
  std::string Program;
};

struct Paths {
  std::string WorkingSettings;
  std::string WorkingProgram;
  std::string State;
};

Paths PathsIn(const std::string& directory) {
  return {directory + "/EventLog.XML", directory + "/EventLog", directory + "/" + kStateFileName};
}

void Say(const std::string& text) { ErrorWrite("eventlog-service: " + text + "\n"); }

// A failure of a step that the operator must mend; the message names the file and the fix.
struct StepFailure {
  std::string Message;
};

std::string ProgramBesideThisTool() {
  const std::string own = platform::ExecutablePath();
  const std::size_t slash = own.rfind('/');
  return (slash == std::string::npos ? std::string(".") : own.substr(0, slash)) + "/EventLog";
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) return std::nullopt;
  return bytes;
}

void WriteDurably(const std::string& path, const std::string& bytes, unsigned mode) {
  std::string error;
  if (!platform::ReplaceFileDurably(path, bytes, mode, error))
    throw StepFailure{"cannot write " + error};
}

std::optional<TDateTime> ReadState(const std::string& path) {
  if (!fs::exists(path)) return std::nullopt;
  const auto bytes = ReadWholeFile(path);
  const auto state = bytes ? ParseDeliveryState(*bytes) : std::nullopt;
  if (!state) Say(path + " is unreadable and is left out; delete it to silence this warning");
  return state ? state->LoggedAfter : std::nullopt;
}

// ---- prepare

// The settings with the first LoggedAfter tag's text replaced as the monitor reads it (from the
// first start marker to the first end marker after it); a missing tag is added on a line of its
// own before the closing </EventLog>, or at the end, with the file's own line ends.
std::string WithLoggedAfter(const std::string& settings, const std::string& value) {
  const std::string start = "<LoggedAfter>", end = "</LoggedAfter>";
  const std::size_t startAt = settings.find(start);
  if (startAt != std::string::npos) {
    const std::size_t valueAt = startAt + start.size();
    const std::size_t endAt = settings.find(end, valueAt);
    const std::size_t restAt = endAt == std::string::npos ? valueAt : endAt + end.size();
    return settings.substr(0, valueAt) + value + end + settings.substr(restAt);
  }
  const std::string lineEnd = settings.find("\r\n") != std::string::npos ? "\r\n" : "\n";
  const std::string line = "  " + start + value + end + lineEnd;
  const std::size_t closing = settings.rfind("</EventLog>");
  if (closing == std::string::npos) {
    const bool open = !settings.empty() && settings.back() != '\n';
    return settings + (open ? lineEnd : "") + line;
  }
  std::size_t lineStart = closing;
  while (lineStart > 0 && (settings[lineStart - 1] == ' ' || settings[lineStart - 1] == '\t'))
    --lineStart;
  return settings.substr(0, lineStart) + line + settings.substr(lineStart);
}

// The working copy of the settings: the operator's file, with the carried LoggedAfter when that
// is later than the file's own.
std::string WorkingSettings(const Options& options, const std::string& settings,
                            const std::optional<TDateTime>& carried) {
  TDateTime configured = 0;
  try {
    configured = StrToDateTimeOrZero(ReadXMLTag(options.Settings, "LoggedAfter"));
  } catch (const Exception& failure) {
    // EventLog stops on its own error line for this; the copy leaves the text as it is.
    Say(options.Settings + ": LoggedAfter: " + failure.Message() + "; EventLog will stop");
    return settings;
  }
  if (!carried || *carried <= configured) return settings;
  Say("LoggedAfter " + DateTimeToStrOrEmpty(*carried) + " carried forward from the last report");
  return WithLoggedAfter(settings, DateTimeToStrOrEmpty(*carried));
}

void CopyProgramWhenItDiffers(const std::string& program, const std::string& copy) {
  const auto installed = ReadWholeFile(program);
  if (!installed)
    throw StepFailure{"cannot read the program " + program +
                      "; reinstall the package or give --program"};
  if (ReadWholeFile(copy) == installed) return;
  WriteDurably(copy, *installed, 0755);
}

int Prepare(const Options& options) {
  const Paths paths = PathsIn(options.Directory);
  const auto settings = ReadWholeFile(options.Settings);
  if (!settings || !fs::is_regular_file(options.Settings))
    throw StepFailure{options.Settings +
                      " is missing or unreadable: without it EventLog would ask its three "
                      "questions on a console the service does not have. Restore it (a sample is "
                      "/usr/share/doc/eventlog/EventLog.XML) and start again"};
  WriteDurably(paths.WorkingSettings, WorkingSettings(options, *settings, ReadState(paths.State)),
               0644);
  CopyProgramWhenItDiffers(options.Program, paths.WorkingProgram);
  return 0;
}

// ---- run

// Follows EventLog's console lines and recognises its reports: an empty line, the time of the
// report, the event ID line, the source, and the record's time.
class ReportWatcher {
 public:
  // The moment to carry forward when this line completes a report.
  std::optional<TDateTime> Take(const std::string& line) {
    if (line.empty()) {
      state_ = State::ExpectTime;
      return std::nullopt;
    }
    switch (state_) {
      case State::ExpectTime:
        reportTime_ = line;
        state_ = State::ExpectEventId;
        return std::nullopt;
      case State::ExpectEventId:
        state_ = line.starts_with(kEventIdPrefix) ? State::InReport : State::Idle;
        return std::nullopt;
      case State::InReport:
        if (!line.starts_with(kGeneratedPrefix)) return std::nullopt;
        state_ = State::Idle;
        return Carried(line.substr(kGeneratedPrefix.size()));
      case State::Idle:
        return std::nullopt;
    }
    return std::nullopt;
  }

 private:
  enum class State { Idle, ExpectTime, ExpectEventId, InReport };

  // The earlier of the report's time and the record's time, so that a record stamped in the
  // future does not hide what is logged after it; never later than this clock says.
  std::optional<TDateTime> Carried(const std::string& recordText) const {
    TDateTime reported = 0, generated = 0;
    if (!TryStrToDateTime(reportTime_, reported)) {
      Say("the report time '" + reportTime_ + "' does not read back; the state stays as it was");
      return std::nullopt;
    }
    TDateTime carried = std::min(reported, Now());
    if (!recordText.empty() && TryStrToDateTime(recordText, generated))
      carried = std::min(carried, generated);
    return carried;
  }

  State state_ = State::Idle;
  std::string reportTime_;
};

void WriteOutputLine(std::string line) {
  // The journal shows a line with a control character as binary data: CR of the line end goes,
  // any other control character is shown as \xHH.
  if (!line.empty() && line.back() == '\r') line.pop_back();
  std::string shown;
  for (unsigned char c : line) {
    if (c < 0x20 && c != '\t') {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      shown += escaped;
    } else {
      shown += static_cast<char>(c);
    }
  }
  shown += '\n';
  int errorCode = 0;
  // Nowhere to report a failing journal; EventLog must go on regardless.
  platform::WriteStandardOutput(shown.data(), shown.size(), errorCode);
}

void SaveState(const std::string& path, TDateTime carried) {
  std::string error;
  if (!platform::ReplaceFileDurably(path, DeliveryStateText({carried, std::nullopt}), 0644, error))
    Say("cannot save the state: " + error + "; a restart may repeat this report");
}

int Run(const Options& options) {
  const Paths paths = PathsIn(options.Directory);
  if (!fs::is_regular_file(paths.WorkingProgram) || !fs::is_regular_file(paths.WorkingSettings))
    throw StepFailure{"no working copy of EventLog or EventLog.XML in " + options.Directory +
                      "; run eventlog-service prepare first"};
  platform::SupervisedProgram program =
      platform::StartSupervised(paths.WorkingProgram, options.Directory);
  ReportWatcher watcher;
  std::string pending;
  char buffer[4096];
  int errorCode = 0;
  long count;
  while ((count = platform::ReadSupervisedOutput(program, buffer, sizeof buffer, errorCode)) > 0) {
    pending.append(buffer, static_cast<std::size_t>(count));
    std::size_t lineEnd;
    while ((lineEnd = pending.find('\n')) != std::string::npos) {
      std::string line = pending.substr(0, lineEnd);
      pending.erase(0, lineEnd + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      WriteOutputLine(line);
      if (const auto carried = watcher.Take(line)) SaveState(paths.State, *carried);
    }
  }
  if (count < 0) Say("reading EventLog's output failed: " + platform::SystemErrorText(errorCode));
  if (!pending.empty()) WriteOutputLine(pending);
  platform::EndLike(platform::WaitForSupervised(program));
}

// ---- finish

int Finish(const Options& options) {
  const Paths paths = PathsIn(options.Directory);
  for (const std::string& path : {paths.State, paths.WorkingSettings, paths.WorkingProgram}) {
    std::error_code ignored;
    fs::remove(path + ".tmp", ignored);
  }
  if (!fs::exists(paths.State)) return 0;
  std::string error;
  if (!platform::FlushToDisk(paths.State, error)) throw StepFailure{"cannot flush " + error};
  const auto carried = ReadState(paths.State);
  if (carried) Say("the next start reports only events after " + DateTimeToStrOrEmpty(*carried));
  return 0;
}

std::optional<Options> ParseArguments(int argc, char** argv) {
  Options options;
  options.Program = ProgramBesideThisTool();
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    std::string* value = argument == "--dir"        ? &options.Directory
                         : argument == "--settings" ? &options.Settings
                         : argument == "--program"  ? &options.Program
                                                    : nullptr;
    if (value != nullptr) {
      if (i + 1 >= argc) {
        Say(std::string(argument) + " needs a value");
        return std::nullopt;
      }
      *value = argv[++i];
    } else if (options.Command.empty() &&
               (argument == "prepare" || argument == "run" || argument == "finish")) {
      options.Command = argument;
    } else {
      Say("unknown argument '" + std::string(argument) + "'");
      return std::nullopt;
    }
  }
  if (options.Command.empty()) {
    Say("name the step: prepare, run or finish");
    return std::nullopt;
  }
  // EventLog runs inside the directory, so every name must hold from there too.
  for (std::string* path : {&options.Directory, &options.Settings, &options.Program})
    *path = fs::absolute(*path).lexically_normal().string();
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::string_view(argv[i]) == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  const auto options = ParseArguments(argc, argv);
  if (!options) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  // Dates are read and written as EventLog reads and writes them: the same regional settings.
  LoadRegionalSettings();
  try {
    if (options->Command == "prepare") return Prepare(*options);
    if (options->Command == "run") return Run(*options);
    return Finish(*options);
  } catch (const StepFailure& failure) {
    Say(failure.Message);
  } catch (const std::exception& failure) {
    const FailureDescription description = DescribeFailure(failure);
    Say(description.Message + " (" + description.ClassName + ")");
  }
  return 1;
}
