#include <winsock2.h>

#include "platform/sockets.h"
#include "tests/support/test_sockets.h"
#include "tests/support/test_sockets_address.h"

using test_sockets::IPv4Address;

void ResetOnClose(std::intptr_t socket) {
  linger abort{1, 0};  // on, no time to linger: the close discards and resets
  setsockopt(static_cast<SOCKET>(socket), SOL_SOCKET, SO_LINGER,
             reinterpret_cast<const char*>(&abort), sizeof abort);
}

std::intptr_t ListenWithoutQueue(std::uint32_t address, int& errorCode) {
  platform::StartSocketLayer();
  const SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  const sockaddr_in local = IPv4Address(address, 0);
  if (listener == INVALID_SOCKET ||
      bind(listener, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
      listen(listener, 0) != 0) {
    errorCode = WSAGetLastError();
    if (listener != INVALID_SOCKET) closesocket(listener);
    return platform::kInvalidSocket;
  }
  return static_cast<std::intptr_t>(listener);
}

bool BindDatagram(std::intptr_t socket, std::uint32_t address, std::uint16_t port, int& errorCode) {
  const sockaddr_in local = IPv4Address(address, port);
  if (bind(static_cast<SOCKET>(socket), reinterpret_cast<const sockaddr*>(&local), sizeof local) ==
      0)
    return true;
  errorCode = WSAGetLastError();
  return false;
}

// Windows lets every process bind them; under Wine the host system decides, so try one.
bool MayBindPrivilegedPorts() {
  int errorCode = 0;
  const platform::SocketHandle probe = platform::OpenDatagramSocket(errorCode);
  if (probe == platform::kInvalidSocket) return false;
  const bool bound = BindDatagram(probe, 0x7F000001, 1, errorCode) || errorCode == WSAEADDRINUSE;
  platform::CloseSocket(probe);
  return bound;
}
