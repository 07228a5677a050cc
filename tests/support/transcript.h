// Reading console transcripts of EventLog: the date-time line of a report changes from run to run,
// so the tests check its shape and compare the rest byte for byte.
#pragma once

#include <gtest/gtest.h>

#include <regex>
#include <string>

// A report's time line under the default regional settings (m/d/yy h:mm:ss am/pm; the time is
// left out at midnight).
inline const std::regex kDefaultTimeLine(R"(\d{1,2}/\d{1,2}/\d\d( \d{1,2}:\d\d:\d\d (am|pm))?)");

// Splits "prefix + <date-time line> + rest": checks the prefix and the line's shape, returns rest.
inline std::string AfterReportTime(const std::string& output, const std::string& prefix,
                                   const std::regex& timeLine = kDefaultTimeLine) {
  EXPECT_EQ(output.substr(0, prefix.size()), prefix);
  std::size_t end = output.find("\r\n", prefix.size());
  if (end == std::string::npos) {
    ADD_FAILURE() << "no report time in " << output;
    return "";
  }
  std::string line = output.substr(prefix.size(), end - prefix.size());
  EXPECT_TRUE(std::regex_match(line, timeLine)) << '"' << line << '"';
  return output.substr(end + 2);
}

// The lines of a report after its time line, as EventLog prints them.
inline std::string ReportLines(const std::string& id, const std::string& source,
                               const std::string& generated, const std::string& details,
                               const std::string& action) {
  return "MyEventLogRecord.EventLogRecord.EventID=" + id + "\r\nMyEventLogRecord.Source=" + source +
         "\r\nMyEventLogRecord.TimeGeneratedAsDateTime=" + generated +
         "\r\nMyEventLogRecord.Details=" + details + "\r\nMyEventLogRecord.Action=" + action +
         "\r\n";
}
