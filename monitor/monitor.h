// The monitor: the version line, the settings, and the cycle until the last one or a failure; a
// new match is reported, then the action the settings name (monitor/actions) runs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "monitor/eventsearch.h"

// The monitor's process-wide records.
extern tEventSearchRecord EventSearchRecord;
extern tMyEventLogRecord MyEventLogRecord;

// A step of the start that runs right after the version line, where a failure ends the monitor on
// its error line like the settings' own.
using StartUpStep = void (*)();

// Runs the monitor and returns the process's exit code.
int RunMonitor(StartUpStep readKitSettings = nullptr);

// The cycle's search and its decision: true when the cycle reports the record, a match of this
// very search generated after the settings' LoggedAfter. With a memory, the search reads only
// what the log gained since the memory's search (FindLatestEventSince); without, the whole log.
bool CycleFindsReport(const tEventSearchRecord& settings, tMyEventLogRecord& record,
                      tSearchMemory* memory);

// Whether EVENTLOG_WHOLE_SEARCH=1 asks every cycle to read the whole log.
bool WholeSearchRequested();

// The lines of a report after its time line: the record's event ID, source, generation time and
// details, then the action.
std::vector<std::string> ReportRecordLines(const tMyEventLogRecord& record,
                                           const std::string& action);

// The wait after a cycle in milliseconds: none for 0 or less, the longest count for more
// seconds than it can hold.
std::uint32_t CycleWaitMilliseconds(std::int32_t sleepSeconds);
