// Supervising one program as a service: starting it with its console output on a pipe, passing
// on the requests to stop, and ending the way it ended (the state files are saved through
// platform/files.h). Linux only: the steps of the systemd service
// (eventlog-service); on Windows the Task Scheduler supervises EventLog.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// A started program whose standard output the supervisor reads.
struct SupervisedProgram {
  long Id = -1;
  int Output = -1;  // the reading end of its standard output
};

// Starts the program in the directory with standard input from the null device, standard output
// on a pipe and standard error shared with the supervisor. From then on, a request to stop the
// supervisor (SIGTERM, SIGINT, SIGHUP, SIGQUIT) is passed on to the program instead. Raises
// EOSError when the program cannot be started.
SupervisedProgram StartSupervised(const std::string& program, const std::string& directory);

// Reads up to size bytes of the program's output; 0 at its end, -1 on failure (errorCode set).
// A signal that interrupts the read starts it again.
long ReadSupervisedOutput(const SupervisedProgram& program, char* buffer, std::size_t size,
                          int& errorCode);

// How a program ended: its exit code, or the number of the signal that ended it.
struct ProgramEnd {
  bool BySignal = false;
  int Code = 0;
};
// Waits until the program has ended.
ProgramEnd WaitForSupervised(SupervisedProgram& program);

// Ends the supervisor the way its program ended: the same exit code, or the same signal (without
// a core file of its own); 128 + the signal's number when the signal cannot be raised.
[[noreturn]] void EndLike(const ProgramEnd& end);

}  // namespace platform
