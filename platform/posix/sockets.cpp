#include "platform/sockets.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/handles.h"

namespace platform {
namespace {

// The Windows Sockets number for an errno value: the numbers follow the BSD names (the table
// of core/socket_errors.h), and four more errno values share a meaning with one of them.
int SocketErrorNumber(int error) {
#define EVENTLOG_ERRNO_CASE(constant, number, errnoName, text) \
  case errnoName:                                              \
    return core::constant;
  switch (error) {
    EVENTLOG_BSD_SOCKET_ERRORS(EVENTLOG_ERRNO_CASE)
    case EPERM:
      return core::kWsaeAccess;
    case ENFILE:
      return core::kWsaeMFile;
    case ENOMEM:
      return core::kWsaeNoBufs;
    case EPIPE:
      return core::kWsaeShutdown;
    default:
      return error;  // no socket meaning: the system's own number, without a text
  }
#undef EVENTLOG_ERRNO_CASE
}

sockaddr_in IPv4Address(std::uint32_t address, std::uint16_t port) {
  sockaddr_in socketAddress;
  std::memset(&socketAddress, 0, sizeof socketAddress);
  socketAddress.sin_family = AF_INET;
  socketAddress.sin_port = htons(port);
  socketAddress.sin_addr.s_addr = htonl(address);
  return socketAddress;
}

int LastSocketError() { return SocketErrorNumber(errno); }

int Descriptor(SocketHandle socket) { return static_cast<int>(socket); }

// Waits for the events within the limit; a signal that interrupts it starts the wait again.
WaitResult WaitFor(SocketHandle socket, short events, int timeoutMilliseconds, int& errorCode) {
  pollfd entry{Descriptor(socket), events, 0};
  for (;;) {
    int ready = poll(&entry, 1, timeoutMilliseconds < 0 ? -1 : timeoutMilliseconds);
    if (ready > 0) return WaitResult::Ready;
    if (ready == 0) return WaitResult::TimedOut;
    if (errno != EINTR) {
      errorCode = LastSocketError();
      return WaitResult::Failed;
    }
  }
}

}  // namespace

bool SocketLayerStarted() {
  // BSD sockets need no start; writes to a closed peer use MSG_NOSIGNAL instead of SIGPIPE.
  return true;
}

bool LookupIPv4(const std::string& host, std::uint32_t& address, int& errorCode) {
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  addrinfo* found = nullptr;
  int result = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (result != 0 || found == nullptr) {
    errorCode = result == EAI_SYSTEM   ? SocketErrorNumber(errno)
                : result == EAI_MEMORY ? core::kWsaeNoBufs
                                       : core::kWsaHostNotFound;
    if (found) freeaddrinfo(found);
    return false;
  }
  address = ntohl(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
  freeaddrinfo(found);
  return true;
}

SocketHandle OpenDatagramSocket(int& errorCode) {
  int handle = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (handle < 0) {
    errorCode = SocketErrorNumber(errno);
    return kInvalidSocket;
  }
  return handle;
}

long SendDatagram(SocketHandle socket, std::uint32_t address, std::uint16_t port, const void* data,
                  std::size_t size, int& errorCode) {
  const sockaddr_in target = IPv4Address(address, port);
  for (;;) {
    ssize_t sent = sendto(static_cast<int>(socket), data, size, MSG_NOSIGNAL,
                          reinterpret_cast<const sockaddr*>(&target), sizeof target);
    if (sent >= 0) return static_cast<long>(sent);
    if (errno != EINTR) {
      errorCode = SocketErrorNumber(errno);
      return -1;
    }
  }
}

void CloseSocket(SocketHandle socket) {
  if (socket != kInvalidSocket) close(static_cast<int>(socket));
}

SocketHandle OpenStreamSocket(int& errorCode) {
  int handle = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
  if (handle < 0) {
    errorCode = LastSocketError();
    return kInvalidSocket;
  }
  return handle;
}

bool BindAnyAddress(SocketHandle socket, int& errorCode) {
  const sockaddr_in any = IPv4Address(INADDR_ANY, 0);
  if (bind(Descriptor(socket), reinterpret_cast<const sockaddr*>(&any), sizeof any) == 0)
    return true;
  errorCode = LastSocketError();
  return false;
}

ConnectStart StartConnect(SocketHandle socket, std::uint32_t address, std::uint16_t port,
                          int& errorCode) {
  const sockaddr_in target = IPv4Address(address, port);
  if (connect(Descriptor(socket), reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0)
    return ConnectStart::Connected;
  if (errno == EINPROGRESS || errno == EINTR) return ConnectStart::Pending;
  errorCode = LastSocketError();
  return ConnectStart::Failed;
}

int PendingConnectError(SocketHandle socket) {
  int failure = 0;
  socklen_t size = sizeof failure;
  if (getsockopt(Descriptor(socket), SOL_SOCKET, SO_ERROR, &failure, &size) != 0) failure = errno;
  return failure == 0 ? 0 : SocketErrorNumber(failure);
}

WaitResult WaitUntilReadable(SocketHandle socket, int timeoutMilliseconds, int& errorCode) {
  return WaitFor(socket, POLLIN, timeoutMilliseconds, errorCode);
}

WaitResult WaitUntilWritable(SocketHandle socket, int timeoutMilliseconds, int& errorCode) {
  return WaitFor(socket, POLLOUT, timeoutMilliseconds, errorCode);
}

long ReceiveAvailable(SocketHandle socket, void* buffer, std::size_t size, int& errorCode) {
  for (;;) {
    ssize_t received = recv(Descriptor(socket), buffer, size, MSG_DONTWAIT);
    if (received >= 0) return static_cast<long>(received);
    if (errno != EINTR) {
      errorCode = LastSocketError();
      return -1;
    }
  }
}

long SendAvailable(SocketHandle socket, const void* data, std::size_t size, int& errorCode) {
  for (;;) {
    ssize_t sent = send(Descriptor(socket), data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent >= 0) return static_cast<long>(sent);
    if (errno != EINTR) {
      errorCode = LastSocketError();
      return -1;
    }
  }
}

void ShutdownSending(SocketHandle socket) { shutdown(Descriptor(socket), SHUT_WR); }

SocketHandle ListenStream(std::uint32_t address, std::uint16_t port, int& errorCode) {
  UniqueFd handle(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP));
  if (!handle) {
    errorCode = LastSocketError();
    return kInvalidSocket;
  }
  int reuse = 1;
  setsockopt(handle.get(), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  const sockaddr_in local = IPv4Address(address, port);
  if (bind(handle.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0 ||
      listen(handle.get(), SOMAXCONN) != 0) {
    errorCode = LastSocketError();
    return kInvalidSocket;
  }
  return handle.release();
}

std::uint16_t LocalPort(SocketHandle socket) {
  sockaddr_in local;
  socklen_t size = sizeof local;
  if (getsockname(Descriptor(socket), reinterpret_cast<sockaddr*>(&local), &size) != 0) return 0;
  return ntohs(local.sin_port);
}

SocketHandle AcceptStream(SocketHandle listener, int& errorCode) {
  for (;;) {
    int handle = accept4(Descriptor(listener), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (handle >= 0) return handle;
    if (errno != EINTR) {
      errorCode = LastSocketError();
      return kInvalidSocket;
    }
  }
}

}  // namespace platform
