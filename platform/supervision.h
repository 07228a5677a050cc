// Supervising one program as a systemd service: starting it with its standard output and standard
// error on pipes and extra environment variables of its own, waiting on those pipes and a loopback
// datagram socket at once, passing on the requests to stop, ending the way it ended.
// Linux only: the steps of the systemd service (eventlog-service); what both services share (the
// loopback channel, the service's own files) is platform/service_common.h, and the Windows
// service's calls to the Service Control Manager are platform/service_control.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/service_common.h"

namespace platform {

// A started program whose standard output and standard error the supervisor reads.
struct SupervisedProgram {
  long Id = -1;
  int Output = -1;  // the reading end of its standard output
  int Errors = -1;  // the reading end of its standard error
};

// Starts the program in the directory with standard input from the null device, standard output
// and standard error on pipes of their own, and the supervisor's environment with the settings on
// top. From then on, a request to stop the supervisor (SIGTERM, SIGINT, SIGHUP, SIGQUIT) is passed
// on to the program instead, and when the supervisor dies the program gets SIGTERM. False with the
// system's error code when the program cannot be started.
bool LaunchSupervised(const std::string& program, const std::string& directory,
                      const std::vector<EnvironmentSetting>& environment,
                      SupervisedProgram& started, std::uint32_t& errorCode);

// LaunchSupervised, raising EOSError when the program cannot be started.
inline SupervisedProgram StartSupervised(const std::string& program, const std::string& directory,
                                         const std::vector<EnvironmentSetting>& environment) {
  SupervisedProgram started;
  std::uint32_t errorCode = 0;
  if (!LaunchSupervised(program, directory, environment, started, errorCode))
    RaiseLastOSError(errorCode);
  return started;
}

// Reads up to size bytes of one of the program's streams (Output or Errors); 0 at its end, -1 on
// failure (errorCode set). A signal that interrupts the read starts it again.
long ReadSupervisedStream(int stream, char* buffer, std::size_t size, int& errorCode);

// Waits without a time limit until one of the descriptors has something to read, has ended or
// failed, and sets the flag of each such one (flags has one per descriptor); a descriptor of -1
// is left out. A signal that interrupts the wait starts it again. False with the error number.
bool WaitUntilAnyReadable(const std::vector<int>& descriptors, std::vector<bool>& flags,
                          int& errorCode);

// How a program ended: its exit code, or the number of the signal that ended it.
struct ProgramEnd {
  bool BySignal = false;
  int Code = 0;
};
// Closes the streams still open and waits until the program has ended.
ProgramEnd WaitForSupervised(SupervisedProgram& program);

// Runs the program with the arguments (argv[1] on), sharing this process's standard streams and
// environment, and waits for its end; false with the system's reason when it cannot be started.
bool RunToEnd(const std::string& program, const std::vector<std::string>& arguments,
              ProgramEnd& end, std::string& error);

// Ends the supervisor the way its program ended: the same exit code, or the same signal (without
// a core file of its own); 128 + the signal's number when the signal cannot be raised.
[[noreturn]] void EndLike(const ProgramEnd& end);

}  // namespace platform
