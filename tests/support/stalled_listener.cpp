#include "tests/support/stalled_listener.h"

#include "platform/sockets.h"
#include "tests/support/test_sockets.h"

namespace {

constexpr std::uint32_t kLoopback = 0x7F000001;
constexpr int kTimedOut = 10060;

std::string Failure(const char* what, int errorCode) {
  return std::string(what) + ": Socket Error # " + std::to_string(errorCode) + " " +
         SocketErrorText(errorCode);
}

}  // namespace

StalledListener::StalledListener() {
  int errorCode = 0;
  // A queue of length 0: the system keeps at most one waiting connection, and drops the
  // opening segments of the next ones without answering.
  listener_ = ListenWithoutQueue(kLoopback, errorCode);
  if (listener_ == platform::kInvalidSocket) {
    why_ = Failure("cannot listen", errorCode);
    return;
  }
  port_ = platform::LocalPort(listener_);
  // Fill the queue until an attempt gets no answer within a short wait.
  for (int attempt = 0; attempt < 8 && !ready_; ++attempt) {
    const platform::SocketHandle filler = platform::OpenStreamSocket(errorCode);
    if (filler == platform::kInvalidSocket) break;
    fillers_.push_back(filler);
    if (platform::ConnectStream(filler, kLoopback, port_, 200, errorCode)) continue;
    if (errorCode != kTimedOut) {
      why_ = Failure("cannot connect", errorCode);
      return;
    }
    ready_ = true;
  }
  if (!ready_ && why_.empty()) why_ = "every connection attempt was answered";
}

StalledListener::~StalledListener() {
  for (platform::SocketHandle filler : fillers_) platform::CloseSocket(filler);
  platform::CloseSocket(listener_);
}
