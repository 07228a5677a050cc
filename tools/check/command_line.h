// eventlog-check's command line: its usage text, its options, the target they name and the
// switch to the user to check as.
#pragma once

#include <optional>
#include <string>

#include "tools/check/target.h"

namespace check {

extern const char kUsage[];

constexpr int kExitUsage = 2;
constexpr int kExitCannotRun = 3;

// The installed service's files (the Debian package).
constexpr char kServiceSettings[] = "/etc/eventlog/EventLog.XML";
constexpr char kServiceEnvironment[] = "/etc/default/eventlog";
constexpr char kServiceDirectory[] = "/var/lib/eventlog";
constexpr char kServiceStateName[] = "LoggedAfter.state";
constexpr char kServiceUser[] = "eventlog";
// The watches (eventlog@NAME): settings NAME.XML and environment NAME.env in the settings
// folder, working folder watches/NAME in the service's folder, and the liveness files the units
// name.
constexpr char kServiceSettingsFolder[] = "/etc/eventlog";
constexpr char kServiceWatchesFolder[] = "/var/lib/eventlog/watches";
constexpr char kServiceMetricsFolder[] = "/var/lib/prometheus/node-exporter";

struct Options {
  std::optional<std::string> Folder;
  std::optional<std::string> Settings;
  std::optional<std::string> Environment;
  std::optional<std::string> ProgramDirectory;
  std::optional<std::string> State;
  std::optional<std::string> User;
  std::optional<std::string> Watch;
  bool Service = false;
  bool AllWatches = false;
  bool Probe = false;
  bool Page = false;
  bool ListLogs = false;
  bool Help = false;
  bool Version = false;
};

// An error text for bad arguments, empty when they are good.
std::string ParseOptions(int argc, char** argv, Options& options);

Target TargetOf(const Options& options);

// Becomes the user to check as, when this process can; an error text when it cannot.
std::string BecomeUser(const Target& target);

}  // namespace check
