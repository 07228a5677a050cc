#include <windows.h>

#include <thread>

#include "tests/support/nonwaiting_pipes.h"

struct NonWaitingStandardPipes::State {
  HANDLE SavedInput = nullptr, SavedOutput = nullptr;
  HANDLE InputRead = nullptr, InputWrite = nullptr, OutputRead = nullptr, OutputWrite = nullptr;
  bool Ready = false;
  std::string Why;
  std::string Output;
  std::thread Feeder, Reader;
};

namespace {

bool MakeNonWaiting(HANDLE pipe) {
  DWORD mode = PIPE_READMODE_BYTE | PIPE_NOWAIT;
  return SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr) != 0;
}

void Close(HANDLE& handle) {
  if (handle != nullptr) CloseHandle(handle);
  handle = nullptr;
}

}  // namespace

NonWaitingStandardPipes::NonWaitingStandardPipes(std::string input,
                                                 std::chrono::milliseconds inputPause,
                                                 std::size_t readSize,
                                                 std::chrono::milliseconds readPause)
    : state_(std::make_unique<State>()) {
  State& s = *state_;
  // Small pipes, so that a long output fills them many times over.
  if (!CreatePipe(&s.InputRead, &s.InputWrite, nullptr, 4096) ||
      !CreatePipe(&s.OutputRead, &s.OutputWrite, nullptr, 4096)) {
    s.Why = "CreatePipe failed with " + std::to_string(GetLastError());
    return;
  }
  if (!MakeNonWaiting(s.InputRead) || !MakeNonWaiting(s.InputWrite) ||
      !MakeNonWaiting(s.OutputRead) || !MakeNonWaiting(s.OutputWrite)) {
    s.Why = "SetNamedPipeHandleState failed with " + std::to_string(GetLastError());
    return;
  }
  s.SavedInput = GetStdHandle(STD_INPUT_HANDLE);
  s.SavedOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  SetStdHandle(STD_INPUT_HANDLE, s.InputRead);
  SetStdHandle(STD_OUTPUT_HANDLE, s.OutputWrite);
  s.Ready = true;
  s.Feeder = std::thread([&s, input, inputPause] {
    Sleep(static_cast<DWORD>(inputPause.count()));
    DWORD written = 0;
    WriteFile(s.InputWrite, input.data(), static_cast<DWORD>(input.size()), &written, nullptr);
    Sleep(100);
    Close(s.InputWrite);  // the end of the input
  });
  s.Reader = std::thread([&s, readSize, readPause] {
    std::string buffer(readSize, '\0');
    for (;;) {
      DWORD count = 0;
      if (ReadFile(s.OutputRead, buffer.data(), static_cast<DWORD>(buffer.size()), &count, nullptr))
        s.Output.append(buffer.data(), count);
      else if (GetLastError() != ERROR_NO_DATA)
        return;  // the writing end is closed
      Sleep(static_cast<DWORD>(readPause.count()));
    }
  });
}

NonWaitingStandardPipes::~NonWaitingStandardPipes() {
  State& s = *state_;
  Output();
  if (s.Feeder.joinable()) s.Feeder.join();
  if (s.Ready) {
    SetStdHandle(STD_INPUT_HANDLE, s.SavedInput);
    SetStdHandle(STD_OUTPUT_HANDLE, s.SavedOutput);
  }
  Close(s.InputRead);
  Close(s.InputWrite);
  Close(s.OutputRead);
}

bool NonWaitingStandardPipes::Ready() const { return state_->Ready; }
const std::string& NonWaitingStandardPipes::Why() const { return state_->Why; }

std::string NonWaitingStandardPipes::Output() {
  State& s = *state_;
  Close(s.OutputWrite);
  if (s.Reader.joinable()) s.Reader.join();
  return s.Output;
}
