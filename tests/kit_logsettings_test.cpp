// The log writer's settings from the environment: each variable's good and bad values (the
// syslog receiver's host and port among them), and what a run without them keeps.
#include <gtest/gtest.h>

#include <string>

#include "core/errors.h"
#include "kit/logsettings.h"
#include "kit/records.h"
#include "tests/support/kit_support.h"
#include "tests/support/scoped.h"

namespace {

// The fields the variables set, as one text for comparison.
std::string Fields(const tLog& log) {
  return "Level=" + std::to_string(log.Level) + " FileName=" + log.FileName +
         " KeepDays=" + std::to_string(log.KeepDays) + " SyslogHost=" + log.SyslogHost +
         " Ident=" + log.Ident;
}

const std::string kDefaults = Fields(tLog{});

TEST(LogSettingsFromEnvironment, EachValueSetsItsFieldOrIsRefusedByName) {
  struct Case {
    const char* variable;
    std::string value;
    std::string fields;  // the fields afterwards; empty when refused
    std::string error;   // the failure's message when refused
  } cases[] = {
      {"EVENTLOG_LOG_LEVEL", "5", "Level=5 FileName= KeepDays=0 SyslogHost= Ident=", ""},
      {"EVENTLOG_LOG_LEVEL", "0", kDefaults, ""},
      {"EVENTLOG_LOG_LEVEL", "-1", "Level=-1 FileName= KeepDays=0 SyslogHost= Ident=", ""},
      {"EVENTLOG_LOG_LEVEL", "2147483647",
       "Level=2147483647 FileName= KeepDays=0 SyslogHost= Ident=", ""},
      {"EVENTLOG_LOG_LEVEL", "", kDefaults, ""},
      {"EVENTLOG_LOG_LEVEL", "five", "",
       "EVENTLOG_LOG_LEVEL='five' is not valid: give a whole number, such as 5 to log every "
       "page's outcome, or unset it"},
      {"EVENTLOG_LOG_LEVEL", " 5", "", "EVENTLOG_LOG_LEVEL=' 5' is not valid"},
      {"EVENTLOG_LOG_LEVEL", "5\n", "", "EVENTLOG_LOG_LEVEL='5\\x0A' is not valid"},
      {"EVENTLOG_LOG_LEVEL", "+5", "", "EVENTLOG_LOG_LEVEL='+5' is not valid"},
      {"EVENTLOG_LOG_LEVEL", "2147483648", "", "EVENTLOG_LOG_LEVEL='2147483648' is not valid"},
      {"EVENTLOG_LOG_LEVEL", "-", "", "EVENTLOG_LOG_LEVEL='-' is not valid"},
      {"EVENTLOG_LOG_KEEPDAYS", "14", "Level=0 FileName= KeepDays=14 SyslogHost= Ident=", ""},
      {"EVENTLOG_LOG_KEEPDAYS", "-1", "",
       "EVENTLOG_LOG_KEEPDAYS='-1' is not valid: give the days to keep dated files as a whole "
       "number from 0, or unset it"},
      {"EVENTLOG_LOG_KEEPDAYS", "7d", "", "EVENTLOG_LOG_KEEPDAYS='7d' is not valid"},
      {"EVENTLOG_LOG_FILE", "/var/log/eventlog/EventLog",
       "Level=0 FileName=/var/log/eventlog/EventLog KeepDays=0 SyslogHost= Ident=", ""},
      {"EVENTLOG_LOG_FILE", "EventLog",
       "Level=0 FileName=EventLog KeepDays=0 SyslogHost= Ident=", ""},
      {"EVENTLOG_LOG_FILE", "/var/log/eventlog/", "",
       "EVENTLOG_LOG_FILE='/var/log/eventlog/' is not valid: give the base name of the daily "
       "files, such as /var/log/EventLog, or unset it"},
      {"EVENTLOG_SYSLOG_HOST", "127.0.0.1",
       "Level=0 FileName= KeepDays=0 SyslogHost=127.0.0.1 Ident=", ""},
      {"EVENTLOG_SYSLOG_HOST", "127.0.0.1:5514",
       "Level=0 FileName= KeepDays=0 SyslogHost=127.0.0.1:5514 Ident=", ""},
      {"EVENTLOG_SYSLOG_HOST", "logs.example:65535",
       "Level=0 FileName= KeepDays=0 SyslogHost=logs.example:65535 Ident=", ""},
      {"EVENTLOG_SYSLOG_HOST", "127.0.0.1:0", "",
       "EVENTLOG_SYSLOG_HOST='127.0.0.1:0' is not valid: give host or host:port with a port from "
       "1 to 65535, or unset it"},
      {"EVENTLOG_SYSLOG_HOST", "127.0.0.1:65536", "",
       "EVENTLOG_SYSLOG_HOST='127.0.0.1:65536' is not valid"},
      {"EVENTLOG_SYSLOG_HOST", "127.0.0.1:", "", "EVENTLOG_SYSLOG_HOST='127.0.0.1:' is not valid"},
      {"EVENTLOG_SYSLOG_HOST", ":514", "", "EVENTLOG_SYSLOG_HOST=':514' is not valid"},
      {"EVENTLOG_SYSLOG_HOST", "127.0.0.300", "",
       "EVENTLOG_SYSLOG_HOST='127.0.0.300' is not valid"},
      {"EVENTLOG_SYSLOG_HOST", "log host", "", "EVENTLOG_SYSLOG_HOST='log host' is not valid"},
      {"EVENTLOG_LOG_IDENT", "eventlog", "Level=0 FileName= KeepDays=0 SyslogHost= Ident=eventlog",
       ""},
      {"EVENTLOG_LOG_IDENT", "a\rb", "", "EVENTLOG_LOG_IDENT='a\\x0Db' is not valid"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.variable) + "=" + c.value);
    tLog log;
    try {
      ApplyLogSetting(log, c.variable, c.value);
      EXPECT_EQ(Fields(log), c.fields);
      EXPECT_EQ(c.error, "");
    } catch (const EConvertError& failure) {
      EXPECT_EQ(c.fields, "");
      EXPECT_EQ(failure.Message().substr(0, c.error.size()), c.error) << failure.Message();
      EXPECT_EQ(Fields(log), kDefaults);
    }
  }
}

