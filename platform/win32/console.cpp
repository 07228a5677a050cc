// The standard handles, written and read as raw 8-bit bytes: nothing translates line ends or
// characters on the way, and nothing is buffered, so every write is flushed.
#include "platform/console.h"

#include <string>

#include "platform/win32/windows_api.h"

namespace platform {
namespace {

// Console handles of older systems refuse large single transfers.
constexpr DWORD kLargestTransfer = 16384;

bool IsUsable(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

// A pipe in PIPE_NOWAIT mode (some supervisors hand one over) takes nothing while it is full:
// the write succeeds with 0 bytes. Wine takes nothing either while the whole write does not fit,
// and does not report the mode, so any pipe that takes 0 bytes counts as full for now.
bool IsPipe(HANDLE handle) { return GetFileType(handle) == FILE_TYPE_PIPE; }

bool IsNonWaitingPipe(HANDLE handle) {
  DWORD state = 0;
  return GetNamedPipeHandleStateA(handle, &state, nullptr, nullptr, nullptr, nullptr, 0) &&
         (state & PIPE_NOWAIT) != 0;
}

// Such handles cannot be waited on, so the wait for the other end is a short sleep that grows
// while nothing moves (1 ms to 50 ms); the caller tries again after it.
class RetryPause {
 public:
  void Wait() {
    Sleep(pause_);
    if (pause_ < 50) pause_ = pause_ * 2 > 50 ? 50 : pause_ * 2;
  }
  void Reset() { pause_ = 1; }

 private:
  DWORD pause_ = 1;
};

bool WriteAll(DWORD standardHandle, const char* data, std::size_t size, int& errorCode) {
  if (size == 0) return true;
  const HANDLE handle = GetStdHandle(standardHandle);
  if (!IsUsable(handle)) {
    errorCode = ERROR_INVALID_HANDLE;
    return false;
  }
  RetryPause pause;
  DWORD largest = kLargestTransfer;  // smaller while a full pipe takes nothing
  while (size > 0) {
    const DWORD chunk = size < largest ? static_cast<DWORD>(size) : largest;
    DWORD written = 0;
    if (!WriteFile(handle, data, chunk, &written, nullptr)) {
      const DWORD error = GetLastError();
      if (error == WSAEWOULDBLOCK) {  // a non-blocking socket handed over as the output
        pause.Wait();
        continue;
      }
      errorCode = static_cast<int>(error);
      return false;
    }
    if (written == 0) {
      if (IsPipe(handle)) {  // full for now: the reader has not caught up
        if (largest > 1) largest /= 2;
        pause.Wait();
        continue;
      }
      // Any other handle that takes nothing would never finish.
      errorCode = ERROR_WRITE_FAULT;
      return false;
    }
    pause.Reset();
    largest = kLargestTransfer;
    data += written;
    size -= written;
  }
  return true;
}

// The text in the OEM code page, which the console shows; the text as it is when it holds
// ASCII only or cannot be converted.
std::string ToOemCodePage(const char* data, std::size_t size) {
  std::string text(data, size);
  bool ascii = true;
  for (char c : text) ascii &= static_cast<unsigned char>(c) < 0x80;
  if (ascii || size > 0x7FFFFFFF) return text;
  const int length = static_cast<int>(size);
  const int units = MultiByteToWideChar(CP_ACP, 0, data, length, nullptr, 0);
  if (units <= 0) return text;
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  MultiByteToWideChar(CP_ACP, 0, data, length, wide.data(), units);
  const int bytes =
      WideCharToMultiByte(CP_OEMCP, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return text;
  std::string oem(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_OEMCP, 0, wide.data(), units, oem.data(), bytes, nullptr, nullptr);
  return oem;
}

}  // namespace

bool WriteStandardOutput(const char* data, std::size_t size, int& errorCode) {
  return WriteAll(STD_OUTPUT_HANDLE, data, size, errorCode);
}

// Standard error carries the start-up failure report, which the system's own report of an
// unhandled failure writes in the OEM code page.
bool WriteStandardError(const char* data, std::size_t size, int& errorCode) {
  const std::string oem = ToOemCodePage(data, size);
  return WriteAll(STD_ERROR_HANDLE, oem.data(), oem.size(), errorCode);
}

long ReadStandardInput(char* buffer, std::size_t size, int& errorCode) {
  const HANDLE handle = GetStdHandle(STD_INPUT_HANDLE);
  // No standard input at all reads as its end.
  if (!IsUsable(handle)) return 0;
  const DWORD chunk = size < kLargestTransfer ? static_cast<DWORD>(size) : kLargestTransfer;
  RetryPause pause;
  for (;;) {
    DWORD count = 0;
    if (ReadFile(handle, buffer, chunk, &count, nullptr)) {
      // A non-waiting pipe can also report success with nothing read while its writer is there.
      if (count == 0 && IsNonWaitingPipe(handle)) {
        pause.Wait();
        continue;
      }
      return static_cast<long>(count);
    }
    const DWORD error = GetLastError();
    // A pipe whose writer has gone, and a handle that is no input, are the end of the input.
    if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF || error == ERROR_INVALID_HANDLE)
      return 0;
    // Nothing typed yet into a pipe in PIPE_NOWAIT mode, or a non-blocking socket: wait for it.
    if (error == ERROR_NO_DATA || error == WSAEWOULDBLOCK) {
      pause.Wait();
      continue;
    }
    errorCode = static_cast<int>(error);
    return -1;
  }
}

}  // namespace platform
