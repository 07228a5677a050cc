// The step "prepare" (prepare.h).
#include "tools/service/prepare.h"

#include <filesystem>

#include "core/datetime.h"
#include "monitor/settings.h"
#include "monitor/settings_lint.h"
#include "platform/files.h"
#include "platform/service_common.h"
#include "platform/system.h"
#include "tools/service/application_events.h"
#include "tools/service/journal_lines.h"

namespace fs = std::filesystem;

namespace service {

namespace {

// The files prepare reads whole, and the most it takes of each.
constexpr std::size_t kSettingsLimit = std::size_t{1} << 20;
constexpr std::size_t kProgramLimit = std::size_t{256} << 20;

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

// A tag's text as EventLog reads it from the file: empty when either marker is missing.
std::string TagText(const std::string& settings, const std::string& tag) {
  const std::string start = "<" + tag + ">", end = "</" + tag + ">";
  if (settings.find(start) == std::string::npos || settings.find(end) == std::string::npos)
    return "";
  return ExtractBetween(settings, start, end);
}

// The working copy of the settings: the operator's file, with LoggedAfter the later of its own and
// the carried one, or one second before a report whose page had not ended when that is earlier.
std::string WorkingSettings(const Options& options, const std::string& settings,
                            const std::optional<tDeliveryState>& state) {
  const std::string configuredText = TagText(settings, "LoggedAfter");
  TDateTime configured = 0;
  try {
    configured = StrToDateTimeOrZero(configuredText);
  } catch (const Exception& failure) {
    // EventLog would stop on its error line at once; the start stops here instead.
    throw StepFailure{options.Settings + ": LoggedAfter: " + failure.Message() +
                      " under the regional settings of the service (LANG, LC_TIME, LC_ALL in " +
                      std::string(kServiceEnvironment) +
                      "). Write it as EventLog prints dates, or remove the "
                      "tag, and start again"};
  }
  TDateTime loggedAfter = configured;
  if (state && state->LoggedAfter && *state->LoggedAfter > configured) {
    loggedAfter = *state->LoggedAfter;
    SayOnly(Priority::Info, "LoggedAfter " + DateTimeToStrOrEmpty(loggedAfter) +
                                " carried forward from the last report");
    RecordEvent(LoggedAfterCarriedEvent(DateTimeToStrOrEmpty(loggedAfter)));
  }
  if (state && state->Pending) {
    // Records carry whole seconds, and one is reported when it is later than LoggedAfter.
    const TDateTime before = *state->Pending - 1.0 / 86400;
    if (before < loggedAfter) loggedAfter = before;
    Say(Priority::Warning, "the event of " + DateTimeToStrOrEmpty(*state->Pending) +
                               " is reported and paged again because the last run was stopped "
                               "before its page ended");
  }
  if (loggedAfter == configured) return settings;
  return WithLoggedAfter(settings, DateTimeToStrOrEmpty(loggedAfter));
}

// Writes the file only when its bytes differ, so that a full disk does not stop a start that
// changes nothing.
void WriteWhenItDiffers(const std::string& path, const std::string& bytes, unsigned mode) {
  std::string present, error;
  if (ReadWholeFile(path, bytes.size(), platform::Links::Refused, present, error) ==
          Reading::Read &&
      present == bytes)
    return;
  if (!platform::ReplaceFileDurably(path, bytes, mode, error))
    throw StepFailure{"cannot write " + error + "; free the space or mend the permissions of " +
                      fs::path(path).parent_path().string() + " and start again"};
}

// The settings check's findings, each on a line of its own: an error stops the start.
void RunSettingsCheck(const Options& options) {
  bool stops = false;
  for (const tFinding& finding : CheckSettingsBeforeStart(options.Settings)) {
    switch (finding.Severity) {
      case tSeverity::Error:
        stops = true;
        SayOnly(Priority::Err, "error: " + finding.Text);
        break;
      case tSeverity::Warning:
        SayOnly(Priority::Warning, "warning: " + finding.Text);
        break;
      case tSeverity::Note:
        SayOnly(Priority::Info, "note: " + finding.Text);
        break;
    }
    RecordEvent(SettingsFindingEvent(finding));
  }
  if (stops)
    throw StepFailure{"EventLog is not started: mend the errors above in " + options.Settings +
                      " or " + kServiceEnvironment +
                      " (eventlog-check shows them) and start again"};
}

}  // namespace

std::optional<tDeliveryState> ReadState(const std::string& path) {
  std::string bytes, error;
  switch (ReadWholeFile(path, kStateLimit, platform::Links::Refused, bytes, error)) {
    case Reading::Missing:
      return std::nullopt;
    case Reading::Refused:
      Say(Priority::Warning, "cannot read the delivery state " + error +
                                 "; it is left out, so the newest matching event may be "
                                 "reported and paged again. Delete it to start afresh");
      return std::nullopt;
    case Reading::Read:
      break;
  }
  const auto state = ParseDeliveryState(bytes);
  if (!state)
    Say(Priority::Warning, path +
                               " is not a delivery state and is left out, so the newest matching "
                               "event may be reported and paged again. Delete it to start afresh");
  return state;
}

namespace {

// A watch's working folder, made on its first start: owner all, group read, others nothing, as
// the plain service's folder is.
void MakeWatchFolder(const Options& options) {
  std::error_code error;
  const fs::path folder = platform::PathOf(options.Directory);
  for (const fs::path& each : {folder.parent_path(), folder}) {
    if (fs::create_directory(each, error))
      fs::permissions(each, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec,
                      error);
    if (error)
      throw StepFailure{"cannot make the watch's working folder " + platform::PathText(each) +
                        ": " + error.message() + "; make it writable for this user (" +
                        platform::CurrentUserName() + ") and start again"};
  }
}

}  // namespace

int Prepare(const Options& options) {
  const Paths paths = PathsIn(options.Directory);
  if (!options.Watch.empty()) MakeWatchFolder(options);
  std::string settings, error;
  switch (
      ReadWholeFile(options.Settings, kSettingsLimit, platform::Links::Followed, settings, error)) {
    case Reading::Missing:
      throw StepFailure{options.Settings +
                        " is missing or unreadable: without it EventLog would ask its three "
                        "questions on a console the service does not have. Restore it (a sample "
                        "is " +
                        kSampleSettings + ") and start again"};
    case Reading::Refused:
      throw StepFailure{"cannot read the settings " + error +
                        ". Make it a readable settings file (a sample is " + kSampleSettings +
                        ") and start again"};
    case Reading::Read:
      break;
  }
  RunSettingsCheck(options);
  WriteWhenItDiffers(paths.WorkingSettings,
                     WorkingSettings(options, settings, ReadState(paths.State)), 0644);
  if (platform::SameFileContents(options.Program, paths.WorkingProgram)) return 0;
  std::string program;
  if (ReadWholeFile(options.Program, kProgramLimit, platform::Links::Followed, program, error) !=
      Reading::Read)
    throw StepFailure{"cannot read the program " + options.Program +
                      (error.empty() ? std::string() : " (" + error + ")") +
                      "; reinstall the package or give --program"};
  WriteWhenItDiffers(paths.WorkingProgram, program, 0755);
  return 0;
}

}  // namespace service
