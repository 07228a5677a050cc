#include "platform/sockets.h"

#include <ws2tcpip.h>

#include <climits>
#include <cstring>
#include <mutex>

#include "platform/win32/handles.h"

namespace platform {
namespace {

// The numbers every system reports are Winsock's own here, passed on unchanged.
#define EVENTLOG_CHECK_BSD_NUMBER(constant, number, errnoName, text) \
  static_assert(core::constant == WSA##errnoName);
#define EVENTLOG_CHECK_RESOLVER_NUMBER(constant, number, winsockName, text) \
  static_assert(core::constant == winsockName);
EVENTLOG_BSD_SOCKET_ERRORS(EVENTLOG_CHECK_BSD_NUMBER)
EVENTLOG_RESOLVER_SOCKET_ERRORS(EVENTLOG_CHECK_RESOLVER_NUMBER)
#undef EVENTLOG_CHECK_BSD_NUMBER
#undef EVENTLOG_CHECK_RESOLVER_NUMBER

SOCKET Native(SocketHandle socket) { return static_cast<SOCKET>(socket); }

SocketHandle Handle(SOCKET socket) {
  return socket == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(socket);
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
  int Length = 0;
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

// Windows Sockets calls take their lengths as int.
int Length(std::size_t size) { return size > INT_MAX ? INT_MAX : static_cast<int>(size); }

// A new socket, kept from the processes this one starts and, for streams, in non-blocking mode;
// kInvalidSocket with the error number.
SocketHandle NewSocket(int family, int type, int protocol, int& errorCode) {
  if (!SocketLayerStarted()) {
    errorCode = WSANOTINITIALISED;
    return kInvalidSocket;
  }
  UniqueNativeSocket handle(socket(family, type, protocol));
  if (!handle) {
    errorCode = WSAGetLastError();
    return kInvalidSocket;
  }
  // Some layered providers refuse this; the socket works all the same.
  SetHandleInformation(reinterpret_cast<HANDLE>(handle.get()), HANDLE_FLAG_INHERIT, 0);
  if (type == SOCK_STREAM) {
    u_long nonBlocking = 1;
    if (ioctlsocket(handle.get(), FIONBIO, &nonBlocking) != 0) {
      errorCode = WSAGetLastError();
      return kInvalidSocket;
    }
  }
  return Handle(handle.release());
}

// Waits within the limit until the socket is in one of the sets: readable, or writable (a
// connection that failed shows in the exception set, so it ends a wait for writing too).
WaitResult WaitFor(SocketHandle socket, bool forWriting, int timeoutMilliseconds, int& errorCode) {
  fd_set ready;
  fd_set failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(Native(socket), &ready);
  if (forWriting) FD_SET(Native(socket), &failed);
  timeval limit{timeoutMilliseconds / 1000, timeoutMilliseconds % 1000 * 1000};
  // The first argument is ignored on this system.
  const int count =
      select(0, forWriting ? nullptr : &ready, forWriting ? &ready : nullptr,
             forWriting ? &failed : nullptr, timeoutMilliseconds < 0 ? nullptr : &limit);
  if (count > 0) return WaitResult::Ready;
  if (count == 0) return WaitResult::TimedOut;
  errorCode = WSAGetLastError();
  return WaitResult::Failed;
}

}  // namespace

bool SocketLayerStarted() {
  // The first caller starts Windows Sockets 2.2 for the whole process; the others wait for it.
  // A refusal leaves the layer unstarted, so a later caller tries again.
  static std::mutex mutex;
  static bool started = false;
  std::lock_guard lock(mutex);
  if (started) return true;
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
  if (LOBYTE(data.wVersion) != 2 || HIBYTE(data.wVersion) != 2) {
    WSACleanup();
    return false;
  }
  started = true;
  return true;
}

bool LookupAddress(const std::string& host, tSocketAddress& address, int& errorCode) {
  // An empty name would give this computer's own addresses here; it names no host.
  if (host.empty()) {
    errorCode = core::kWsaHostNotFound;
    return false;
  }
  if (!SocketLayerStarted()) {
    errorCode = WSANOTINITIALISED;
    return false;
  }
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
    // The result is the Windows Sockets number itself (11001 for an unknown name).
    errorCode = result != 0 ? result : core::kWsaHostNotFound;
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
  return NewSocket(AF_INET, SOCK_DGRAM, IPPROTO_UDP, errorCode);
}

long SendDatagram(SocketHandle socket, std::uint32_t address, std::uint16_t port, const void* data,
                  std::size_t size, int& errorCode) {
  if (size > INT_MAX) {
    errorCode = core::kWsaeMsgSize;
    return -1;
  }
  const sockaddr_in target = IPv4Address(address, port);
  int sent = sendto(Native(socket), static_cast<const char*>(data), static_cast<int>(size), 0,
                    reinterpret_cast<const sockaddr*>(&target), sizeof target);
  if (sent != SOCKET_ERROR) return sent;
  errorCode = WSAGetLastError();
  return -1;
}

void CloseSocket(SocketHandle socket) {
  if (socket != kInvalidSocket) closesocket(Native(socket));
}

SocketHandle OpenStreamSocket(const tSocketAddress& kind, int& errorCode) {
  return NewSocket(FamilyOf(kind), SOCK_STREAM, IPPROTO_TCP, errorCode);
}

bool BindAnyAddress(SocketHandle socket, const tSocketAddress& kind, int& errorCode) {
  tSocketAddress anyAddress;  // 0.0.0.0, or :: for IPv6
  anyAddress.IsIPv6 = kind.IsIPv6;
  const NativeAddress any = NativeOf(anyAddress, 0);
  if (bind(Native(socket), any.Get(), any.Length) == 0) return true;
  errorCode = WSAGetLastError();
  return false;
}

ConnectStart StartConnect(SocketHandle socket, const tSocketAddress& address, std::uint16_t port,
                          int& errorCode) {
  const NativeAddress target = NativeOf(address, port);
  if (connect(Native(socket), target.Get(), target.Length) == 0) return ConnectStart::Connected;
  const int started = WSAGetLastError();
  if (started == WSAEWOULDBLOCK) return ConnectStart::Pending;
  errorCode = started;
  return ConnectStart::Failed;
}

int PendingConnectError(SocketHandle socket) {
  int failure = 0;
  int size = sizeof failure;
  if (getsockopt(Native(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&failure), &size) !=
      0)
    failure = WSAGetLastError();
  return failure;
}

WaitResult WaitUntilReadable(SocketHandle socket, int timeoutMilliseconds, int& errorCode) {
  return WaitFor(socket, false, timeoutMilliseconds, errorCode);
}

WaitResult WaitUntilWritable(SocketHandle socket, int timeoutMilliseconds, int& errorCode) {
  return WaitFor(socket, true, timeoutMilliseconds, errorCode);
}

long ReceiveAvailable(SocketHandle socket, void* buffer, std::size_t size, int& errorCode) {
  // The socket does not block, so this takes only what has arrived.
  int received = recv(Native(socket), static_cast<char*>(buffer), Length(size), 0);
  if (received != SOCKET_ERROR) return received;
  errorCode = WSAGetLastError();
  return -1;
}

long SendAvailable(SocketHandle socket, const void* data, std::size_t size, int& errorCode) {
  int sent = send(Native(socket), static_cast<const char*>(data), Length(size), 0);
  if (sent != SOCKET_ERROR) return sent;
  errorCode = WSAGetLastError();
  return -1;
}

void ShutdownSending(SocketHandle socket) { shutdown(Native(socket), SD_SEND); }

SocketHandle ListenStream(const tSocketAddress& address, std::uint16_t port, int& errorCode) {
  // No address option: SO_REUSEADDR here would let another socket take over the port, and a
  // port whose old connections wait out their close can be bound again without one.
  UniqueSocket listener(NewSocket(FamilyOf(address), SOCK_STREAM, IPPROTO_TCP, errorCode));
  if (!listener) return kInvalidSocket;
  if (address.IsIPv6) {
    DWORD v6Only = 1;
    setsockopt(Native(listener.get()), IPPROTO_IPV6, IPV6_V6ONLY,
               reinterpret_cast<const char*>(&v6Only), sizeof v6Only);
  }
  const NativeAddress local = NativeOf(address, port);
  if (bind(Native(listener.get()), local.Get(), local.Length) != 0 ||
      listen(Native(listener.get()), SOMAXCONN) != 0) {
    errorCode = WSAGetLastError();
    return kInvalidSocket;
  }
  return listener.release();
}

std::uint16_t LocalPort(SocketHandle socket) {
  sockaddr_storage local;
  int size = sizeof local;
  if (getsockname(Native(socket), reinterpret_cast<sockaddr*>(&local), &size) != 0) return 0;
  if (local.ss_family == AF_INET6)
    return ntohs(reinterpret_cast<const sockaddr_in6*>(&local)->sin6_port);
  return ntohs(reinterpret_cast<const sockaddr_in*>(&local)->sin_port);
}

SocketHandle AcceptStream(SocketHandle listener, int& errorCode) {
  UniqueNativeSocket handle(accept(Native(listener), nullptr, nullptr));
  if (!handle) {
    errorCode = WSAGetLastError();
    return kInvalidSocket;
  }
  SetHandleInformation(reinterpret_cast<HANDLE>(handle.get()), HANDLE_FLAG_INHERIT, 0);
  u_long nonBlocking = 1;
  if (ioctlsocket(handle.get(), FIONBIO, &nonBlocking) != 0) {
    errorCode = WSAGetLastError();
    return kInvalidSocket;
  }
  return Handle(handle.release());
}

}  // namespace platform
