// Supervising one program as a service: starting it with its standard output and standard error
// on pipes and extra environment variables of its own, waiting on those pipes and a loopback
// datagram socket at once, passing on the requests to stop, ending the way it ended; comparing,
// telling apart and removing the service's own files without following links, and telling whether
// a standard stream is the journal (the files are read and saved through platform/files.h).
// Linux only: the steps of the systemd service (eventlog-service); on Windows the Task Scheduler
// supervises EventLog.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// A started program whose standard output and standard error the supervisor reads.
struct SupervisedProgram {
  long Id = -1;
  int Output = -1;  // the reading end of its standard output
  int Errors = -1;  // the reading end of its standard error
};

// A variable set (or replaced) in the started program's environment only.
struct EnvironmentSetting {
  std::string Name;
  std::string Value;
};

// Starts the program in the directory with standard input from the null device, standard output
// and standard error on pipes of their own, and the supervisor's environment with the settings on
// top. From then on, a request to stop the supervisor (SIGTERM, SIGINT, SIGHUP, SIGQUIT) is passed
// on to the program instead, and when the supervisor dies the program gets SIGTERM. Raises EOSError
// when the program cannot be started.
SupervisedProgram StartSupervised(const std::string& program, const std::string& directory,
                                  const std::vector<EnvironmentSetting>& environment);

// Reads up to size bytes of one of the program's streams (Output or Errors); 0 at its end, -1 on
// failure (errorCode set). A signal that interrupts the read starts it again.
long ReadSupervisedStream(int stream, char* buffer, std::size_t size, int& errorCode);

// Closes a stream or socket of this header; -1 is left alone.
void CloseDescriptor(int descriptor);

// A datagram socket bound to an ephemeral port of 127.0.0.1, not passed on to started programs;
// -1 with the error number. The port is set on success.
int OpenLoopbackReceiver(std::uint16_t& port, int& errorCode);
// Takes one datagram that is already waiting, without waiting for one; false when none is (or the
// socket failed).
bool ReceiveWaitingDatagram(int socket, std::string& datagram);

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

// Ends the supervisor the way its program ended: the same exit code, or the same signal (without
// a core file of its own); 128 + the signal's number when the signal cannot be raised.
[[noreturn]] void EndLike(const ProgramEnd& end);

// Bytes from the system's random source; false with the system's text in error.
bool SystemRandomBytes(std::size_t count, std::string& bytes, std::string& error);

// Whether this process's standard output (or standard error) is the journal's stream: the
// environment's JOURNAL_STREAM ("device:inode", set by systemd) names that very stream.
enum class StandardStream { Output, Errors };
bool StandardStreamIsJournal(StandardStream stream);

// Whether two regular files hold the same bytes, compared block by block: a symbolic link at the
// first name is followed, one at the second is not. False when they
// differ, either is missing or no regular file, or a read fails.
bool SameFileContents(const std::string& first, const std::string& second);

// What the entry of a name is, its symbolic link not followed.
enum class EntryKind { Missing, RegularFile, Other };
EntryKind KindOfEntry(const std::string& path);

// Removes the entry when it is a regular file; a link, a directory or anything else stays and
// gives false with the reason in error; so does a failed removal. No entry: true.
bool RemoveIfRegularFile(const std::string& path, std::string& error);

}  // namespace platform
