// EventLog with a stand-in event log: the program's own entry (monitor/main.cpp) linked with the
// suite's stand-in for the event log service (fake_eventlog), which serves the records that the
// file "fake-log.txt" in the working folder lists when the program starts. Wine's event log
// service keeps no records, so the Windows service's test under Wine's Service Control Manager
// runs this program as its EventLog.exe.
//
// fake-log.txt: one record a line, oldest first: "<record number> <seconds since 1970 (UTC)>
// <event ID> <source>|<message>"; the log is Application.
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/fake_eventlog.h"
#include "tests/support/record_builder.h"

namespace {

std::vector<FakeEventLog> LogsFromFile() {
  FakeEventLog log;
  log.Name = "Application";
  std::ifstream file("fake-log.txt");
  std::string line;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream fields(line);
    AnsiRecordFields record;
    std::string rest;
    if (!(fields >> record.RecordNumber >> record.TimeGenerated >> record.EventID)) continue;
    std::getline(fields >> std::ws, rest);
    const std::size_t bar = rest.find('|');
    record.TimeWritten = record.TimeGenerated;
    record.EventType = 4;
    record.Source = rest.substr(0, bar);
    record.Computer = "WINE";
    if (bar != std::string::npos) record.Strings = {rest.substr(bar + 1)};
    log.Records.insert(log.Records.begin(), BuildAnsiRecord(record));
  }
  return {log};
}

// Serves the records for the whole run.
const ScopedFakeEventLogService* const service = new ScopedFakeEventLogService(LogsFromFile());

}  // namespace
