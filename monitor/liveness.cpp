#include "monitor/liveness.h"

#include <chrono>
#include <cstdlib>
#include <exception>

#include "core/utf8.h"
#include "kit/logentry.h"
#include "kit/records.h"
#include "kit/watch.h"
#include "platform/files.h"
#include "platform/system.h"
#include "platform/text.h"

namespace {

constexpr std::int32_t kUnwrittenCode = 40500;
constexpr std::int32_t kWrittenAgainCode = 50500;
// node_exporter reads the file as a user of its own.
constexpr unsigned kLivenessFileMode = 0644;

// The program's 8-bit texts as the UTF-8 the file holds.
std::string Utf8Of(const std::string& text) {
  return core::Utf16ToUtf8(platform::AnsiToWide(text));
}

void Log(std::int32_t code, const std::string& text) {
  tLogRec entry;
  entry.Code = code;
  entry.Text = text;
  LogEntry(entry);
}

}  // namespace

double UnixNow() {
  const auto since = std::chrono::system_clock::now().time_since_epoch();
  return static_cast<double>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count()) /
         1000.0;
}

std::string LivenessUnwrittenText(const std::string& fileName, const std::string& reason) {
  return "[Function=EventLog.Liveness][Note=the liveness file could not be written][Filename=" +
         fileName + "][Reason=" + reason + "]";
}

std::string LivenessWrittenAgainText(const std::string& fileName) {
  return "[Function=EventLog.Liveness][Note=the liveness file is written again][Filename=" +
         fileName + "]";
}

tLivenessFile LivenessFileFromEnvironment(const tEventSearchRecord& settings,
                                          const std::string& version, double startUnix) {
  tLivenessFile file;
  const char* name = std::getenv("EVENTLOG_METRICS_FILE");
  if (name == nullptr || *name == '\0') return file;
  file.FileName = name;
  core::tLivenessFigures& figures = file.Figures;
  figures.Watch = Utf8Of(WatchName());
  figures.Log = Utf8Of(settings.LogFile);
  figures.EventID = settings.EventID;
  figures.Host = Utf8Of(platform::ComputerName());
  figures.Version = version;
  figures.StartUnix = startUnix;
  figures.Sleep = settings.Sleep;
  return file;
}

void WriteLivenessFile(tLivenessFile& file) {
  if (file.FileName.empty()) return;
  try {
    core::tLivenessFigures& figures = file.Figures;
    figures.LastCycleEndUnix = RunCounters.LastCycleEndUnix;
    figures.Cycles = RunCounters.Cycles;
    figures.Reports = RunCounters.Reports;
    figures.PagesAccepted = RunCounters.PagesAccepted;
    figures.PagesRefused = RunCounters.PagesRefused;
    figures.PagesFailed = RunCounters.PagesFailed;
    figures.AlertPostsAccepted = RunCounters.AlertPostsAccepted;
    figures.AlertPostsFailed = RunCounters.AlertPostsFailed;
    std::string error;
    if (platform::ReplaceFileDurably(file.FileName, core::LivenessText(figures), kLivenessFileMode,
                                     error)) {
      if (file.Failing) Log(kWrittenAgainCode, LivenessWrittenAgainText(file.FileName));
      file.Failing = false;
    } else if (!file.Failing) {
      file.Failing = true;
      Log(kUnwrittenCode, LivenessUnwrittenText(file.FileName, error));
    }
  } catch (const std::exception&) {
    // Memory ran out: the file stays as it was, and the watch goes on.
  }
}
