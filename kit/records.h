// The kit's shared records and the one process-wide settings value. Nothing in the program fills
// the settings; only the log writer keeps its own bookkeeping in Log.
#pragma once

#include <cstdint>
#include <string>

// Settings and state of the log writer.
struct tLog {
  std::string Ident;            // CSV column 3 (padded or cut to 10) and the syslog tag (as is)
  std::string FileName;         // base of the daily CSV files; the executable's path when empty
  bool Busy = false;            // the write section: claimed and released atomically
  std::int32_t ErrorCount = 0;  // consecutive log entries that ended in a failure
  std::string SyslogHost;       // empty: no forwarding
  std::int32_t Level = 0;       // highest level written and forwarded
  std::int32_t KeepDays = 0;    // retention in days; above 0 also the day-change handling
  std::int64_t LastDay = 0;     // day number of the last day change
};

struct tGlobalSettings {
  std::string SelfName;
  std::string Version;
  std::string HostName;
  bool RunningUnderDelphi = false;
  std::string ExceptionFileName;  // report file name template; may hold "{timestamp}"
  tLog Log;
  std::int32_t CoInitializeCount = 0;
};

// One log entry. The first digit of the code, written with at least five digits, is its level.
struct tLogRec {
  std::int32_t Code = 0;
  std::int32_t Trace = 0;
  std::string Text;
};

// One failure report.
struct tExceptionRec {
  std::string FunctionName;
  std::string ClassName;
  std::string Message;
  std::int32_t Trace = 0;
  std::string Notes;
  std::string FileName;  // the name template before the report, the written name after it
  bool Beep = false;
};

extern tGlobalSettings GlobalSettings;
