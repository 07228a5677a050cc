// The delivery state that a watch run as a service carries across restarts: the LoggedAfter that
// the finished reports let the next start use, and the record of a report whose page attempt had
// not ended when EventLog was stopped. EventLog writes it (EVENTLOG_STATE_FILE) after each step of
// a report; eventlog-service reads it before each start, and eventlog-check shows it.
//
// The file is plain text in local time, written without regard to the regional settings:
//   # comment lines
//   2026-12-10 01:02:03.456            the LoggedAfter of the finished reports
//   pending 2026-12-10 01:01:59.000    a reported record's time whose page attempt had not ended
// Files written before the pending line existed hold the first line only, and still read.
#pragma once

#include <optional>
#include <string>

#include "core/datetime.h"

struct tDeliveryState {
  // Report only events generated after this moment; absent before the first finished report.
  std::optional<TDateTime> LoggedAfter;
  // The generation time of a record that was reported but whose page attempt had not ended: the
  // next start reports it again.
  std::optional<TDateTime> Pending;
};

// The file's text, comment lines included.
std::string DeliveryStateText(const tDeliveryState& state);

// The state a file's text holds; nothing when the text is not such a file (a line that does not
// read, a time that is no date, a second time line).
std::optional<tDeliveryState> ParseDeliveryState(const std::string& text);

// A moment as the file writes it, "yyyy-mm-dd hh:nn:ss.zzz"; the reverse is nothing for a text
// that is not exactly that.
std::string DeliveryStateTime(TDateTime moment);
std::optional<TDateTime> ParseDeliveryStateTime(const std::string& text);

// Keeping the state during a run of EventLog, when EVENTLOG_STATE_FILE names the file. Saves are
// durable (platform/files.h); a save that fails is said on standard error as one line beginning
// "EventLog: " and is tried again at the start of every cycle until one succeeds.
struct tDeliveryStateKeeper {
  std::string FileName;                   // empty: no state is kept
  std::optional<TDateTime> LoggedAfter;   // the LoggedAfter of the finished reports
  std::optional<tDeliveryState> Unsaved;  // the latest state, when its save failed
};

// The keeper of the file EVENTLOG_STATE_FILE names (none when unset or empty), starting from the
// LoggedAfter of the settings (0: none).
tDeliveryStateKeeper DeliveryStateKeeperFromEnvironment(TDateTime settingsLoggedAfter);

// Before a report is printed: the reported record's time is pending.
void KeepPendingReport(tDeliveryStateKeeper& keeper, TDateTime generated);

// After the page attempt has ended, or right after the report when nothing is paged: the
// LoggedAfter is the earliest of the report's time, the record's time and the clock, and nothing
// is pending.
void KeepFinishedReport(tDeliveryStateKeeper& keeper, TDateTime reported, TDateTime generated,
                        TDateTime now);

// Saves again the state whose save failed; nothing when every save so far succeeded.
void RetryDeliveryState(tDeliveryStateKeeper& keeper);
