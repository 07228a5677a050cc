#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "core/socket_errors.h"
#include "platform/sockets.h"
#include "tests/support/test_sockets.h"
#include "tests/support/test_sockets_address.h"

using test_sockets::IPv4Address;

namespace {

// The Windows Sockets number for the errno values these helpers meet.
int SocketErrorNumber(int error) {
  switch (error) {
    case EACCES:
      return core::kWsaeAccess;
    case EADDRINUSE:
      return core::kWsaeAddrInUse;
    case EADDRNOTAVAIL:
      return core::kWsaeAddrNotAvail;
    default:
      return error;
  }
}

}  // namespace

void ResetOnClose(std::intptr_t socket) {
  linger abort{1, 0};  // on, no time to linger: the close discards and resets
  setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
}

std::intptr_t ListenWithoutQueue(std::uint32_t address, int& errorCode) {
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  const sockaddr_in local = IPv4Address(address, 0);
  if (listener < 0 ||
      bind(listener, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
      listen(listener, 0) != 0) {
    errorCode = SocketErrorNumber(errno);
    if (listener >= 0) close(listener);
    return platform::kInvalidSocket;
  }
  return listener;
}

bool BindDatagram(std::intptr_t socket, std::uint32_t address, std::uint16_t port, int& errorCode) {
  const sockaddr_in local = IPv4Address(address, port);
  if (bind(static_cast<int>(socket), reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0)
    return true;
  errorCode = SocketErrorNumber(errno);
  return false;
}

bool MayBindPrivilegedPorts() { return geteuid() == 0; }
