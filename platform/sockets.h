// IPv4 sockets. Error numbers are the Windows Sockets numbers on every system (10061 a refused
// connection, 11001 a host not found, ...), so that messages read the same everywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/errors.h"

// "Socket Error # <number>" CR LF and the number's text.
class ESocketError : public Exception {
 public:
  explicit ESocketError(int errorCode);
  int ErrorCode() const { return errorCode_; }

 private:
  int errorCode_;
};
EVENTLOG_DECLARE_EXCEPTION(EInvalidSocket)  // "Cannot allocate socket."

// The text for a socket error number; empty for a number the table lacks.
std::string SocketErrorText(int errorCode);

namespace platform {

using SocketHandle = std::intptr_t;
constexpr SocketHandle kInvalidSocket = -1;

// The first IPv4 address of a host name, in host byte order; false with the error number
// (11001 when the name is unknown).
bool LookupIPv4(const std::string& host, std::uint32_t& address, int& errorCode);

// An unbound IPv4 datagram socket; kInvalidSocket with the error number.
SocketHandle OpenDatagramSocket(int& errorCode);
// Sends one datagram; the bytes sent, or -1 with the error number.
long SendDatagram(SocketHandle socket, std::uint32_t address, std::uint16_t port, const void* data,
                  std::size_t size, int& errorCode);
void CloseSocket(SocketHandle socket);

}  // namespace platform
