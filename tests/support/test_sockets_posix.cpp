#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/sockets.h"
#include "tests/support/test_sockets.h"

namespace {

sockaddr_in IPv4Address(std::uint32_t address, std::uint16_t port) {
  sockaddr_in socketAddress{};
  socketAddress.sin_family = AF_INET;
  socketAddress.sin_port = htons(port);
  socketAddress.sin_addr.s_addr = htonl(address);
  return socketAddress;
}

// The Windows Sockets number for the errno values these helpers meet.
int SocketErrorNumber(int error) {
  switch (error) {
    case EACCES:
      return 10013;
    case EADDRINUSE:
      return 10048;
    case EADDRNOTAVAIL:
      return 10049;
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
