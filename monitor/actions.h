// The actions a report can run, one table: the settings' action word names an entry, resolved
// once after the settings are read. A new notification target is a row here and a runner of its
// own beside the page action.
#pragma once

#include <string>
#include <string_view>

#include "monitor/eventsearch.h"

// Runs after a report for the record just reported; a failure of its own stays in its own files
// and logs.
using ReportAction = void (*)(const tMyEventLogRecord& record);

struct tReportActionEntry {
  std::string_view Word;  // as the settings hold it, lower-cased
  ReportAction Run;
};

// The action of that word (compared exactly; the settings file's value is already lower-cased),
// or nullptr when the word names none: a report then runs nothing.
ReportAction ActionFor(const std::string& word);
