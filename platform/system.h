// System information: the computer's name, the program's path, memory, up time, the beep; the
// process's user and environment.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// The computer's name; empty when the system does not give it.
std::string ComputerName();

// The full path of the running program's executable file.
std::string ExecutablePath();

// The program's arguments, its name first, in the 8-bit set (platform/text.h), from main's argc
// and argv. Linux gives them as they are. On Windows they are read again from the wide command
// line, since the C library's narrow ones pass through the code page's best fit, which makes
// "Ω" an "O" and "Ł" an "L" and so may name another folder: here a character the code
// page lacks becomes "?", and the argument is added to lost as it then reads.
std::vector<std::string> ProgramArguments(int argc, char** argv, std::vector<std::string>& lost);

// Whether a character ends a directory part of a path on this system.
bool IsPathSeparator(char c);

// Memory figures in bytes as the system reports them.
struct MemoryFigures {
  std::uint32_t Load = 0;  // percentage of physical memory in use
  std::uint64_t TotalPhys = 0;
  std::uint64_t AvailPhys = 0;
  std::uint64_t TotalPageFile = 0;  // committable memory
  std::uint64_t AvailPageFile = 0;
  std::uint64_t TotalVirtual = 0;  // the process's user-mode address space
  std::uint64_t AvailVirtual = 0;
};
// False when the system refuses the figures.
bool ReadMemoryFigures(MemoryFigures& figures);

// Milliseconds since the system started, without wrapping.
std::uint64_t MillisecondsSinceBoot();

// Sounds a tone and returns when it has played.
void Beep(std::uint32_t frequency, std::uint32_t durationMilliseconds);

// The name of the user this process runs as; empty when the system does not say.
std::string CurrentUserName();

// Whether this process may become another user: root on Linux. Never on Windows, where a program
// runs as the user who starts it (the task's user, for EventLog).
bool CanSwitchUser();

// Becomes the named user, with its group and supplementary groups, for the rest of the process;
// false with the system's reason (no such user, a refused switch, or no switching here).
bool SwitchToUser(const std::string& name, std::string& error);

// Sets a variable of this process's environment; false with the system's reason.
bool SetEnvironmentValue(const std::string& name, const std::string& value, std::string& error);

}  // namespace platform
