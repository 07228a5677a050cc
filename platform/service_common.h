// What the services of both systems need besides their supervision: a loopback datagram channel
// for EventLog's log entries, random bytes for its secret, comparing, telling apart and removing
// the service's own files without following links, and telling whether a standard stream is the
// journal (never on Windows). Linux: platform/posix/service_common.cpp; Windows:
// platform/win32/service_common.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// A variable set (or replaced) in the started program's environment only.
struct EnvironmentSetting {
  std::string Name;
  std::string Value;
};

// Closes a stream or socket of this header or of supervision.h; -1 is left alone.
void CloseDescriptor(int descriptor);

// A datagram socket bound to an ephemeral port of 127.0.0.1, not passed on to started programs;
// -1 with the error number. The port is set on success.
int OpenLoopbackReceiver(std::uint16_t& port, int& errorCode);
// Takes one datagram that is already waiting, without waiting for one; false when none is (or the
// socket failed).
bool ReceiveWaitingDatagram(int socket, std::string& datagram);

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
