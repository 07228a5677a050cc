#include "platform/sockets.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {
namespace {

// The Windows Sockets number for an errno value; the numbers follow the BSD names.
int SocketErrorNumber(int error) {
  switch (error) {
    case EINTR:
      return 10004;
    case EBADF:
      return 10009;
    case EACCES:
    case EPERM:
      return 10013;
    case EFAULT:
      return 10014;
    case EINVAL:
      return 10022;
    case EMFILE:
    case ENFILE:
      return 10024;
    case EWOULDBLOCK:
      return 10035;
    case EINPROGRESS:
      return 10036;
    case EALREADY:
      return 10037;
    case ENOTSOCK:
      return 10038;
    case EDESTADDRREQ:
      return 10039;
    case EMSGSIZE:
      return 10040;
    case EPROTOTYPE:
      return 10041;
    case ENOPROTOOPT:
      return 10042;
    case EPROTONOSUPPORT:
      return 10043;
    case ESOCKTNOSUPPORT:
      return 10044;
    case EOPNOTSUPP:
      return 10045;
    case EPFNOSUPPORT:
      return 10046;
    case EAFNOSUPPORT:
      return 10047;
    case EADDRINUSE:
      return 10048;
    case EADDRNOTAVAIL:
      return 10049;
    case ENETDOWN:
      return 10050;
    case ENETUNREACH:
      return 10051;
    case ENETRESET:
      return 10052;
    case ECONNABORTED:
      return 10053;
    case ECONNRESET:
      return 10054;
    case ENOBUFS:
    case ENOMEM:
      return 10055;
    case EISCONN:
      return 10056;
    case ENOTCONN:
      return 10057;
    case EPIPE:
    case ESHUTDOWN:
      return 10058;
    case ETOOMANYREFS:
      return 10059;
    case ETIMEDOUT:
      return 10060;
    case ECONNREFUSED:
      return 10061;
    case ELOOP:
      return 10062;
    case ENAMETOOLONG:
      return 10063;
    case EHOSTDOWN:
      return 10064;
    case EHOSTUNREACH:
      return 10065;
    case ENOTEMPTY:
      return 10066;
    default:
      return error;  // no socket meaning: the system's own number, without a text
  }
}

sockaddr_in IPv4Address(std::uint32_t address, std::uint16_t port) {
  sockaddr_in socketAddress;
  std::memset(&socketAddress, 0, sizeof socketAddress);
  socketAddress.sin_family = AF_INET;
  socketAddress.sin_port = htons(port);
  socketAddress.sin_addr.s_addr = htonl(address);
  return socketAddress;
}

}  // namespace

bool LookupIPv4(const std::string& host, std::uint32_t& address, int& errorCode) {
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  addrinfo* found = nullptr;
  int result = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (result != 0 || found == nullptr) {
    errorCode = result == EAI_SYSTEM   ? SocketErrorNumber(errno)
                : result == EAI_MEMORY ? 10055
                                       : 11001;
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

}  // namespace platform
