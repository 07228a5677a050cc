// The IPv4 socket address both socket backends of the tests build. The record and its fields are
// the same on both systems; each backend includes its system's socket header first
// (<netinet/in.h> or <winsock2.h>), which this header leaves to them.
#pragma once

#include <cstdint>

namespace test_sockets {

// The address and port in host byte order.
inline sockaddr_in IPv4Address(std::uint32_t address, std::uint16_t port) {
  sockaddr_in socketAddress{};
  socketAddress.sin_family = AF_INET;
  socketAddress.sin_port = htons(port);
  socketAddress.sin_addr.s_addr = htonl(address);
  return socketAddress;
}

}  // namespace test_sockets
