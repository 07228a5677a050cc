#include "core/socket_errors.h"

#include "core/ascii.h"

namespace {

constexpr std::uint32_t kLoopbackAddress = 0x7F000001;

bool IsLocalhost(const std::string& host) {
  return core::EqualsIgnoringAsciiCase(host, "localhost");
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

struct SocketErrorEntry {
  int Code;
  const char* Text;
};

using namespace core;
constexpr SocketErrorEntry kSocketErrorTexts[] = {
    {kWsaeIntr, "Interrupted system call."},
    {kWsaeBadF, "Bad file number."},
    {kWsaeAccess, "Access denied."},
    {kWsaeFault, "Bad address."},
    {kWsaeInval, "Invalid argument."},
    {kWsaeMFile, "Too many open files."},
    {kWsaeWouldBlock, "Operation would block. "},
    {kWsaeInProgress, "Operation now in progress."},
    {kWsaeAlready, "Operation already in progress."},
    {kWsaeNotSock, "Socket operation on non-socket."},
    {kWsaeDestAddrReq, "Destination address required."},
    {kWsaeMsgSize, "Message too long."},
    {kWsaeProtoType, "Protocol wrong type for socket."},
    {kWsaeNoProtoOpt, "Bad protocol option."},
    {kWsaeProtoNoSupport, "Protocol not supported."},
    {kWsaeSocktNoSupport, "Socket type not supported."},
    {kWsaeOpNotSupp, "Operation not supported on socket."},
    {kWsaePfNoSupport, "Protocol family not supported."},
    {kWsaeAfNoSupport, "Address family not supported by protocol family."},
    {kWsaeAddrInUse, "Address already in use."},
    {kWsaeAddrNotAvail, "Cannot assign requested address."},
    {kWsaeNetDown, "Network is down."},
    {kWsaeNetUnreach, "Network is unreachable."},
    {kWsaeNetReset, "Net dropped connection or reset."},
    {kWsaeConnAborted, "Software caused connection abort."},
    {kWsaeConnReset, "Connection reset by peer."},
    {kWsaeNoBufs, "No buffer space available."},
    {kWsaeIsConn, "Socket is already connected."},
    {kWsaeNotConn, "Socket is not connected."},
    {kWsaeShutdown, "Cannot send or receive after socket is closed."},
    {kWsaeTooManyRefs, "Too many references, cannot splice."},
    {kWsaeTimedOut, "Connection timed out."},
    {kWsaeConnRefused, "Connection refused."},
    {kWsaeLoop, "Too many levels of symbolic links."},
    {kWsaeNameTooLong, "File name too long."},
    {kWsaeHostDown, "Host is down."},
    {kWsaeHostUnreach, "No route to host."},
    {kWsaeNotEmpty, "Directory not empty"},
    {kWsaHostNotFound, "Host not found."},
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

bool IsNumericHost(const std::string& host) {
  if (host.empty()) return false;
  for (char c : host)
    if (c != '.' && (c < '0' || c > '9')) return false;
  return true;
}

bool ParseHostAddress(const std::string& host, std::uint32_t& address) {
  if (IsLocalhost(host)) {
    address = kLoopbackAddress;
    return true;
  }
  return ParseDottedAddress(host, address);
}

void SplitHostAndPort(const std::string& text, std::string& host, std::string& port) {
  const std::size_t colon = text.find(':');
  host = text.substr(0, colon);
  port = colon == std::string::npos ? std::string() : text.substr(colon + 1);
}
