#include "kit/logentry.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "kit/cleanup.h"
#include "kit/helpers.h"
#include "kit/syslog.h"
#include "platform/clock.h"
#include "platform/system.h"

namespace {

constexpr std::int32_t kSyslogFacility = 16;  // local use 0
constexpr std::int32_t kNewDayCode = 69990;
constexpr auto kWriteSectionPatience = std::chrono::seconds(3);
constexpr auto kWriteSectionPoll = std::chrono::milliseconds(100);

// Guards the writer's own bookkeeping (the default file name and the day change) between
// threads; recursive, as the day change logs its new-day entry through LogEntry.
std::recursive_mutex& BookkeepingLock() {
  static std::recursive_mutex lock;
  return lock;
}

std::int64_t DayNumber(TDateTime moment) { return static_cast<std::int64_t>(moment); }

void EnsureFileName() {
  std::lock_guard guard(BookkeepingLock());
  if (GlobalSettings.Log.FileName.empty()) GlobalSettings.Log.FileName = platform::ExecutablePath();
}

// The first entry of a new day prunes old dated files and logs the new-day entry first.
void HandleDayChange() {
  std::lock_guard guard(BookkeepingLock());
  tLog& log = GlobalSettings.Log;
  if (log.KeepDays <= 0 || DayNumber(Now()) == log.LastDay) return;
  DeleteOldFiles(log.FileName, "csv", log.KeepDays);
  DeleteOldFiles("Report", "xls", log.KeepDays);
  log.LastDay = DayNumber(Now());
  const tMemoryStatusRec memory = GetMemoryStatus();
  tLogRec newDay;
  newDay.Code = kNewDayCode;
  newDay.Text = NewDayText(GlobalSettings.Version, memory.MemoryLoad, memory.AvailPhysPercent,
                           memory.TotalPhys);
  LogEntry(newDay);
}

// Claims the write section, waiting while another caller holds it; false after 3 seconds.
// A steady clock measures the wait, so a change of the wall clock cannot stretch it.
bool ClaimWriteSection() {
  std::atomic_ref<bool> busy(GlobalSettings.Log.Busy);
  const auto deadline = std::chrono::steady_clock::now() + kWriteSectionPatience;
  while (busy.exchange(true)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kWriteSectionPoll);
  }
  return true;
}

void ReleaseWriteSection() { std::atomic_ref<bool>(GlobalSettings.Log.Busy).store(false); }

void WriteLine(const std::string& fileName, const std::string& codeText,
               const std::string& safeText) {
  if (!ClaimWriteSection()) return;  // given up: the line is lost, the call still completes
  try {
    AppendTextToFile(CsvLine(Now(), GlobalSettings.Log.Ident, codeText, safeText), fileName, true);
  } catch (...) {
    ReleaseWriteSection();
    throw;
  }
  ReleaseWriteSection();
}

}  // namespace

std::string CodeText(std::int32_t code) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%.*d", 5, static_cast<int>(code));
  return buffer;
}

int CodeLevel(const std::string& codeText) {
  if (codeText.empty() || codeText[0] < '0' || codeText[0] > '9') return 0;
  return codeText[0] - '0';
}

std::string SafeText(const std::string& text) {
  std::string safe = text;
  for (char& c : safe)
    if (c == '"') c = '\'';
  return safe;
}

std::string CsvLine(TDateTime moment, const std::string& ident, const std::string& codeText,
                    const std::string& safeText) {
  const std::string identColumn = (ident + std::string(12, ' ')).substr(0, 10);
  return FormatDateTime("HH:MM:SS", moment) + ",\"[" + TimeToStrMs(moment) + "]\",\"" +
         identColumn + "\"," + codeText + ",\"" + safeText + "\"\r\n";
}

std::string DailyFileName(const std::string& base, TDateTime moment) {
  return base + "-" + FormatDateTime("yyyymmdd", moment) + ".CSV";
}

std::string FormatThousands(std::int64_t value) {
  const bool negative = value < 0;
  std::uint64_t magnitude =
      negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  std::string digits = std::to_string(magnitude);
  std::string grouped;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0)
      grouped.push_back(FormatSettings().ThousandSeparator);
    grouped.push_back(digits[i]);
  }
  return negative ? "-" + grouped : grouped;
}

std::string NewDayText(const std::string& version, std::int32_t memoryLoad,
                       std::int32_t availPhysPercent, std::int64_t totalPhys) {
  return "[Function=tarn32.LogEntry][Note=New day][Version=" + version + "]" +
         "[MemoryLoad=" + std::to_string(memoryLoad) + "%]" +
         "[AvailPhysical=" + std::to_string(availPhysPercent) + "%]" +
         "[TotalPhysical=" + FormatThousands(totalPhys) + "bytes]";
}

void LogEntry(tLogRec entry) {
  std::atomic_ref<std::int32_t> errorCount(GlobalSettings.Log.ErrorCount);
  try {
    EnsureFileName();
    const std::string codeText = CodeText(entry.Code);
    const int level = CodeLevel(codeText);
    HandleDayChange();
    if (level <= GlobalSettings.Log.Level) {
      // The file is chosen now: an entry just before midnight stays in that day's file.
      const std::string fileName = DailyFileName(GlobalSettings.Log.FileName, Now());
      const std::string safeText = SafeText(entry.Text);
      if (!GlobalSettings.Log.SyslogHost.empty()) {
        try {
          SendSyslog(codeText + ": " + safeText, level, kSyslogFacility);
        } catch (...) {
          // A lost datagram is no failure of the entry.
        }
      }
      WriteLine(fileName, codeText, safeText);
    }
    errorCount.store(0);
  } catch (...) {
    errorCount.fetch_add(1);
  }
}
