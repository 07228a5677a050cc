// The services of one machine (watches.h).
#include "tools/check/watches.h"

#include <algorithm>
#include <filesystem>
#include <map>

#include "core/environment_file.h"
#include "core/watch_name.h"
#include "monitor/settings.h"
#include "platform/files.h"
#include "platform/supervision.h"
#include "platform/system.h"
#include "tools/check/findings.h"
#include "tools/check/paths.h"

namespace fs = std::filesystem;

namespace check {

ServiceFiles FilesOf(const std::optional<std::string>& watch,
                     const std::vector<std::string>& environmentFiles) {
  ServiceFiles files;
  files.Watch = watch;
  files.Unit = watch ? "eventlog@" + *watch + ".service" : "eventlog.service";
  files.Folder = watch ? JoinPath(kServiceWatchesFolder, *watch) : kServiceDirectory;
  // The unit's Environment= lines come first; its environment files may change them.
  std::map<std::string, std::string> environment = {
      {"EVENTLOG_METRICS_FILE",
       JoinPath(kServiceMetricsFolder, watch ? "eventlog-" + *watch + ".prom" : "eventlog.prom")}};
  for (const std::string& path : environmentFiles) {
    const tFileContent file = ReadFileContent(path);
    if (!file.Exists || !file.Opened) continue;
    for (const core::EnvironmentAssignment& assignment :
         core::ParseEnvironmentFile(file.Bytes).Assignments)
      environment[assignment.Name] = assignment.Value;
  }
  files.LogFile = environment["EVENTLOG_LOG_FILE"];
  if (watch)
    if (const auto moved = core::WatchLogFile(files.LogFile, kServiceDirectory, files.Folder))
      files.LogFile = *moved;
  files.MetricsFile = environment["EVENTLOG_METRICS_FILE"];
  return files;
}

std::vector<std::string> SharedFiles(const std::vector<ServiceFiles>& services) {
  struct Kind {
    std::string ServiceFiles::*Member;
    const char* What;
    const char* Fix;
  };
  const Kind kinds[] = {
      {&ServiceFiles::Folder, "the working folder", "give each watch a name of its own"},
      {&ServiceFiles::LogFile, "the daily log files",
       "set EVENTLOG_LOG_FILE apart in /etc/eventlog/NAME.env"},
      {&ServiceFiles::MetricsFile, "the liveness file",
       "set EVENTLOG_METRICS_FILE apart in /etc/eventlog/NAME.env, or leave it to the units"}};
  std::vector<std::string> errors;
  for (const Kind& kind : kinds)
    for (std::size_t first = 0; first < services.size(); ++first)
      for (std::size_t second = first + 1; second < services.size(); ++second) {
        const std::string& path = services[first].*kind.Member;
        if (path.empty() || fs::path(path).lexically_normal() !=
                                fs::path(services[second].*kind.Member).lexically_normal())
          continue;
        errors.push_back(services[first].Unit + " and " + services[second].Unit +
                         " would both write " + kind.What + " " + path + ": " + kind.Fix);
      }
  return errors;
}

namespace {

// The watches' names from their settings files, sorted; the files that name no watch apart.
void ListSettings(bool& plain, std::vector<std::string>& watches,
                  std::vector<std::string>& strays) {
  std::error_code error;
  for (fs::directory_iterator entry(platform::PathOf(kServiceSettingsFolder), error), end;
       !error && entry != end; entry.increment(error)) {
    const std::string name = platform::PathText(entry->path().filename());
    if (name.size() <= 4 || !name.ends_with(".XML")) continue;
    const std::string stem = name.substr(0, name.size() - 4);
    if (stem == "EventLog")
      plain = true;
    else if (core::WatchNameProblem(stem).empty())
      watches.push_back(stem);
    else
      strays.push_back(name);
  }
  std::sort(watches.begin(), watches.end());
  std::sort(strays.begin(), strays.end());
}

}  // namespace

int CheckAllWatches(const Options& options) {
  bool plain = false;
  std::vector<std::string> watches, strays;
  ListSettings(plain, watches, strays);
  std::vector<std::optional<std::string>> services;
  if (plain) services.push_back(std::nullopt);
  for (const std::string& watch : watches) services.push_back(watch);
  if (services.empty() && strays.empty()) {
    Print("No service to check: neither " + JoinPath(kServiceSettingsFolder, "EventLog.XML") +
          " nor a watch's " + JoinPath(kServiceSettingsFolder, "NAME.XML") + " exists.");
    return kExitErrors;
  }
  int worst = kExitSound;
  std::vector<ServiceFiles> files;
  for (const std::optional<std::string>& watch : services) {
    std::vector<std::string> environmentFiles = {kServiceEnvironment};
    if (watch) environmentFiles.push_back(JoinPath(kServiceSettingsFolder, *watch + ".env"));
    files.push_back(FilesOf(watch, environmentFiles));
    Print("== " + files.back().Unit + " ==");
    std::vector<std::string> arguments = {"--service"};
    if (watch) arguments.insert(arguments.end(), {"--watch", *watch});
    if (options.Probe) arguments.push_back("--probe");
    if (options.User) arguments.insert(arguments.end(), {"--user", *options.User});
    platform::ProgramEnd end;
    std::string error;
    int code = kExitCannotRun;
    if (!platform::RunToEnd(platform::ExecutablePath(), arguments, end, error))
      Print("error: cannot run the check of " + files.back().Unit + ": " + error);
    else if (!end.BySignal)
      code = end.Code;
    worst = std::max(worst, code);
  }
  Print("== all services ==");
  Findings findings;
  for (const std::string& stray : strays)
    findings.Fail(JoinPath(kServiceSettingsFolder, stray) +
                  " names no watch: " + core::WatchNameProblem(stray.substr(0, stray.size() - 4)) +
                  ". Rename it, or move it out of " + kServiceSettingsFolder);
  for (const std::string& shared : SharedFiles(files)) findings.Fail(shared);
  worst = std::max(worst, findings.ExitCode());
  Print(Plural(int(services.size()), "service") + " checked; the worst exit code is " +
        std::to_string(worst) + ".");
  return worst;
}

}  // namespace check
