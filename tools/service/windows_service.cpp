// The Windows service (windows_service.h).
#include "tools/service/windows_service.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "core/errors.h"
#include "monitor/settings.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/service_control.h"
#include "platform/sockets.h"
#include "platform/system.h"
#include "tools/service/application_log.h"
#include "tools/service/console_lines.h"
#include "tools/service/finish.h"
#include "tools/service/journal_lines.h"
#include "tools/service/log_channel.h"
#include "tools/service/prepare.h"
#include "tools/service/rotating_log.h"
#include "tools/service/service_end.h"

namespace fs = std::filesystem;

namespace service {

namespace {

// The log files, written from the service's thread and the two reading threads.
std::mutex logsMutex;
RotatingLog serviceLog, consoleLog;

const char* PriorityWord(Priority priority) {
  switch (priority) {
    case Priority::Err:
      return "error";
    case Priority::Warning:
      return "warning";
    case Priority::Info:
      break;
  }
  return "info";
}

void OpenLogs(const std::string& directory) {
  serviceLog.Path = platform::PathText(platform::PathOf(directory) / kServiceLogName);
  consoleLog.Path = platform::PathText(platform::PathOf(directory) / kConsoleLogName);
  AddLineReceiver([](platform::StandardStream, Priority priority, std::string_view text) {
    const std::lock_guard<std::mutex> lock(logsMutex);
    AppendLine(serviceLog, Now(), std::string(PriorityWord(priority)) + " " + std::string(text));
  });
}

// The Application log under the service's source: a failing one is said in the service's log
// (once, and again after a success) and never stops the service.
std::mutex applicationLogMutex;
ApplicationLog applicationLog;

void OpenApplicationLog() {
  AddEventReceiver([](const ApplicationEvent& event) {
    std::optional<std::string> problem;
    {
      const std::lock_guard<std::mutex> lock(applicationLogMutex);
      problem = RecordInApplicationLog(applicationLog, event);
    }
    if (problem) SayOnly(Priority::Warning, *problem);
  });
}

void CloseApplicationLogOfService() {
  const std::lock_guard<std::mutex> lock(applicationLogMutex);
  CloseApplicationLog(applicationLog);
}

void ConsoleLogLine(const char* stream, const std::string& line) {
  std::string text = line;
  if (!text.empty() && text.back() == '\r') text.pop_back();
  const std::lock_guard<std::mutex> lock(logsMutex);
  AppendLine(consoleLog, Now(), std::string(stream) + " " + text);
}

// Says in the service's log what the service watches, and gives the manager's entry its name,
// description and recovery actions.
void ConfigureOwnEntry(const std::string& name, const Options& options) {
  std::string bytes, error;
  // A settings file that does not read is the start step's to say; the entry names the default.
  ReadWholeFile(options.Settings, std::size_t{1} << 20, platform::Links::Followed, bytes, error);
  const tSettingsText settings = SettingsTextOf(bytes);
  const std::string log = settings.LogFile.empty() ? kDefaultLogName : settings.LogFile;
  const std::string event = settings.EventID.empty() ? "0" : settings.EventID;
  platform::ServiceConfiguration configuration;
  configuration.DisplayName = "EventLog pager (" + log + " event " + event + ")";
  configuration.Description =
      "Watches the " + log + " log for event " + event +
      " and pages through the paging gateway. Settings: " + options.Settings +
      "; logs and state: " + options.Directory;
  configuration.RestartDelays = {60000, 60000, 300000};
  configuration.ResetSeconds = 86400;
  std::vector<std::string> problems;
  if (platform::ConfigureService(name, configuration, problems)) return;
  for (const std::string& problem : problems)
    Say(Priority::Warning, problem +
                               "; the service runs on. Set it once as administrator (install.ps1 "
                               "does, or sc.exe description and sc.exe failure)");
}

// Reads one of EventLog's streams to its end on a thread of its own, so that no pipe fills.
template <typename Take>
std::thread ReadingThread(std::intptr_t& stream, const char* name, Take take) {
  return std::thread([&stream, name, take]() mutable {
    LineSplitter lines;
    char buffer[4096];
    for (;;) {
      std::uint32_t errorCode = 0;
      const long count = platform::ReadChildStream(stream, buffer, sizeof buffer, errorCode);
      if (count > 0) {
        lines.Add(buffer, static_cast<std::size_t>(count), take);
        continue;
      }
      if (count < 0)
        Say(Priority::Err, std::string("reading EventLog's ") + name +
                               " failed: " + platform::SystemErrorText(errorCode));
      break;
    }
    lines.End(take);
    platform::CloseChildStream(stream);
  });
}

struct ProgramRun {
  std::uint32_t ExitCode = 0;
  bool EndedOnErrorLine = false;
  bool StopAsked = false;
};

// Runs the working copy of EventLog until it ends: its lines into the logs, its log entries
// relayed, a stop request passed on and, past the wait, enforced.
ProgramRun RunProgram(const Options& options, platform::ChildProgram& child, LogChannel& channel) {
  ProgramRun run;
  ConsoleLines console;
  std::thread output = ReadingThread(child.Output, "output", [&](const std::string& line) {
    ConsoleLogLine("out", line);
    console.Take(line);
  });
  std::thread errors = ReadingThread(child.Errors, "errors", [](const std::string& line) {
    ConsoleLogLine("err", line);
    WriteLine(platform::StandardStream::Errors, Priority::Err, line);
  });
  platform::ReportServiceState(platform::ServiceState::Running);
  Say(Priority::Info, "EventLog runs in " + options.Directory);
  using Clock = std::chrono::steady_clock;
  Clock::time_point deadline;
  bool endedHard = false, passedOn = false;
  while (!platform::WaitForChildEnd(child, 200)) {
    TakeWaitingDatagrams(channel);
    if (!platform::StopRequested()) continue;
    if (!run.StopAsked) {
      run.StopAsked = true;
      deadline = Clock::now() + std::chrono::milliseconds(kStopWaitMilliseconds);
      std::uint32_t errorCode = 0;
      Say(Priority::Info, "stop requested: EventLog finishes a page in flight and stops");
      passedOn = platform::AskChildToStop(child, errorCode);
      if (!passedOn) {
        Say(Priority::Warning, "cannot pass the stop on to EventLog (" +
                                   platform::SystemErrorText(errorCode) + "); it is ended now");
        deadline = Clock::now();
      }
    }
    platform::ReportServiceState(platform::ServiceState::StopPending, 3000);
    if (!endedHard && Clock::now() >= deadline) {
      endedHard = true;
      if (passedOn)
        Say(Priority::Warning, "EventLog did not stop within " +
                                   std::to_string(kStopWaitMilliseconds / 1000) +
                                   " s; it is ended now");
      platform::EndChildHard(child);
    }
  }
  output.join();
  errors.join();
  // What EventLog sent before it ended is waiting by now.
  TakeWaitingDatagrams(channel);
  run.ExitCode = platform::ChildExitCode(child);
  run.EndedOnErrorLine = console.EndsOnErrorLine();
  console.Release(run.ExitCode == 1 ? Priority::Err : Priority::Info);
  return run;
}

EndCause ServeProgram(const Options& options, std::uint32_t& exitCode, bool& programRan);

EndCause Serve(const std::string& name, const Options& options, std::uint32_t& exitCode,
               bool& programRan) {
  ConfigureOwnEntry(name, options);
  try {
    Prepare(options);
  } catch (const StepFailure& failure) {
    Say(Priority::Err, failure.Message);
    return EndCause::SettingsError;
  }
  try {
    return ServeProgram(options, exitCode, programRan);
  } catch (const StepFailure& failure) {
    Say(Priority::Err, failure.Message);
    return EndCause::ServiceFailure;
  }
}

EndCause ServeProgram(const Options& options, std::uint32_t& exitCode, bool& programRan) {
  const Paths paths = PathsIn(options.Directory);
  platform::StartSocketLayer();
  std::vector<platform::EnvironmentSetting> environment = {{"EVENTLOG_STATE_FILE", paths.State}};
  if (!options.Watch.empty()) environment.push_back({"EVENTLOG_WATCH", options.Watch});
  LogChannel channel;
  OpenLogChannel(channel, environment);
  // The stop event's name holds a secret, so that no other program takes it first.
  std::string secret, error;
  if (!platform::SystemRandomBytes(16, secret, error))
    throw StepFailure{"cannot make the secret of EventLog's stop event: " + error};
  std::string stopEvent = "Local\\EventLogPager-stop-";
  for (unsigned char c : secret) {
    stopEvent += "0123456789abcdef"[c >> 4];
    stopEvent += "0123456789abcdef"[c & 15];
  }
  environment.push_back({"EVENTLOG_STOP_EVENT", stopEvent});
  platform::ChildProgram child;
  std::uint32_t errorCode = 0;
  if (!platform::LaunchChild(paths.WorkingProgram, options.Directory, environment, stopEvent, child,
                             errorCode)) {
    Say(Priority::Err,
        "cannot start " + paths.WorkingProgram + ": " + platform::SystemErrorText(errorCode));
    platform::CloseDescriptor(channel.Socket);
    return EndCause::CannotStart;
  }
  programRan = true;
  RecordEvent(ServiceStartedEvent(EVENTLOG_VERSION, options.Directory));
  const ProgramRun run = RunProgram(options, child, channel);
  platform::CloseChild(child);
  platform::CloseDescriptor(channel.Socket);
  exitCode = run.ExitCode;
  return CauseOfProgramEnd(run.StopAsked, run.ExitCode, run.EndedOnErrorLine);
}

}  // namespace

namespace {

// The watch that --watch named on the service's command line; empty for the plain service.
std::string serviceWatch;

}  // namespace

void SetServiceWatch(const std::string& watch) { serviceWatch = watch; }

Options ServiceOptions(const std::string& installFolder, const std::string& watch) {
  const fs::path folder = platform::PathOf(installFolder);
  Options options;
  options.Command = "service";
  options.Watch = watch;
  if (watch.empty()) {
    options.Directory = platform::PathText(folder / kWorkingFolderName);
    options.Settings = platform::PathText(folder / "EventLog.XML");
  } else {
    options.Directory =
        platform::PathText(folder / kWatchesFolderName / watch / kWorkingFolderName);
    options.Settings = platform::PathText(folder / (watch + ".XML"));
  }
  options.Program = platform::PathText(folder / kProgramFileName);
  return options;
}

void RunWindowsService(const std::string& name) {
  platform::ReportServiceState(platform::ServiceState::StartPending, 30000);
  const std::string folder =
      platform::PathText(platform::PathOf(platform::ExecutablePath()).parent_path());
  const Options options = ServiceOptions(folder, serviceWatch);
  std::error_code error;
  fs::create_directories(platform::PathOf(options.Directory), error);
  OpenLogs(options.Directory);
  OpenApplicationLog();
  if (error) {
    // Without the folder nothing can be written but standard error.
    std::fprintf(stderr, "eventlog-service: cannot make %s: %s\n", options.Directory.c_str(),
                 error.message().c_str());
  }
  Say(Priority::Info, "service " + name + " starts EventLog of " + folder);
  EndCause cause = EndCause::ServiceFailure;
  std::uint32_t exitCode = 0;
  bool programRan = false;
  try {
    cause = Serve(name, options, exitCode, programRan);
  } catch (const std::exception& failure) {
    const FailureDescription description = DescribeFailure(failure);
    Say(Priority::Err, description.Message + " (" + description.ClassName + ")");
  }
  platform::ReportServiceState(platform::ServiceState::StopPending, 10000);
  try {
    Finish(options);
  } catch (const StepFailure& failure) {
    Say(Priority::Err, failure.Message);
  } catch (const std::exception& failure) {
    Say(Priority::Err, DescribeFailure(failure).Message);
  }
  // A start refused by the settings check never ran EventLog.
  const bool refused = cause == EndCause::SettingsError && !programRan;
  const std::string endText =
      refused ? std::string(
                    "EventLog is not started: mend the settings as said above; the "
                    "service stops with service-specific exit code 1 and its recovery "
                    "actions try again")
              : EndText(cause, exitCode);
  if (cause == EndCause::StopRequested) {
    SayOnly(Priority::Info, endText);
    RecordEvent(ServiceStoppedEvent(endText));
  } else {
    Say(Priority::Err, endText);
  }
  CloseApplicationLogOfService();
  const ServiceEnd end = EndFor(cause);
  platform::ReportServiceState(platform::ServiceState::Stopped, 0, end.Win32ExitCode,
                               end.ServiceExitCode);
}

}  // namespace service
