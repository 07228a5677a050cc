// Small file, text and system helpers shared by the page sender, the log writer and the
// exception report. None of them passes a failure on.
#pragma once

#include <cstdint>
#include <string>

#include "core/datetime.h"

// Adds text to a file; with append false it first deletes the file. An empty text opens
// nothing. True when the file exists afterwards.
bool AppendTextToFile(const std::string& text, const std::string& fileName, bool append);
// The same, with the system's text for a failure in reason.
bool AppendTextToFile(const std::string& text, const std::string& fileName, bool append,
                      std::string& reason);

// Adds one line "<date-time text>: <text>" CR LF; an empty text deletes the file.
bool AppendTimestampedLine(const std::string& text, const std::string& fileName);

// The time of day as "hh:mm:ss.zzz" with the regional time separator; exactly -1 is now.
std::string TimeToStrMs(TDateTime moment);

std::string IfThenStr(bool condition, const std::string& first, const std::string& second);

// The computer's name.
std::string GetHostName();

// The program's directory, ending with the path separator.
std::string GetAppPath();
// The directory part of a program path: up to and including the last separator, without a
// leading "\\?\".
std::string ProgramDirectoryOf(const std::string& programPath);

struct tMemoryStatusRec {
  std::int32_t MemoryLoad = 0;
  std::int64_t TotalPhys = 0;
  std::int64_t AvailPhys = 0;
  std::int32_t AvailPhysPercent = 0;
  std::int64_t TotalPageFile = 0;
  std::int64_t AvailPageFile = 0;
  std::int32_t AvailPageFilePercent = 0;
  std::int64_t TotalVirtual = 0;
  std::int64_t AvailVirtual = 0;
  std::int32_t AvailVirtualPercent = 0;
  bool Valid = false;  // every figure was filled
};

tMemoryStatusRec GetMemoryStatus();

struct tMachineUpTime {
  std::string Text;        // e.g. "0w1d1h1m1s"
  std::int64_t Ticks = 0;  // milliseconds since the system started
  double Days = 0;
};

tMachineUpTime GetMachineUpTime();
// The up time for a count of milliseconds since the system started.
tMachineUpTime MachineUpTimeFromTicks(std::uint64_t ticks);
