// The step "run" (run.h).
#include "tools/service/run.h"

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "core/watch_name.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/sockets.h"
#include "platform/supervision.h"
#include "platform/system.h"
#include "tools/service/console_lines.h"
#include "tools/service/journal_lines.h"
#include "tools/service/log_channel.h"

namespace service {

namespace {

void CheckWorkingCopy(const std::string& path, const Options& options) {
  switch (platform::KindOfEntry(path)) {
    case platform::EntryKind::Missing:
      throw StepFailure{"no working copy of EventLog or EventLog.XML in " + options.Directory +
                        "; run eventlog-service prepare first"};
    case platform::EntryKind::Other:
      throw StepFailure{"the working copy " + path +
                        " is not a regular file; remove it and run eventlog-service prepare"};
    case platform::EntryKind::RegularFile:
      return;
  }
}

// A watch's EventLog knows its name, names its log entries after it unless the environment
// names them, and keeps its daily log files in its own folder. Set in this process's environment,
// which EventLog inherits and the log channel reads.
void SetWatchEnvironment(const Options& options) {
  auto set = [](const std::string& name, const std::string& value) {
    std::string error;
    if (!platform::SetEnvironmentValue(name, value, error))
      throw StepFailure{"cannot set " + name + " for EventLog: " + error};
  };
  set("EVENTLOG_WATCH", options.Watch);
  if (!EnvironmentValue("EVENTLOG_LOG_IDENT"))
    set("EVENTLOG_LOG_IDENT", "eventlog-" + options.Watch);
  const std::optional<std::string> logFile = EnvironmentValue("EVENTLOG_LOG_FILE");
  if (!logFile) return;
  if (const auto moved = core::WatchLogFile(*logFile, Options().Directory, options.Directory)) {
    set("EVENTLOG_LOG_FILE", *moved);
    SayOnly(Priority::Info, "the daily log files of the watch " + options.Watch + " are " + *moved +
                                "-<yyyymmdd>.CSV");
  }
}

// The units name node_exporter's textfile folder for the liveness file, and that folder is there
// only where node_exporter is installed: without it EventLog gets no file to write, and the
// journal one line at the start instead of a warning.
void LeaveOutMissingMetricsFolder() {
  const std::optional<std::string> file = EnvironmentValue("EVENTLOG_METRICS_FILE");
  if (!file || file->empty()) return;
  const std::filesystem::path folder = platform::PathOf(*file).parent_path();
  std::error_code error;
  if (folder.empty() || std::filesystem::is_directory(folder, error)) return;
  std::string failure;
  if (!platform::SetEnvironmentValue("EVENTLOG_METRICS_FILE", "", failure))
    throw StepFailure{"cannot set EVENTLOG_METRICS_FILE for EventLog: " + failure};
  SayOnly(Priority::Info, "no liveness file: the folder " + platform::PathText(folder) +
                              " of EVENTLOG_METRICS_FILE does not exist (install "
                              "prometheus-node-exporter, or set EVENTLOG_METRICS_FILE empty)");
}

}  // namespace

int Run(const Options& options) {
  const Paths paths = PathsIn(options.Directory);
  CheckWorkingCopy(paths.WorkingProgram, options);
  CheckWorkingCopy(paths.WorkingSettings, options);
  platform::StartSocketLayer();
  if (!options.Watch.empty()) SetWatchEnvironment(options);
  LeaveOutMissingMetricsFolder();
  std::vector<platform::EnvironmentSetting> environment = {{"EVENTLOG_STATE_FILE", paths.State}};
  LogChannel channel;
  OpenLogChannel(channel, environment);
  platform::SupervisedProgram program =
      platform::StartSupervised(paths.WorkingProgram, options.Directory, environment);

  LineSplitter output, errors;
  ConsoleLines console;
  auto takeOutput = [&](const std::string& line) { console.Take(line); };
  auto takeError = [](const std::string& line) {
    WriteLine(platform::StandardStream::Errors, Priority::Err, line);
  };
  std::vector<int> watched = {program.Output, program.Errors, channel.Socket};
  std::vector<bool> ready;
  char buffer[4096];
  while (watched[0] >= 0 || watched[1] >= 0) {
    int errorCode = 0;
    if (!platform::WaitUntilAnyReadable(watched, ready, errorCode)) {
      Say(Priority::Err, "waiting for EventLog's output failed: " +
                             platform::SystemErrorText(static_cast<std::uint32_t>(errorCode)));
      break;
    }
    // The entries first: a page's entry was sent before the lines that follow the page.
    if (ready[2]) TakeWaitingDatagrams(channel);
    for (int stream : {0, 1}) {
      if (!ready[stream]) continue;
      const long count =
          platform::ReadSupervisedStream(watched[stream], buffer, sizeof buffer, errorCode);
      LineSplitter& lines = stream == 0 ? output : errors;
      if (count > 0) {
        if (stream == 0)
          lines.Add(buffer, static_cast<std::size_t>(count), takeOutput);
        else
          lines.Add(buffer, static_cast<std::size_t>(count), takeError);
        continue;
      }
      if (count < 0)
        Say(Priority::Err,
            std::string("reading EventLog's ") + (stream == 0 ? "output" : "errors") +
                " failed: " + platform::SystemErrorText(static_cast<std::uint32_t>(errorCode)));
      watched[stream] = -1;
    }
  }
  output.End(takeOutput);
  errors.End(takeError);
  const platform::ProgramEnd end = platform::WaitForSupervised(program);
  // What EventLog sent before it ended is waiting by now.
  TakeWaitingDatagrams(channel);
  platform::CloseDescriptor(channel.Socket);
  console.Release(!end.BySignal && end.Code == 1 ? Priority::Err : Priority::Info);
  platform::EndLike(end);
}

}  // namespace service
