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

// The system's form of an address and port, and its length.
struct NativeAddress {
  sockaddr_storage Storage;
  socklen_t Length = 0;
  const sockaddr* Get() const { return reinterpret_cast<const sockaddr*>(&Storage); }
};

NativeAddress NativeOf(const tSocketAddress& address, std::uint16_t port) {
  NativeAddress native;
  std::memset(&native.Storage, 0, sizeof native.Storage);
  if (!address.IsIPv6) {
    const sockaddr_in v4 = IPv4Address(address.IPv4, port);
    std::memcpy(&native.Storage, &v4, sizeof v4);
    native.Length = sizeof v4;
    return native;
  }
  sockaddr_in6 v6;
  std::memset(&v6, 0, sizeof v6);
  v6.sin6_family = AF_INET6;
  v6.sin6_port = htons(port);
  std::memcpy(&v6.sin6_addr, address.IPv6.data(), address.IPv6.size());
  std::memcpy(&native.Storage, &v6, sizeof v6);
  native.Length = sizeof v6;
  return native;
}

int FamilyOf(const tSocketAddress& address) { return address.IsIPv6 ? AF_INET6 : AF_INET; }

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

bool LookupAddress(const std::string& host, tSocketAddress& address, int& errorCode) {
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  int result = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  const addrinfo* chosen = nullptr;
  if (result == 0) {
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next)
      if (entry->ai_family == AF_INET) {
        chosen = entry;
        break;
      }
    for (const addrinfo* entry = found; chosen == nullptr && entry != nullptr;
         entry = entry->ai_next)
      if (entry->ai_family == AF_INET6) chosen = entry;
  }
  if (chosen == nullptr) {
    errorCode = result == EAI_SYSTEM   ? SocketErrorNumber(errno)
                : result == EAI_MEMORY ? core::kWsaeNoBufs
                                       : core::kWsaHostNotFound;
    if (found) freeaddrinfo(found);
    return false;
  }
  if (chosen->ai_family == AF_INET) {
    address = IPv4SocketAddress(
        ntohl(reinterpret_cast<const sockaddr_in*>(chosen->ai_addr)->sin_addr.s_addr));
  } else {
    std::array<std::uint8_t, 16> bytes{};
    std::memcpy(bytes.data(), &reinterpret_cast<const sockaddr_in6*>(chosen->ai_addr)->sin6_addr,
                bytes.size());
    address = IPv6SocketAddress(bytes);
  }
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

SocketHandle OpenStreamSocket(const tSocketAddress& kind, int& errorCode) {
  int handle = socket(FamilyOf(kind), SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
  if (handle < 0) {
    errorCode = LastSocketError();
    return kInvalidSocket;
  }
  return handle;
}

bool BindAnyAddress(SocketHandle socket, const tSocketAddress& kind, int& errorCode) {
  tSocketAddress anyAddress;  // 0.0.0.0, or :: for IPv6
  anyAddress.IsIPv6 = kind.IsIPv6;
  const NativeAddress any = NativeOf(anyAddress, 0);
  if (bind(Descriptor(socket), any.Get(), any.Length) == 0) return true;
  errorCode = LastSocketError();
  return false;
}

ConnectStart StartConnect(SocketHandle socket, const tSocketAddress& address, std::uint16_t port,
                          int& errorCode) {
  const NativeAddress target = NativeOf(address, port);
  if (connect(Descriptor(socket), target.Get(), target.Length) == 0) return ConnectStart::Connected;
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

SocketHandle ListenStream(const tSocketAddress& address, std::uint16_t port, int& errorCode) {
  UniqueFd handle(
      socket(FamilyOf(address), SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP));
  if (!handle) {
    errorCode = LastSocketError();
    return kInvalidSocket;
  }
  int reuse = 1;
  setsockopt(handle.get(), SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
  if (address.IsIPv6) setsockopt(handle.get(), IPPROTO_IPV6, IPV6_V6ONLY, &reuse, sizeof reuse);
  const NativeAddress local = NativeOf(address, port);
  if (bind(handle.get(), local.Get(), local.Length) != 0 || listen(handle.get(), SOMAXCONN) != 0) {
    errorCode = LastSocketError();
    return kInvalidSocket;
  }
  return handle.release();
}

std::uint16_t LocalPort(SocketHandle socket) {
  sockaddr_storage local;
  socklen_t size = sizeof local;
  if (getsockname(Descriptor(socket), reinterpret_cast<sockaddr*>(&local), &size) != 0) return 0;
  if (local.ss_family == AF_INET6)
    return ntohs(reinterpret_cast<const sockaddr_in6*>(&local)->sin6_port);
  return ntohs(reinterpret_cast<const sockaddr_in*>(&local)->sin_port);
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
