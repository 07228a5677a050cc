#include "platform/signals.h"

#include <atomic>
#include <cstdlib>

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

// Waits for the stop event, then acts as the console's handler on a Ctrl-Break.
DWORD WINAPI WaitForStopEvent(LPVOID event) {
  if (WaitForSingleObject(static_cast<HANDLE>(event), INFINITE) != WAIT_OBJECT_0) return 0;
  if (!OnStopRequest(CTRL_BREAK_EVENT)) ExitProcess(kControlCExit);
  return 0;
}

}  // namespace

void WatchStopEvent() {
  const char* name = std::getenv("EVENTLOG_STOP_EVENT");
  if (name == nullptr || *name == '\0') return;
  // Only an event opens by the name: anything else of that name is refused.
  const HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, name);
  if (event == nullptr) return;
  const HANDLE thread = CreateThread(nullptr, 0, WaitForStopEvent, event, 0, nullptr);
  if (thread != nullptr) CloseHandle(thread);
}

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
