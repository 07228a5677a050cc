#include "platform/signals.h"

#include <atomic>

#include "platform/win32/windows_api.h"

namespace platform {
namespace {

// What the system's own handler gives a program that Ctrl-C ends.
constexpr UINT kControlCExit = 0xC000013A;  // STATUS_CONTROL_C_EXIT

std::atomic<bool> holding{false};
// The first request that came during the hold, plus one; 0 when none did.
std::atomic<DWORD> heldRequest{0};

// Runs on a thread of the system's. During a hold the request is kept and this thread waits
// until the hold ends: then the releasing thread ends the program, or, when the hold ended before
// it saw the request, the system's own handler does (FALSE passes the request on).
BOOL WINAPI OnStopRequest(DWORD type) {
  if (!holding.load()) return FALSE;
  DWORD none = 0;
  heldRequest.compare_exchange_strong(none, type + 1);
  while (holding.load()) Sleep(20);
  if (heldRequest.exchange(0) != 0) return FALSE;
  // The releasing thread took the request and ends the program.
  Sleep(INFINITE);
  return TRUE;
}

}  // namespace

void HoldStopRequests() {
  static const bool installed = SetConsoleCtrlHandler(OnStopRequest, TRUE) != FALSE;
  (void)installed;
  heldRequest.store(0);
  holding.store(true);
}

void ReleaseStopRequests() {
  holding.store(false);
  if (heldRequest.exchange(0) != 0) ExitProcess(kControlCExit);
}

}  // namespace platform
