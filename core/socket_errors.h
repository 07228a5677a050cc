// Socket error numbers: the Windows Sockets numbers on every system (10061 a refused connection,
// 11001 a host not found, ...), so that messages read the same everywhere. The Windows backend
// checks each against Winsock's own value.
#pragma once

#include <cstdint>
#include <string>

#include "core/errors.h"

namespace core {

constexpr int kWsaeIntr = 10004;            // WSAEINTR
constexpr int kWsaeBadF = 10009;            // WSAEBADF
constexpr int kWsaeAccess = 10013;          // WSAEACCES
constexpr int kWsaeFault = 10014;           // WSAEFAULT
constexpr int kWsaeInval = 10022;           // WSAEINVAL
constexpr int kWsaeMFile = 10024;           // WSAEMFILE
constexpr int kWsaeWouldBlock = 10035;      // WSAEWOULDBLOCK
constexpr int kWsaeInProgress = 10036;      // WSAEINPROGRESS
constexpr int kWsaeAlready = 10037;         // WSAEALREADY
constexpr int kWsaeNotSock = 10038;         // WSAENOTSOCK
constexpr int kWsaeDestAddrReq = 10039;     // WSAEDESTADDRREQ
constexpr int kWsaeMsgSize = 10040;         // WSAEMSGSIZE
constexpr int kWsaeProtoType = 10041;       // WSAEPROTOTYPE
constexpr int kWsaeNoProtoOpt = 10042;      // WSAENOPROTOOPT
constexpr int kWsaeProtoNoSupport = 10043;  // WSAEPROTONOSUPPORT
constexpr int kWsaeSocktNoSupport = 10044;  // WSAESOCKTNOSUPPORT
constexpr int kWsaeOpNotSupp = 10045;       // WSAEOPNOTSUPP
constexpr int kWsaePfNoSupport = 10046;     // WSAEPFNOSUPPORT
constexpr int kWsaeAfNoSupport = 10047;     // WSAEAFNOSUPPORT
constexpr int kWsaeAddrInUse = 10048;       // WSAEADDRINUSE
constexpr int kWsaeAddrNotAvail = 10049;    // WSAEADDRNOTAVAIL
constexpr int kWsaeNetDown = 10050;         // WSAENETDOWN
constexpr int kWsaeNetUnreach = 10051;      // WSAENETUNREACH
constexpr int kWsaeNetReset = 10052;        // WSAENETRESET
constexpr int kWsaeConnAborted = 10053;     // WSAECONNABORTED
constexpr int kWsaeConnReset = 10054;       // WSAECONNRESET
constexpr int kWsaeNoBufs = 10055;          // WSAENOBUFS
constexpr int kWsaeIsConn = 10056;          // WSAEISCONN
constexpr int kWsaeNotConn = 10057;         // WSAENOTCONN
constexpr int kWsaeShutdown = 10058;        // WSAESHUTDOWN
constexpr int kWsaeTooManyRefs = 10059;     // WSAETOOMANYREFS
constexpr int kWsaeTimedOut = 10060;        // WSAETIMEDOUT
constexpr int kWsaeConnRefused = 10061;     // WSAECONNREFUSED
constexpr int kWsaeLoop = 10062;            // WSAELOOP
constexpr int kWsaeNameTooLong = 10063;     // WSAENAMETOOLONG
constexpr int kWsaeHostDown = 10064;        // WSAEHOSTDOWN
constexpr int kWsaeHostUnreach = 10065;     // WSAEHOSTUNREACH
constexpr int kWsaeNotEmpty = 10066;        // WSAENOTEMPTY
constexpr int kWsaHostNotFound = 11001;     // WSAHOST_NOT_FOUND
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
// receiver's settings are written; the port text is empty when there is no colon.
void SplitHostAndPort(const std::string& text, std::string& host, std::string& port);
