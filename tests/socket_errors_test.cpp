#include "core/socket_errors.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/sockets.h"

namespace {

// Every number the table knows, with the text a failure shows, byte for byte.
TEST(SocketErrorsTest, EachNumberHasItsText) {
  struct Case {
    int number;
    const char* text;
  };
  const Case cases[] = {
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
      // Numbers without a text keep only the number.
      {0, ""},
      {10093, ""},
      {11004, ""},
  };
  for (const Case& c : cases) {
    const ESocketError error(c.number);
    EXPECT_EQ(error.Message(), "Socket Error # " + std::to_string(c.number) + "\r\n" + c.text);
    EXPECT_EQ(error.ClassName(), "ESocketError");
    EXPECT_EQ(error.ErrorCode(), c.number);
  }
}

// Refusals of real sockets arrive as the table's numbers on every system.
TEST(SocketErrorsTest, TheSystemsRefusalsArriveAsTheTablesNumbers) {
  platform::StartSocketLayer();
  int errorCode = 0;

  const platform::UniqueSocket unconnected(platform::OpenStreamSocket(errorCode));
  ASSERT_TRUE(unconnected) << errorCode;
  char byte = 0;
  errorCode = 0;
  EXPECT_EQ(platform::ReceiveAvailable(unconnected.get(), &byte, 1, errorCode), -1);
  EXPECT_EQ(errorCode, core::kWsaeNotConn);

  const platform::UniqueSocket bound(platform::OpenStreamSocket(errorCode));
  ASSERT_TRUE(bound) << errorCode;
  ASSERT_TRUE(platform::BindAnyAddress(bound.get(), errorCode)) << errorCode;
  errorCode = 0;
  EXPECT_FALSE(platform::BindAnyAddress(bound.get(), errorCode));
  EXPECT_EQ(errorCode, core::kWsaeInval);

  constexpr std::uint32_t kLoopback = 0x7F000001;
  const platform::UniqueSocket listener(platform::ListenStream(kLoopback, 0, errorCode));
  ASSERT_TRUE(listener) << errorCode;
  const std::uint16_t port = platform::LocalPort(listener.get());
  ASSERT_NE(port, 0);
  errorCode = 0;
  const platform::UniqueSocket second(platform::ListenStream(kLoopback, port, errorCode));
  EXPECT_FALSE(second);
  EXPECT_EQ(errorCode, core::kWsaeAddrInUse);
}

}  // namespace
