// The log writer's settings from the environment, read once at start: opt-in, so that a run
// without these variables keeps the defaults (nothing written, nothing sent).
//   EVENTLOG_LOG_LEVEL     Log.Level      the highest level written and sent, a whole number
//   EVENTLOG_LOG_FILE      Log.FileName   the base of the daily CSV files; may hold a folder
//   EVENTLOG_LOG_KEEPDAYS  Log.KeepDays   the days dated files are kept, a whole number from 0
//   EVENTLOG_SYSLOG_HOST   Log.SyslogHost the syslog receiver, "host" or "host:port" (port 514)
//   EVENTLOG_LOG_IDENT     Log.Ident      the identifier in CSV lines and datagrams
// A variable that is unset or empty leaves its field as it is.
#pragma once

#include <string>

#include "kit/records.h"

inline constexpr const char* kLogSettingVariables[] = {
    "EVENTLOG_LOG_LEVEL", "EVENTLOG_LOG_FILE", "EVENTLOG_LOG_KEEPDAYS", "EVENTLOG_SYSLOG_HOST",
    "EVENTLOG_LOG_IDENT"};

// Sets the field the variable names from its value. Raises EConvertError, naming the variable, the
// value and what it should hold, when the value does not read; an empty value changes nothing.
void ApplyLogSetting(tLog& log, const std::string& variable, const std::string& value);

// Reads every variable that is set into GlobalSettings.Log; raises as ApplyLogSetting.
void ReadLogSettingsFromEnvironment();
