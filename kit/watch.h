// The watch this run of EventLog serves and what the run has done so far: the names and counts
// that the liveness file (EVENTLOG_METRICS_FILE) and the alert posts (ALERTMANAGER_URL) carry.
#pragma once

#include <cstdint>
#include <string>

// The watch's name: EVENTLOG_WATCH when it is set and not empty, else "default". The services
// set it for each watch they run (eventlog@NAME on Debian, one Windows service per watch).
std::string WatchName();

// Counts since the start of the run. The cycle, the page sender and the alert poster add to them;
// nothing reads them but the liveness file.
struct tRunCounters {
  std::int64_t Cycles = 0;         // cycles completed, up to their wait
  double LastCycleEndUnix = 0;     // seconds since 1970 (UTC) when the last cycle ended; 0: none
  std::int64_t Reports = 0;        // reports printed (each report's page and posts follow it)
  std::int64_t PagesAccepted = 0;  // the gateway's answer held the success text
  std::int64_t PagesRefused = 0;   // the exchange completed without it
  std::int64_t PagesFailed = 0;    // no answer: the failure is in an exception report
  std::int64_t AlertPostsAccepted = 0;  // one per Alertmanager that took the alert
  std::int64_t AlertPostsFailed = 0;    // one per Alertmanager that did not
};

extern tRunCounters RunCounters;
