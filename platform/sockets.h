// IPv4 and IPv6 sockets. Error numbers are the Windows Sockets numbers of core/socket_errors.h on
// every system. The backends make the system's calls and give back those numbers;
// platform/sockets.cpp holds what is the same on both (the lookup's time limit, the connection's
// wait, sending every byte, the start of the layer) and raises the failures the program reports.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/socket_errors.h"
#include "core/unique_handle.h"

// The address of a host: as ParseHostAddress reads it, else the first IPv4 address a lookup finds.
// Starts the socket layer first (StartSocketLayer), as every sender resolves its peer before it
// opens a socket.
// A text of digits and dots that is no such address is never looked up. Raises ESocketError (10049
// for such a text, 11001 for an unknown name, 10060 when the lookup outlasts the time limit in
// milliseconds; a negative limit leaves the lookup to the resolver's own time-outs).
std::uint32_t ResolveHostAddress(const std::string& host, int timeoutMilliseconds = -1);

// A peer's address: IPv4 (host byte order) or IPv6 (network order).
struct tSocketAddress {
  bool IsIPv6 = false;
  std::uint32_t IPv4 = 0;
  std::array<std::uint8_t, 16> IPv6{};
};
tSocketAddress IPv4SocketAddress(std::uint32_t address);
tSocketAddress IPv6SocketAddress(const std::array<std::uint8_t, 16>& address);

// The address of a stream peer: an IPv6 address in brackets ("[::1]"; EInvalidHostAddress when
// the brackets hold none), else as ResolveHostAddress reads a host, except that a name is looked
// up for both kinds: its first IPv4 address when it has one, else its first IPv6 address. The
// failures and the time limit are ResolveHostAddress's.
tSocketAddress ResolveSocketAddress(const std::string& host, int timeoutMilliseconds = -1);

namespace platform {

// Starts the system's socket layer with the first network object of the process; it stays
// started. Raises EStackInitializationFailed when the system refuses.
void StartSocketLayer();
// The backends' start of the layer: true once it is started (now or before), false when the
// system refuses, and a later call tries again. The backends' own calls answer 10093
// (WSANOTINITIALISED) while it is not started.
bool SocketLayerStarted();

using SocketHandle = std::intptr_t;
constexpr SocketHandle kInvalidSocket = -1;

// The first IPv4 address of a host name, else its first IPv6 address; false with the error
// number (11001 when the name has neither).
bool LookupAddress(const std::string& host, tSocketAddress& address, int& errorCode);

// An unbound IPv4 datagram socket; kInvalidSocket with the error number.
SocketHandle OpenDatagramSocket(int& errorCode);
// Sends one datagram; the bytes sent, or -1 with the error number.
long SendDatagram(SocketHandle socket, std::uint32_t address, std::uint16_t port, const void* data,
                  std::size_t size, int& errorCode);
void CloseSocket(SocketHandle socket);

struct SocketTraits {
  static SocketHandle Invalid() { return kInvalidSocket; }
  static void Close(SocketHandle socket) { CloseSocket(socket); }
};
// A socket closed when its owner goes.
using UniqueSocket = core::UniqueHandle<SocketTraits>;

// Stream sockets never block: waiting is done by the Wait calls, each with its own time limit in
// milliseconds (a negative limit waits without one).

// A stream socket of the address's kind (IPv4 without one); kInvalidSocket with the error number.
SocketHandle OpenStreamSocket(const tSocketAddress& kind, int& errorCode);
SocketHandle OpenStreamSocket(int& errorCode);
// Binds a socket to any local address of the kind (IPv4 without one) and an ephemeral port;
// false with the error number.
bool BindAnyAddress(SocketHandle socket, const tSocketAddress& kind, int& errorCode);
bool BindAnyAddress(SocketHandle socket, int& errorCode);
// Connects within the time limit; false with the error number (10060 when the time ran out).
bool ConnectStream(SocketHandle socket, const tSocketAddress& address, std::uint16_t port,
                   int timeoutMilliseconds, int& errorCode);
bool ConnectStream(SocketHandle socket, std::uint32_t address, std::uint16_t port,
                   int timeoutMilliseconds, int& errorCode);
// The backends' halves of it: the start of a connection (made at once, pending, or refused with
// the error number), and the outcome of a pending one once the socket is writable (0 when it
// is connected, else the error number).
enum class ConnectStart { Connected, Pending, Failed };
ConnectStart StartConnect(SocketHandle socket, const tSocketAddress& address, std::uint16_t port,
                          int& errorCode);
int PendingConnectError(SocketHandle socket);

enum class WaitResult { Ready, TimedOut, Failed };
// Ready when data, the peer's close or a pending failure can be received.
WaitResult WaitUntilReadable(SocketHandle socket, int timeoutMilliseconds, int& errorCode);
WaitResult WaitUntilWritable(SocketHandle socket, int timeoutMilliseconds, int& errorCode);

// What has arrived, up to size bytes: the count, 0 at the peer's close, -1 with the error number
// (10035 when nothing is there yet).
long ReceiveAvailable(SocketHandle socket, void* buffer, std::size_t size, int& errorCode);
// As much as the system takes now: the count, or -1 with the error number (10035 when full).
long SendAvailable(SocketHandle socket, const void* data, std::size_t size, int& errorCode);
// Sends every byte, waiting for room at most the time limit each time; false with the error
// number (10060 when the time ran out).
bool SendAll(SocketHandle socket, const void* data, std::size_t size, int timeoutMilliseconds,
             int& errorCode);
// Ends the sending side: the peer sees the close after the bytes already sent.
void ShutdownSending(SocketHandle socket);

// A listening stream socket on the address and port (0: an ephemeral port); kInvalidSocket with
// the error number. An IPv6 listener takes IPv6 connections only.
SocketHandle ListenStream(const tSocketAddress& address, std::uint16_t port, int& errorCode);
SocketHandle ListenStream(std::uint32_t address, std::uint16_t port, int& errorCode);
// The local port a socket is bound to; 0 when the system does not tell.
std::uint16_t LocalPort(SocketHandle socket);
// Takes one waiting connection (wait for it with WaitUntilReadable); kInvalidSocket with the
// error number.
SocketHandle AcceptStream(SocketHandle listener, int& errorCode);

}  // namespace platform
