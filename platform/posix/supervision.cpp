#include "platform/supervision.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/errors.h"
#include "platform/errors.h"
#include "platform/posix/handles.h"

extern char** environ;

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

// Standard error is the errors pipe; write() is safe between fork and exec where printf is not.
void TellStartFailure(const char* what, const char* name) {
  const char* parts[] = {"eventlog-service: ", what, name, "\n"};
  for (const char* part : parts) {
    if (write(2, part, std::strlen(part)) < 0) return;
  }
}

// In the child between fork and exec: only async-signal-safe calls.
[[noreturn]] void ExecSupervised(const char* program, const char* directory, int outputFd,
                                 int errorsFd, char* const* environment,
                                 const sigset_t& previousMask, pid_t supervisor) {
  // A supervisor that is killed leaves nobody to read the program's lines: the program is asked
  // to stop as if the supervisor had passed a stop request on (also when it went before this).
  if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != supervisor) _exit(126);
  for (int signalNumber : kStopSignals) signal(signalNumber, SIG_DFL);
  signal(SIGPIPE, SIG_DFL);
  sigprocmask(SIG_SETMASK, &previousMask, nullptr);
  const int nullFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (nullFd < 0 || dup2(nullFd, 0) < 0 || dup2(outputFd, 1) < 0 || dup2(errorsFd, 2) < 0)
    _exit(126);
  // From here standard error is the pipe the supervisor reads as errors.
  if (chdir(directory) != 0) {
    TellStartFailure("cannot enter ", directory);
    _exit(126);
  }
  char* const argv[] = {const_cast<char*>(program), nullptr};
  execve(program, argv, environment);
  TellStartFailure("cannot start ", program);
  _exit(127);
}

}  // namespace

bool LaunchSupervised(const std::string& program, const std::string& directory,
                      const std::vector<EnvironmentSetting>& environment,
                      SupervisedProgram& started, std::uint32_t& errorCode) {
  // The child's environment is made before the fork: between fork and exec only
  // async-signal-safe calls may run.
  std::vector<std::string> variables;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string variable = *entry;
    bool replaced = false;
    for (const EnvironmentSetting& setting : environment)
      replaced = replaced || variable.starts_with(setting.Name + "=");
    if (!replaced) variables.push_back(variable);
  }
  for (const EnvironmentSetting& setting : environment)
    variables.push_back(setting.Name + "=" + setting.Value);
  std::vector<char*> childEnvironment;
  for (std::string& variable : variables) childEnvironment.push_back(variable.data());
  childEnvironment.push_back(nullptr);

  // The stop requests wait while the child is made, so none is lost between fork and handler.
  const sigset_t stopSignals = StopSignalSet();
  sigset_t previousMask;
  sigprocmask(SIG_BLOCK, &stopSignals, &previousMask);
  InstallStopForwarding();

  int output[2], errors[2];
  if (pipe2(output, O_CLOEXEC) != 0) {
    errorCode = static_cast<std::uint32_t>(errno);
    sigprocmask(SIG_SETMASK, &previousMask, nullptr);
    return false;
  }
  UniqueFd outputReading(output[0]);
  UniqueFd outputWriting(output[1]);
  if (pipe2(errors, O_CLOEXEC) != 0) {
    errorCode = static_cast<std::uint32_t>(errno);
    sigprocmask(SIG_SETMASK, &previousMask, nullptr);
    return false;
  }
  UniqueFd errorsReading(errors[0]);
  UniqueFd errorsWriting(errors[1]);
  const pid_t supervisor = getpid();
  const pid_t child = fork();
  if (child == 0)
    ExecSupervised(program.c_str(), directory.c_str(), outputWriting.get(), errorsWriting.get(),
                   childEnvironment.data(), previousMask, supervisor);
  const int forkError = errno;
  // Only the child writes: its end, once it exits, ends the supervisor's reading.
  outputWriting.reset();
  errorsWriting.reset();
  if (child < 0) {
    errorCode = static_cast<std::uint32_t>(forkError);
    sigprocmask(SIG_SETMASK, &previousMask, nullptr);
    return false;
  }
  supervisedId = child;
  if (pendingSignal != 0) kill(child, pendingSignal);
  sigprocmask(SIG_SETMASK, &previousMask, nullptr);
  started = {child, outputReading.release(), errorsReading.release()};
  return true;
}

long ReadSupervisedStream(int stream, char* buffer, std::size_t size, int& errorCode) {
  for (;;) {
    const ssize_t count = read(stream, buffer, size);
    if (count >= 0) return static_cast<long>(count);
    if (errno != EINTR) {
      errorCode = errno;
      return -1;
    }
  }
}

bool WaitUntilAnyReadable(const std::vector<int>& descriptors, std::vector<bool>& flags,
                          int& errorCode) {
  std::vector<pollfd> polled;
  for (int descriptor : descriptors) polled.push_back({descriptor, POLLIN, 0});
  flags.assign(descriptors.size(), false);
  for (;;) {
    const int count = poll(polled.data(), polled.size(), -1);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) {
      errorCode = errno;
      return false;
    }
    for (std::size_t i = 0; i < polled.size(); ++i)
      flags[i] = polled[i].fd >= 0 && polled[i].revents != 0;
    return true;
  }
}

bool RunToEnd(const std::string& program, const std::vector<std::string>& arguments,
              ProgramEnd& end, std::string& error) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  // Made before the fork: the child may only write it.
  const std::string failure = "cannot start " + program + "\n";
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) {
    error = std::strerror(errno);
    return false;
  }
  if (child == 0) {
    execv(program.c_str(), argv.data());
    if (write(2, failure.data(), failure.size()) < 0) _exit(127);
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno == EINTR) continue;
    error = std::strerror(errno);
    return false;
  }
  end.BySignal = WIFSIGNALED(status);
  end.Code = end.BySignal ? WTERMSIG(status) : WEXITSTATUS(status);
  return true;
}

ProgramEnd WaitForSupervised(SupervisedProgram& program) {
  for (int* stream : {&program.Output, &program.Errors}) {
    CloseDescriptor(*stream);
    *stream = -1;
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
