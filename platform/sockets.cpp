#include "platform/sockets.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace {

// The system's lookup has no time limit of its own, so it runs on a thread of its own while the
// caller waits at most the limit. A lookup still running then is left to end by itself; it
// touches nothing but its own shared state.
using LookupCall = bool (*)(const std::string& host, tSocketAddress& address, int& errorCode);

bool LookupWithin(LookupCall call, const std::string& host, int timeoutMilliseconds,
                  tSocketAddress& address, int& errorCode) {
  if (timeoutMilliseconds < 0) return call(host, address, errorCode);
  struct Lookup {
    std::mutex Mutex;
    std::condition_variable Finished;
    bool Done = false;
    bool Found = false;
    tSocketAddress Address;
    int ErrorCode = 0;
    std::exception_ptr Failure;  // a failure of the lookup, raised again on the caller's side
  };
  auto lookup = std::make_shared<Lookup>();
  try {
    std::thread([lookup, host, call] {
      tSocketAddress found;
      int error = 0;
      bool ok = false;
      std::exception_ptr failure;
      try {
        ok = call(host, found, error);
      } catch (...) {
        failure = std::current_exception();
      }
      std::lock_guard lock(lookup->Mutex);
      lookup->Found = ok;
      lookup->Address = found;
      lookup->ErrorCode = error;
      lookup->Failure = failure;
      lookup->Done = true;
      lookup->Finished.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    // No thread to be had: the lookup runs here, bounded by the resolver alone.
    return call(host, address, errorCode);
  }
  std::unique_lock lock(lookup->Mutex);
  if (!lookup->Finished.wait_for(lock, std::chrono::milliseconds(timeoutMilliseconds),
                                 [&] { return lookup->Done; })) {
    errorCode = core::kWsaeTimedOut;
    return false;
  }
  if (lookup->Failure) std::rethrow_exception(lookup->Failure);
  address = lookup->Address;
  errorCode = lookup->ErrorCode;
  return lookup->Found;
}

// The first IPv4 address of a host, for the peers reached over IPv4 only (the syslog receiver):
// a name with IPv6 addresses alone is unknown to them.
bool LookupIPv4Address(const std::string& host, tSocketAddress& address, int& errorCode) {
  if (!platform::LookupAddress(host, address, errorCode)) return false;
  if (!address.IsIPv6) return true;
  errorCode = core::kWsaHostNotFound;
  return false;
}

// The address of a host written out, without a lookup: "localhost" or a dotted IPv4 address.
// A text of digits and dots that is no such address is refused (10049).
bool WrittenAddress(const std::string& host, tSocketAddress& address) {
  std::uint32_t v4 = 0;
  if (ParseHostAddress(host, v4)) {
    address = IPv4SocketAddress(v4);
    return true;
  }
  if (IsNumericHost(host)) throw ESocketError(core::kWsaeAddrNotAvail);
  return false;
}

// Waits until the socket takes bytes (or a pending connection has ended); false with the error
// number, 10060 when the time ran out.
bool WaitWritableWithin(platform::SocketHandle socket, int timeoutMilliseconds, int& errorCode) {
  switch (platform::WaitUntilWritable(socket, timeoutMilliseconds, errorCode)) {
    case platform::WaitResult::Ready:
      return true;
    case platform::WaitResult::TimedOut:
      errorCode = core::kWsaeTimedOut;
      return false;
    case platform::WaitResult::Failed:
      return false;
  }
  return false;
}

}  // namespace

std::uint32_t ResolveHostAddress(const std::string& host, int timeoutMilliseconds) {
  platform::StartSocketLayer();
  tSocketAddress address;
  if (WrittenAddress(host, address)) return address.IPv4;
  int errorCode = 0;
  if (!LookupWithin(LookupIPv4Address, host, timeoutMilliseconds, address, errorCode))
    throw ESocketError(errorCode);
  return address.IPv4;
}

tSocketAddress IPv4SocketAddress(std::uint32_t address) {
  tSocketAddress result;
  result.IPv4 = address;
  return result;
}

tSocketAddress IPv6SocketAddress(const std::array<std::uint8_t, 16>& address) {
  tSocketAddress result;
  result.IsIPv6 = true;
  result.IPv6 = address;
  return result;
}

tSocketAddress ResolveSocketAddress(const std::string& host, int timeoutMilliseconds) {
  platform::StartSocketLayer();
  if (IsBracketedHost(host)) return IPv6SocketAddress(ParseBracketedHost(host));
  tSocketAddress address;
  if (WrittenAddress(host, address)) return address;
  int errorCode = 0;
  if (!LookupWithin(platform::LookupAddress, host, timeoutMilliseconds, address, errorCode))
    throw ESocketError(errorCode);
  return address;
}

namespace platform {

void StartSocketLayer() {
  if (!SocketLayerStarted()) throw EStackInitializationFailed("Winsock Initialization Error.");
}

SocketHandle OpenStreamSocket(int& errorCode) {
  return OpenStreamSocket(tSocketAddress(), errorCode);
}

bool BindAnyAddress(SocketHandle socket, int& errorCode) {
  return BindAnyAddress(socket, tSocketAddress(), errorCode);
}

SocketHandle ListenStream(std::uint32_t address, std::uint16_t port, int& errorCode) {
  return ListenStream(IPv4SocketAddress(address), port, errorCode);
}

bool ConnectStream(SocketHandle socket, std::uint32_t address, std::uint16_t port,
                   int timeoutMilliseconds, int& errorCode) {
  return ConnectStream(socket, IPv4SocketAddress(address), port, timeoutMilliseconds, errorCode);
}

bool ConnectStream(SocketHandle socket, const tSocketAddress& address, std::uint16_t port,
                   int timeoutMilliseconds, int& errorCode) {
  switch (StartConnect(socket, address, port, errorCode)) {
    case ConnectStart::Connected:
      return true;
    case ConnectStart::Failed:
      return false;
    case ConnectStart::Pending:
      break;
  }
  if (!WaitWritableWithin(socket, timeoutMilliseconds, errorCode)) return false;
  const int failure = PendingConnectError(socket);
  if (failure == 0) return true;
  errorCode = failure;
  return false;
}

bool SendAll(SocketHandle socket, const void* data, std::size_t size, int timeoutMilliseconds,
             int& errorCode) {
  const char* next = static_cast<const char*>(data);
  while (size > 0) {
    long sent = SendAvailable(socket, next, size, errorCode);
    if (sent > 0) {
      next += sent;
      size -= static_cast<std::size_t>(sent);
      continue;
    }
    if (sent < 0 && errorCode != core::kWsaeWouldBlock) return false;
    if (!WaitWritableWithin(socket, timeoutMilliseconds, errorCode)) return false;
  }
  return true;
}

}  // namespace platform