TEST(LogSettingsFromEnvironment, ABareRunKeepsTheDefaultsAndASetOneTakesEveryVariable) {
  ScopedGlobalSettings keep;
  {
    ScopedEnvironment level("EVENTLOG_LOG_LEVEL", nullptr), file("EVENTLOG_LOG_FILE", nullptr),
        days("EVENTLOG_LOG_KEEPDAYS", nullptr), host("EVENTLOG_SYSLOG_HOST", nullptr),
        ident("EVENTLOG_LOG_IDENT", nullptr);
    GlobalSettings = tGlobalSettings{};
    ReadLogSettingsFromEnvironment();
    EXPECT_EQ(Fields(GlobalSettings.Log), kDefaults);
  }
  ScopedEnvironment level("EVENTLOG_LOG_LEVEL", "5"), file("EVENTLOG_LOG_FILE", "logs/EventLog"),
      days("EVENTLOG_LOG_KEEPDAYS", "7"), host("EVENTLOG_SYSLOG_HOST", "localhost:5514"),
      ident("EVENTLOG_LOG_IDENT", "watch");
  GlobalSettings = tGlobalSettings{};
  ReadLogSettingsFromEnvironment();
  EXPECT_EQ(Fields(GlobalSettings.Log),
            "Level=5 FileName=logs/EventLog KeepDays=7 SyslogHost=localhost:5514 Ident=watch");
  // The first value that does not read stops the reading with its variable's name.
  ScopedEnvironment bad("EVENTLOG_LOG_KEEPDAYS", "a week");
  EXPECT_THROW(ReadLogSettingsFromEnvironment(), EConvertError);
}

}  // namespace
