#include <fcntl.h>
#include <grp.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "tests/support/hostile_files.h"

bool MakeFifo(const std::string& path) { return mkfifo(path.c_str(), 0666) == 0; }

bool MakeNullDevice(const std::string& path) {
  return mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
}

bool ReleaseFifoReader(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  close(fd);
  return true;
}

bool RunningAsRoot() { return geteuid() == 0; }

EntryStatus StatusOf(const std::string& path) {
  EntryStatus status;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return status;
  status.Exists = true;
  status.Mode = st.st_mode & 07777;
  status.Owner = st.st_uid;
  status.Group = st.st_gid;
  return status;
}

long GroupNumber(const std::string& name) {
  const group* found = getgrnam(name.c_str());
  return found == nullptr ? -1 : long(found->gr_gid);
}

bool GiveToGroup(const std::string& path, unsigned group) {
  return lchown(path.c_str(), uid_t(-1), gid_t(group)) == 0;
}

EntrySwapper::EntrySwapper(std::string first, std::string second)
    : first_(std::move(first)), second_(std::move(second)) {
  thread_ = std::thread([this] {
    while (!stop_) {
      if (renameat2(AT_FDCWD, first_.c_str(), AT_FDCWD, second_.c_str(), RENAME_EXCHANGE) != 0)
        return;
      ++swaps_;
    }
    // An odd count leaves the entries swapped: one more puts them back.
    if (swaps_ % 2 != 0)
      renameat2(AT_FDCWD, first_.c_str(), AT_FDCWD, second_.c_str(), RENAME_EXCHANGE);
  });
}

EntrySwapper::~EntrySwapper() {
  stop_ = true;
  thread_.join();
}
