#include "platform/signals.h"

#include <signal.h>

#include <cstddef>

namespace platform {
namespace {

constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};
constexpr std::size_t kStopSignalCount = sizeof kStopSignals / sizeof kStopSignals[0];

// The first request that came during the hold; 0 when none did.
volatile sig_atomic_t heldSignal = 0;

struct Hold {
  bool Active = false;
  sigset_t PreviousMask;
  struct sigaction PreviousAction[kStopSignalCount];
  bool Caught[kStopSignalCount] = {};
};
Hold hold;

void RememberRequest(int signalNumber) {
  if (heldSignal == 0) heldSignal = signalNumber;
}

sigset_t StopSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int signalNumber : kStopSignals) sigaddset(&set, signalNumber);
  return set;
}

}  // namespace

// The requests are blocked in this thread, so that its calls are not interrupted, and caught by a
// handler besides, for a request the system hands to another thread (a name lookup's).
void HoldStopRequests() {
  if (hold.Active) return;
  heldSignal = 0;
  const sigset_t stopSignals = StopSignalSet();
  pthread_sigmask(SIG_BLOCK, &stopSignals, &hold.PreviousMask);
  struct sigaction remember = {};
  remember.sa_handler = RememberRequest;
  remember.sa_mask = stopSignals;
  remember.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < kStopSignalCount; ++i) {
    hold.Caught[i] = false;
    if (sigaction(kStopSignals[i], nullptr, &hold.PreviousAction[i]) != 0) continue;
    // A request the program was started to ignore stays ignored.
    if (hold.PreviousAction[i].sa_handler == SIG_IGN) continue;
    hold.Caught[i] = sigaction(kStopSignals[i], &remember, nullptr) == 0;
  }
  hold.Active = true;
}

void ReleaseStopRequests() {
  if (!hold.Active) return;
  // A request still pending reaches the handler now; the handler then gives way to the old one.
  pthread_sigmask(SIG_SETMASK, &hold.PreviousMask, nullptr);
  for (std::size_t i = 0; i < kStopSignalCount; ++i)
    if (hold.Caught[i]) sigaction(kStopSignals[i], &hold.PreviousAction[i], nullptr);
  hold.Active = false;
  if (heldSignal != 0) raise(heldSignal);
}

void WatchStopEvent() {}

}  // namespace platform
