#include "platform/supervision.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "core/errors.h"
#include "platform/errors.h"
#include "platform/posix/handles.h"

namespace platform {
namespace {

constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGQUIT};

// The program that stop requests go to; 0 until it has started.
volatile sig_atomic_t supervisedId = 0;
// A stop request that came before the program had started.
volatile sig_atomic_t pendingSignal = 0;

void PassOnStopRequest(int signalNumber) {
  const int savedErrno = errno;
  if (supervisedId > 0)
    kill(static_cast<pid_t>(supervisedId), signalNumber);
  else
    pendingSignal = signalNumber;
  errno = savedErrno;
}

void InstallStopForwarding() {
  struct sigaction action = {};
  action.sa_handler = PassOnStopRequest;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signalNumber : kStopSignals) sigaction(signalNumber, &action, nullptr);
  // A journal that went away must not end the supervisor while the program still writes.
  signal(SIGPIPE, SIG_IGN);
}

sigset_t StopSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int signalNumber : kStopSignals) sigaddset(&set, signalNumber);
  return set;
}

// Standard error is the journal; write() is safe between fork and exec where printf is not.
void TellStartFailure(const char* what, const char* name) {
  const char* parts[] = {"eventlog-service: ", what, name, "\n"};
  for (const char* part : parts) {
    if (write(2, part, std::strlen(part)) < 0) return;
  }
}

// In the child between fork and exec: only async-signal-safe calls.
[[noreturn]] void ExecSupervised(const char* program, const char* directory, int outputFd,
                                 const sigset_t& previousMask) {
  for (int signalNumber : kStopSignals) signal(signalNumber, SIG_DFL);
  signal(SIGPIPE, SIG_DFL);
  sigprocmask(SIG_SETMASK, &previousMask, nullptr);
  const int nullFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (nullFd < 0 || dup2(nullFd, 0) < 0 || dup2(outputFd, 1) < 0) _exit(126);
  if (chdir(directory) != 0) {
    TellStartFailure("cannot enter ", directory);
    _exit(126);
  }
  char* const argv[] = {const_cast<char*>(program), nullptr};
  execv(program, argv);
  TellStartFailure("cannot start ", program);
  _exit(127);
}

}  // namespace

SupervisedProgram StartSupervised(const std::string& program, const std::string& directory) {
  // The stop requests wait while the child is made, so none is lost between fork and handler.
  const sigset_t stopSignals = StopSignalSet();
  sigset_t previousMask;
  sigprocmask(SIG_BLOCK, &stopSignals, &previousMask);
  InstallStopForwarding();

  int output[2];
  if (pipe2(output, O_CLOEXEC) != 0) {
    const int errorCode = errno;
    sigprocmask(SIG_SETMASK, &previousMask, nullptr);
    RaiseLastOSError(static_cast<std::uint32_t>(errorCode));
  }
  UniqueFd reading(output[0]);
  UniqueFd writing(output[1]);
  const pid_t child = fork();
  if (child == 0) ExecSupervised(program.c_str(), directory.c_str(), writing.get(), previousMask);
  const int forkError = errno;
  // Only the child writes: its end, once it exits, ends the supervisor's reading.
  writing.reset();
  if (child < 0) {
    sigprocmask(SIG_SETMASK, &previousMask, nullptr);
    RaiseLastOSError(static_cast<std::uint32_t>(forkError));
  }
  supervisedId = child;
  if (pendingSignal != 0) kill(child, pendingSignal);
  sigprocmask(SIG_SETMASK, &previousMask, nullptr);
  return {child, reading.release()};
}

long ReadSupervisedOutput(const SupervisedProgram& program, char* buffer, std::size_t size,
                          int& errorCode) {
  for (;;) {
    const ssize_t count = read(program.Output, buffer, size);
    if (count >= 0) return static_cast<long>(count);
    if (errno != EINTR) {
      errorCode = errno;
      return -1;
    }
  }
}

ProgramEnd WaitForSupervised(SupervisedProgram& program) {
  if (program.Output >= 0) {
    close(program.Output);
    program.Output = -1;
  }
  int status = 0;
  while (waitpid(static_cast<pid_t>(program.Id), &status, 0) < 0) {
    if (errno != EINTR) return {false, 127};
  }
  supervisedId = 0;
  if (WIFSIGNALED(status)) return {true, WTERMSIG(status)};
  return {false, WEXITSTATUS(status)};
}

void EndLike(const ProgramEnd& end) {
  if (!end.BySignal) std::exit(end.Code);
  std::fflush(nullptr);
  // The program's own crash already left its trace; the supervisor adds no core file of its own.
  const struct rlimit noCore = {0, 0};
  setrlimit(RLIMIT_CORE, &noCore);
  signal(end.Code, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, end.Code);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(end.Code);
  std::_Exit(128 + end.Code);
}

}  // namespace platform
