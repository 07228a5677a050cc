#include "monitor/delivery_state.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "platform/console.h"
#include "platform/files.h"

namespace {

constexpr const char kPendingPrefix[] = "pending ";

}  // namespace

std::string DeliveryStateTime(TDateTime moment) {
  const core::SystemTime t = DecodeDateTime(moment);
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.Year, t.Month, t.Day,
                t.Hour, t.Minute, t.Second, t.Millisecond);
  return text;
}

std::optional<TDateTime> ParseDeliveryStateTime(const std::string& text) {
  core::SystemTime t;
  char tail = 0;
  if (text.size() != 23 ||
      std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d.%3d%c", &t.Year, &t.Month, &t.Day, &t.Hour,
                  &t.Minute, &t.Second, &t.Millisecond, &tail) != 7)
    return std::nullopt;
  TDateTime date = 0, time = 0;
  if (!TryEncodeDate(t.Year, t.Month, t.Day, date) ||
      !TryEncodeTime(t.Hour, t.Minute, t.Second, t.Millisecond, time))
    return std::nullopt;
  return EncodeDateTime(t);
}

std::string DeliveryStateText(const tDeliveryState& state) {
  std::string text =
      "# EventLog's delivery state (local time), written after every step of a report: the\n"
      "# LoggedAfter of the finished reports, and a report whose page attempt had not ended.\n"
      "# Delete this file to start afresh from the settings.\n";
  if (state.LoggedAfter) text += DeliveryStateTime(*state.LoggedAfter) + "\n";
  if (state.Pending) text += kPendingPrefix + DeliveryStateTime(*state.Pending) + "\n";
  return text;
}

std::optional<tDeliveryState> ParseDeliveryState(const std::string& text) {
  tDeliveryState state;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const bool pending = line.starts_with(kPendingPrefix);
    std::optional<TDateTime>& slot = pending ? state.Pending : state.LoggedAfter;
    const auto moment =
        ParseDeliveryStateTime(pending ? line.substr(sizeof kPendingPrefix - 1) : line);
    if (!moment || slot) return std::nullopt;
    slot = moment;
  }
  return state;
}

namespace {

// Readable by the service and eventlog-check, which may run as other users of the group.
constexpr unsigned kStateFileMode = 0644;

void Save(tDeliveryStateKeeper& keeper, const tDeliveryState& state) {
  if (keeper.FileName.empty()) return;
  std::string error;
  if (platform::ReplaceFileDurably(keeper.FileName, DeliveryStateText(state), kStateFileMode,
                                   error)) {
    keeper.Unsaved.reset();
    return;
  }
  keeper.Unsaved = state;
  ErrorWrite("EventLog: cannot save the delivery state to " + keeper.FileName + " (" + error +
             "); it is tried again every cycle, and a restart before then may repeat the last "
             "report\r\n");
}

}  // namespace

tDeliveryStateKeeper DeliveryStateKeeperFromEnvironment(TDateTime settingsLoggedAfter) {
  tDeliveryStateKeeper keeper;
  if (const char* fileName = std::getenv("EVENTLOG_STATE_FILE")) keeper.FileName = fileName;
  if (settingsLoggedAfter != 0) keeper.LoggedAfter = settingsLoggedAfter;
  return keeper;
}

void KeepPendingReport(tDeliveryStateKeeper& keeper, TDateTime generated) {
  Save(keeper, {keeper.LoggedAfter, generated});
}

void KeepFinishedReport(tDeliveryStateKeeper& keeper, TDateTime reported, TDateTime generated,
                        TDateTime now) {
  keeper.LoggedAfter = std::min({reported, generated, now});
  Save(keeper, {keeper.LoggedAfter, std::nullopt});
}

void RetryDeliveryState(tDeliveryStateKeeper& keeper) {
  if (keeper.Unsaved) Save(keeper, *keeper.Unsaved);
}
