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

constexpr std::uint32_t kLoopbackAddress = 0x7F000001;
constexpr int kWouldBlock = 10035;
constexpr int kAddressNotUsable = 10049;
constexpr int kTimedOut = 10060;

bool IsLocalhost(const std::string& host) {
  static const char kName[] = "localhost";
  if (host.size() != sizeof kName - 1) return false;
  for (std::size_t i = 0; i < host.size(); ++i) {
    char c = host[i];
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (c != kName[i]) return false;
  }
  return true;
}

// Digits and dots only: an address written out, never a name. The system's resolver would read
// such a text in its own ways (a part with a leading zero as octal, "127.1" as 127.0.0.1).
bool IsNumericHost(const std::string& host) {
  if (host.empty()) return false;
  for (char c : host)
    if (c != '.' && (c < '0' || c > '9')) return false;
  return true;
}

// Four dot-separated decimal numbers, each 0 to 255; leading zeros do not change the value.
bool ParseDottedAddress(const std::string& host, std::uint32_t& address) {
  std::uint32_t result = 0;
  std::size_t position = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (position >= host.size() || host[position] != '.') return false;
      ++position;
    }
    std::size_t digits = 0;
    unsigned value = 0;
    while (position < host.size() && host[position] >= '0' && host[position] <= '9') {
      value = value * 10 + unsigned(host[position] - '0');
      if (value > 255) return false;
      ++position;
      ++digits;
    }
    if (digits == 0) return false;
    result = result << 8 | value;
  }
  if (position != host.size()) return false;
  address = result;
  return true;
}

// The system's lookup has no time limit of its own, so it runs on a thread of its own while the
// caller waits at most the limit. A lookup still running then is left to end by itself; it
// touches nothing but its own shared state.
bool LookupIPv4Within(const std::string& host, int timeoutMilliseconds, std::uint32_t& address,
                      int& errorCode) {
  struct Lookup {
    std::mutex Mutex;
    std::condition_variable Finished;
    bool Done = false;
    bool Found = false;
    std::uint32_t Address = 0;
    int ErrorCode = 0;
    std::exception_ptr Failure;  // a failure of the lookup, raised again on the caller's side
  };
  auto lookup = std::make_shared<Lookup>();
  try {
    std::thread([lookup, host] {
      std::uint32_t found = 0;
      int error = 0;
      bool ok = false;
      std::exception_ptr failure;
      try {
        ok = platform::LookupIPv4(host, found, error);
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
    return platform::LookupIPv4(host, address, errorCode);
  }
  std::unique_lock lock(lookup->Mutex);
  if (!lookup->Finished.wait_for(lock, std::chrono::milliseconds(timeoutMilliseconds),
                                 [&] { return lookup->Done; })) {
    errorCode = kTimedOut;
    return false;
  }
  if (lookup->Failure) std::rethrow_exception(lookup->Failure);
  address = lookup->Address;
  errorCode = lookup->ErrorCode;
  return lookup->Found;
}

struct SocketErrorEntry {
  int Code;
  const char* Text;
};

constexpr SocketErrorEntry kSocketErrorTexts[] = {
    {10004, "Interrupted system call."},
    {10009, "Bad file number."},
    {10013, "Access denied."},
    {10014, "Bad address."},
    {10022, "Invalid argument."},
    {10024, "Too many open files."},
    {10035, "Operation would block. "},
    {10036, "Operation now in progress."},
    {10037, "Operation already in progress."},
    {10038, "Socket operation on non-socket."},
    {10039, "Destination address required."},
    {10040, "Message too long."},
    {10041, "Protocol wrong type for socket."},
    {10042, "Bad protocol option."},
    {10043, "Protocol not supported."},
    {10044, "Socket type not supported."},
    {10045, "Operation not supported on socket."},
    {10046, "Protocol family not supported."},
    {10047, "Address family not supported by protocol family."},
    {10048, "Address already in use."},
    {10049, "Cannot assign requested address."},
    {10050, "Network is down."},
    {10051, "Network is unreachable."},
    {10052, "Net dropped connection or reset."},
    {10053, "Software caused connection abort."},
    {10054, "Connection reset by peer."},
    {10055, "No buffer space available."},
    {10056, "Socket is already connected."},
    {10057, "Socket is not connected."},
    {10058, "Cannot send or receive after socket is closed."},
    {10059, "Too many references, cannot splice."},
    {10060, "Connection timed out."},
    {10061, "Connection refused."},
    {10062, "Too many levels of symbolic links."},
    {10063, "File name too long."},
    {10064, "Host is down."},
    {10065, "No route to host."},
    {10066, "Directory not empty"},
    {11001, "Host not found."},
};

}  // namespace

std::string SocketErrorText(int errorCode) {
  for (const auto& entry : kSocketErrorTexts)
    if (entry.Code == errorCode) return entry.Text;
  return {};
}

ESocketError::ESocketError(int errorCode)
    : Exception("ESocketError", "Socket Error # " + std::to_string(errorCode) + "\r\n" +
                                    SocketErrorText(errorCode)),
      errorCode_(errorCode) {}

bool ParseHostAddress(const std::string& host, std::uint32_t& address) {
  if (IsLocalhost(host)) {
    address = kLoopbackAddress;
    return true;
  }
  return ParseDottedAddress(host, address);
}

std::uint32_t ResolveHostAddress(const std::string& host, int timeoutMilliseconds) {
  std::uint32_t address = 0;
  if (ParseHostAddress(host, address)) return address;
  if (IsNumericHost(host)) throw ESocketError(kAddressNotUsable);
  int errorCode = 0;
  const bool found = timeoutMilliseconds < 0
                         ? platform::LookupIPv4(host, address, errorCode)
                         : LookupIPv4Within(host, timeoutMilliseconds, address, errorCode);
  if (!found) throw ESocketError(errorCode);
  return address;
}

namespace platform {

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
    if (sent < 0 && errorCode != kWouldBlock) return false;
    switch (WaitUntilWritable(socket, timeoutMilliseconds, errorCode)) {
      case WaitResult::Ready:
        break;
      case WaitResult::TimedOut:
        errorCode = kTimedOut;
        return false;
      case WaitResult::Failed:
        return false;
    }
  }
  return true;
}

}  // namespace platform
