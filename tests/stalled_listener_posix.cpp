#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "stalled_listener.h"

StalledListener::StalledListener() {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  // A queue of length 0: the system keeps at most one waiting connection, and drops the
  // opening segments of the next ones without answering.
  if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      listen(listener_, 0) != 0 ||
      getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    why_ = std::string("cannot listen: ") + std::strerror(errno);
    return;
  }
  port_ = ntohs(address.sin_port);
  // Fill the queue until an attempt gets no answer within a short wait.
  for (int attempt = 0; attempt < 8 && !ready_; ++attempt) {
    int filler = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (filler < 0) break;
    fillers_.push_back(filler);
    if (connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) continue;
    if (errno != EINPROGRESS) {
      why_ = std::string("cannot connect: ") + std::strerror(errno);
      return;
    }
    pollfd entry{filler, POLLOUT, 0};
    ready_ = poll(&entry, 1, 200) == 0;
  }
  if (!ready_ && why_.empty()) why_ = "every connection attempt was answered";
}

StalledListener::~StalledListener() {
  for (int filler : fillers_) close(filler);
  if (listener_ >= 0) close(listener_);
}
