// Socket error numbers: the Windows Sockets numbers on every system (10061 a refused connection,
// 11001 a host not found, ...), so that messages read the same everywhere. Each number is written
// once, in the tables below, which give the constants, the texts, the Linux backend's mapping from
// errno and the Windows backend's checks against Winsock's own values.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core/errors.h"

// X(constant, number, errno name, text): the errors Windows Sockets numbers after the BSD
// socket errors; Winsock's name is "WSA" and the errno name (WSAEINTR for EINTR).
#define EVENTLOG_BSD_SOCKET_ERRORS(X)                                                          \
  X(kWsaeIntr, 10004, EINTR, "Interrupted system call.")                                       \
  X(kWsaeBadF, 10009, EBADF, "Bad file number.")                                               \
  X(kWsaeAccess, 10013, EACCES, "Access denied.")                                              \
  X(kWsaeFault, 10014, EFAULT, "Bad address.")                                                 \
  X(kWsaeInval, 10022, EINVAL, "Invalid argument.")                                            \
  X(kWsaeMFile, 10024, EMFILE, "Too many open files.")                                         \
  X(kWsaeWouldBlock, 10035, EWOULDBLOCK, "Operation would block. ")                            \
  X(kWsaeInProgress, 10036, EINPROGRESS, "Operation now in progress.")                         \
  X(kWsaeAlready, 10037, EALREADY, "Operation already in progress.")                           \
  X(kWsaeNotSock, 10038, ENOTSOCK, "Socket operation on non-socket.")                          \
  X(kWsaeDestAddrReq, 10039, EDESTADDRREQ, "Destination address required.")                    \
  X(kWsaeMsgSize, 10040, EMSGSIZE, "Message too long.")                                        \
  X(kWsaeProtoType, 10041, EPROTOTYPE, "Protocol wrong type for socket.")                      \
  X(kWsaeNoProtoOpt, 10042, ENOPROTOOPT, "Bad protocol option.")                               \
  X(kWsaeProtoNoSupport, 10043, EPROTONOSUPPORT, "Protocol not supported.")                    \
  X(kWsaeSocktNoSupport, 10044, ESOCKTNOSUPPORT, "Socket type not supported.")                 \
  X(kWsaeOpNotSupp, 10045, EOPNOTSUPP, "Operation not supported on socket.")                   \
  X(kWsaePfNoSupport, 10046, EPFNOSUPPORT, "Protocol family not supported.")                   \
  X(kWsaeAfNoSupport, 10047, EAFNOSUPPORT, "Address family not supported by protocol family.") \
  X(kWsaeAddrInUse, 10048, EADDRINUSE, "Address already in use.")                              \
  X(kWsaeAddrNotAvail, 10049, EADDRNOTAVAIL, "Cannot assign requested address.")               \
  X(kWsaeNetDown, 10050, ENETDOWN, "Network is down.")                                         \
  X(kWsaeNetUnreach, 10051, ENETUNREACH, "Network is unreachable.")                            \
  X(kWsaeNetReset, 10052, ENETRESET, "Net dropped connection or reset.")                       \
  X(kWsaeConnAborted, 10053, ECONNABORTED, "Software caused connection abort.")                \
  X(kWsaeConnReset, 10054, ECONNRESET, "Connection reset by peer.")                            \
  X(kWsaeNoBufs, 10055, ENOBUFS, "No buffer space available.")                                 \
  X(kWsaeIsConn, 10056, EISCONN, "Socket is already connected.")                               \
  X(kWsaeNotConn, 10057, ENOTCONN, "Socket is not connected.")                                 \
  X(kWsaeShutdown, 10058, ESHUTDOWN, "Cannot send or receive after socket is closed.")         \
  X(kWsaeTooManyRefs, 10059, ETOOMANYREFS, "Too many references, cannot splice.")              \
  X(kWsaeTimedOut, 10060, ETIMEDOUT, "Connection timed out.")                                  \
  X(kWsaeConnRefused, 10061, ECONNREFUSED, "Connection refused.")                              \
  X(kWsaeLoop, 10062, ELOOP, "Too many levels of symbolic links.")                             \
  X(kWsaeNameTooLong, 10063, ENAMETOOLONG, "File name too long.")                              \
  X(kWsaeHostDown, 10064, EHOSTDOWN, "Host is down.")                                          \
  X(kWsaeHostUnreach, 10065, EHOSTUNREACH, "No route to host.")                                \
  X(kWsaeNotEmpty, 10066, ENOTEMPTY, "Directory not empty")

// X(constant, number, Winsock name, text): the resolver's errors, which have no errno.
#define EVENTLOG_RESOLVER_SOCKET_ERRORS(X) \
  X(kWsaHostNotFound, 11001, WSAHOST_NOT_FOUND, "Host not found.")

namespace core {
#define EVENTLOG_SOCKET_ERROR_CONSTANT(constant, number, name, text) \
  constexpr int constant = number;
EVENTLOG_BSD_SOCKET_ERRORS(EVENTLOG_SOCKET_ERROR_CONSTANT)
EVENTLOG_RESOLVER_SOCKET_ERRORS(EVENTLOG_SOCKET_ERROR_CONSTANT)
#undef EVENTLOG_SOCKET_ERROR_CONSTANT
}  // namespace core

// "Socket Error # <number>" CR LF and the number's text.
class ESocketError : public Exception {
 public:
  explicit ESocketError(int errorCode);
  int ErrorCode() const { return errorCode_; }

 private:
  int errorCode_;
};

EVENTLOG_DECLARE_EXCEPTION(EInvalidSocket)              // "Cannot allocate socket."
EVENTLOG_DECLARE_EXCEPTION(EStackInitializationFailed)  // "Winsock Initialization Error."
// A host in brackets that is no IPv6 address ("[::1", "[zz::1]", "[::1]x"); names the host and
// how to write one.
EVENTLOG_DECLARE_EXCEPTION(EInvalidHostAddress)

// The text for a socket error number; empty for a number the table lacks.
std::string SocketErrorText(int errorCode);

// "LOCALHOST" in any case is 127.0.0.1 and a dotted IPv4 address (four decimal numbers 0 to 255,
// leading zeros allowed) is taken as it stands, both without a lookup; false for any other text.
// The address is in host byte order.
bool ParseHostAddress(const std::string& host, std::uint32_t& address);

// Digits and dots only: an address written out, never a name. The system's resolver would read
// such a text in its own ways (a part with a leading zero as octal, "127.1" as 127.0.0.1).
bool IsNumericHost(const std::string& host);

// A host setting, "host" or "host:port", split at its first colon, as the gateway's and the syslog
// receiver's settings are written; the port text is empty when there is no colon. An IPv6 address
// is written in brackets, "[::1]" or "[::1]:8080": the host keeps its brackets (as the Host header
// carries it) and the port is what follows "]:". A text that opens a bracket and does not close
// it right before the end or a ":" is all host, and fails where the host is resolved.
void SplitHostAndPort(const std::string& text, std::string& host, std::string& port);

// An IPv6 address as RFC 4291 writes it (eight groups of one to four hex digits, one "::" for a
// run of zero groups, the last two groups also as a dotted IPv4 address), without brackets and
// without a zone; the sixteen bytes in network order. False for any other text.
bool ParseIPv6Address(const std::string& text, std::array<std::uint8_t, 16>& address);

// A host written in brackets, as SplitHostAndPort leaves it: true when it opens with "[". The
// address inside is read by ParseBracketedHost, which raises EInvalidHostAddress when there is
// none.
bool IsBracketedHost(const std::string& host);
std::array<std::uint8_t, 16> ParseBracketedHost(const std::string& host);
