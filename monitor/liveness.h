// The liveness file (EVENTLOG_METRICS_FILE): what this watch has done since its start, in the
// text format that node_exporter's textfile collector reads (core/liveness_text.h). EventLog
// writes it once at start and after every cycle, before the wait. The file is replaced whole (a
// temporary beside it, then a rename: platform/files.h), readable by every user (0644), so a
// reader never sees half a file. A write that fails never stops the watch: it is said once as a
// log entry 40500 and again only after a write has succeeded (50500).
#pragma once

#include <string>

#include "core/liveness_text.h"
#include "monitor/settings.h"

struct tLivenessFile {
  std::string FileName;  // empty: no file is kept
  core::tLivenessFigures Figures;
  bool Failing = false;  // the last write failed and was said
};

// The file EVENTLOG_METRICS_FILE names (none when unset or empty), for the watch these settings
// describe, started at startUnix.
tLivenessFile LivenessFileFromEnvironment(const tEventSearchRecord& settings,
                                          const std::string& version, double startUnix);

// Writes the file with the run's counts (kit/watch.h) as they stand; never raises.
void WriteLivenessFile(tLivenessFile& file);

// The entries a failed write and the next successful one give (codes 40500 and 50500).
std::string LivenessUnwrittenText(const std::string& fileName, const std::string& reason);
std::string LivenessWrittenAgainText(const std::string& fileName);

// Seconds since 1970 (UTC), to the millisecond.
double UnixNow();
