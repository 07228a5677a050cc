#include "platform/system.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/clock.h"
#include "platform/posix/handles.h"

namespace platform {
namespace {

// The user-mode address space of a 64-bit process (47 bits), as large as it can grow when no
// limit is set.
constexpr std::uint64_t kUserAddressSpace = sizeof(void*) == 8 ? (1ull << 47) : (3ull << 30);

// A "Name:   value kB" line of a /proc status file, in bytes; false when the line is missing.
bool ReadProcKilobytes(const char* path, const char* name, std::uint64_t& bytes) {
  std::ifstream file(path);
  std::string line;
  const std::size_t nameLength = std::strlen(name);
  while (std::getline(file, line)) {
    if (line.compare(0, nameLength, name) != 0 || line.size() <= nameLength ||
        line[nameLength] != ':')
      continue;
    std::istringstream value(line.substr(nameLength + 1));
    std::uint64_t kilobytes = 0;
    if (!(value >> kilobytes)) return false;
    bytes = kilobytes * 1024;
    return true;
  }
  return false;
}

}  // namespace

std::string ComputerName() {
  // Room for 253 characters and the terminating zero, as the system's own call offers.
  char buffer[254] = {};
  if (gethostname(buffer, 253) != 0) return {};
  return std::string(buffer, strnlen(buffer, 253));
}

std::vector<std::string> ProgramArguments(int argc, char** argv, std::vector<std::string>&) {
  return std::vector<std::string>(argv, argv + argc);
}

std::string ExecutablePath() {
  std::string path(256, '\0');
  for (;;) {
    ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    if (length < 0) return {};
    if (static_cast<std::size_t>(length) < path.size()) {
      path.resize(static_cast<std::size_t>(length));
      return path;
    }
    path.resize(path.size() * 2);
  }
}

bool IsPathSeparator(char c) { return c == '/'; }

bool ReadMemoryFigures(MemoryFigures& figures) {
  struct sysinfo info;
  if (sysinfo(&info) != 0) return false;
  const std::uint64_t unit = info.mem_unit ? info.mem_unit : 1;
  figures.TotalPhys = std::uint64_t(info.totalram) * unit;
  // What can be had without swapping: the kernel's estimate, or free memory where it lacks one.
  if (!ReadProcKilobytes("/proc/meminfo", "MemAvailable", figures.AvailPhys))
    figures.AvailPhys = std::uint64_t(info.freeram + info.bufferram) * unit;
  if (figures.AvailPhys > figures.TotalPhys) figures.AvailPhys = figures.TotalPhys;
  figures.Load = figures.TotalPhys == 0
                     ? 0
                     : static_cast<std::uint32_t>((figures.TotalPhys - figures.AvailPhys) * 100 /
                                                  figures.TotalPhys);
  // Committable memory is physical memory plus swap, the swap being the page file.
  figures.TotalPageFile = figures.TotalPhys + std::uint64_t(info.totalswap) * unit;
  figures.AvailPageFile = figures.AvailPhys + std::uint64_t(info.freeswap) * unit;

  struct rlimit limit;
  figures.TotalVirtual = kUserAddressSpace;
  if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      limit.rlim_cur < kUserAddressSpace)
    figures.TotalVirtual = limit.rlim_cur;
  std::uint64_t mapped = 0;
  if (!ReadProcKilobytes("/proc/self/status", "VmSize", mapped)) return false;
  figures.AvailVirtual = mapped < figures.TotalVirtual ? figures.TotalVirtual - mapped : 0;
  return true;
}

std::uint64_t MillisecondsSinceBoot() {
  struct timespec now;
  if (clock_gettime(CLOCK_BOOTTIME, &now) != 0) clock_gettime(CLOCK_MONOTONIC, &now);
  return std::uint64_t(now.tv_sec) * 1000 + std::uint64_t(now.tv_nsec) / 1000000;
}

void Beep(std::uint32_t frequency, std::uint32_t durationMilliseconds) {
  (void)frequency;  // a terminal bell has no pitch
  // The operator's terminal rings, whatever the standard streams are redirected to.
  const UniqueFd terminal(open("/dev/tty", O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (terminal && isatty(terminal.get())) {
    ssize_t written;
    do {
      written = write(terminal.get(), "\a", 1);
    } while (written < 0 && errno == EINTR);
  }
  SleepMilliseconds(durationMilliseconds);
}

std::string CurrentUserName() {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
    return {};
  return found->pw_name;
}

bool CanSwitchUser() { return geteuid() == 0; }

bool SwitchToUser(const std::string& name, std::string& error) {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  const int lookup = getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found);
  if (found == nullptr) {
    error = lookup != 0 ? std::strerror(lookup) : "no such user";
    return false;
  }
  // Groups first: once the user is switched, the groups can no longer be changed.
  if (initgroups(found->pw_name, found->pw_gid) != 0 || setgid(found->pw_gid) != 0 ||
      setuid(found->pw_uid) != 0) {
    error = std::strerror(errno);
    return false;
  }
  if (geteuid() != found->pw_uid || getegid() != found->pw_gid) {
    error = "the system kept the former user";
    return false;
  }
  return true;
}

bool SetEnvironmentValue(const std::string& name, const std::string& value, std::string& error) {
  if (setenv(name.c_str(), value.c_str(), 1) == 0) return true;
  error = std::strerror(errno);
  return false;
}

}  // namespace platform
