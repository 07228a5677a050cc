// The Linux side of platform/service_common.h.
#include "platform/service_common.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/posix/handles.h"

namespace platform {
namespace {

std::string SystemText(int errorCode) { return std::strerror(errorCode); }

}  // namespace

void CloseDescriptor(int descriptor) {
  if (descriptor >= 0) close(descriptor);
}

int OpenLoopbackReceiver(std::uint16_t& port, int& errorCode) {
  UniqueFd fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd) {
    errorCode = errno;
    return -1;
  }
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    errorCode = errno;
    return -1;
  }
  // Room for bursts while the supervisor writes to a slow journal.
  const int room = 1 << 20;
  setsockopt(fd.get(), SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
  port = ntohs(address.sin_port);
  return fd.release();
}

bool ReceiveWaitingDatagram(int socket, std::string& datagram) {
  // The largest datagram IPv4 carries.
  datagram.resize(65536);
  for (;;) {
    const ssize_t count = recv(socket, datagram.data(), datagram.size(), MSG_DONTWAIT);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) {
      datagram.clear();
      return false;
    }
    datagram.resize(static_cast<std::size_t>(count));
    return true;
  }
}

bool SystemRandomBytes(std::size_t count, std::string& bytes, std::string& error) {
  bytes.assign(count, '\0');
  std::size_t filled = 0;
  while (filled < count) {
    const ssize_t got = getrandom(bytes.data() + filled, count - filled, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error = "the system's random source: " + SystemText(errno);
      return false;
    }
    filled += static_cast<std::size_t>(got);
  }
  return true;
}

bool StandardStreamIsJournal(StandardStream stream) {
  const char* named = std::getenv("JOURNAL_STREAM");
  if (named == nullptr) return false;
  unsigned long long device = 0, inode = 0;
  char tail = 0;
  if (std::sscanf(named, "%llu:%llu%c", &device, &inode, &tail) != 2) return false;
  struct stat status;
  if (fstat(stream == StandardStream::Output ? 1 : 2, &status) != 0) return false;
  return static_cast<unsigned long long>(status.st_dev) == device &&
         static_cast<unsigned long long>(status.st_ino) == inode;
}

bool SameFileContents(const std::string& first, const std::string& second) {
  const UniqueFd one(open(first.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  const UniqueFd other(open(second.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
  struct stat oneStatus, otherStatus;
  if (!one || !other || fstat(one.get(), &oneStatus) != 0 ||
      fstat(other.get(), &otherStatus) != 0 || !S_ISREG(oneStatus.st_mode) ||
      !S_ISREG(otherStatus.st_mode) || oneStatus.st_size != otherStatus.st_size)
    return false;
  // Fills the block as far as the file goes; the count, or -1 on failure.
  auto fill = [](int fd, char* block, std::size_t size) -> long {
    std::size_t filled = 0;
    while (filled < size) {
      const ssize_t count = read(fd, block + filled, size - filled);
      if (count < 0 && errno == EINTR) continue;
      if (count < 0) return -1;
      if (count == 0) break;
      filled += static_cast<std::size_t>(count);
    }
    return static_cast<long>(filled);
  };
  std::vector<char> oneBlock(1 << 16), otherBlock(1 << 16);
  for (;;) {
    const long oneCount = fill(one.get(), oneBlock.data(), oneBlock.size());
    const long otherCount = fill(other.get(), otherBlock.data(), otherBlock.size());
    if (oneCount < 0 || oneCount != otherCount ||
        std::memcmp(oneBlock.data(), otherBlock.data(), static_cast<std::size_t>(oneCount)) != 0)
      return false;
    if (oneCount == 0) return true;
  }
}

EntryKind KindOfEntry(const std::string& path) {
  struct stat status;
  if (lstat(path.c_str(), &status) != 0) return EntryKind::Missing;
  return S_ISREG(status.st_mode) ? EntryKind::RegularFile : EntryKind::Other;
}

bool RemoveIfRegularFile(const std::string& path, std::string& error) {
  struct stat status;
  if (lstat(path.c_str(), &status) != 0) {
    if (errno == ENOENT) return true;
    error = path + ": " + SystemText(errno);
    return false;
  }
  if (!S_ISREG(status.st_mode)) {
    error = path + ": is not a regular file and is left in place";
    return false;
  }
  // unlink never follows a link: a file swapped for a link since the check goes, not its target.
  if (unlink(path.c_str()) != 0 && errno != ENOENT) {
    error = path + ": " + SystemText(errno);
    return false;
  }
  return true;
}

}  // namespace platform
