#include "core/socket_errors.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <utility>

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

// IPv6 addresses as a bracketed host holds them, and what is none.
TEST(SocketAddressTest, ReadsIPv6AddressesAndRefusesWhatIsNone) {
  using Bytes = std::array<std::uint8_t, 16>;
  const Bytes loopback{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  const Bytes documentation{0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  const Bytes mapped{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 192, 0, 2, 1};
  const Bytes full{0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0, 7, 0xab, 0xcd};
  const std::pair<std::string, std::optional<Bytes>> cases[] = {
      {"::1", loopback},
      {"0:0:0:0:0:0:0:1", loopback},
      {"2001:DB8::1", documentation},
      {"2001:0db8:0:0::0001", documentation},
      {"::ffff:192.0.2.1", mapped},
      {"1:2:3:4:5:6:7:abcd", full},
      {"::", Bytes{}},
      {"", std::nullopt},
      {":", std::nullopt},
      {":::", std::nullopt},
      {"1::2::3", std::nullopt},
      {"1:2:3:4:5:6:7:8:9", std::nullopt},
      {"1:2:3:4:5:6:7", std::nullopt},
      {"1::2:3:4:5:6:7:8", std::nullopt},
      {"12345::1", std::nullopt},
      {"zz::1", std::nullopt},
      {"::1%eth0", std::nullopt},
      {"::1.2.3", std::nullopt},
      {"1.2.3.4::", std::nullopt},
      {"::ffff:192.0.2.256", std::nullopt},
      {":1::", std::nullopt},
  };
  for (const auto& [text, expected] : cases) {
    Bytes parsed{};
    EXPECT_EQ(ParseIPv6Address(text, parsed), expected.has_value()) << text;
    if (expected) {
      EXPECT_EQ(parsed, *expected) << text;
    }
  }
  // A bracketed host that is none fails with its class and a message that shows the syntax.
  for (const std::string host : {"[::1", "[::1]x", "[zz::1]", "[]", "["}) {
    try {
      ParseBracketedHost(host);
      ADD_FAILURE() << host << " was taken";
    } catch (const Exception& failure) {
      EXPECT_EQ(failure.ClassName(), "EInvalidHostAddress");
      EXPECT_EQ(std::string(failure.what()),
                "The host " + host +
                    " is no IPv6 address in brackets; write one as in [2001:db8::1] or "
                    "[2001:db8::1]:8080");
    }
  }
  EXPECT_EQ(ParseBracketedHost("[::1]"), loopback);
  // Resolved, "[::1]" is the IPv6 loopback and "127.0.0.1" stays IPv4.
  const tSocketAddress v6 = ResolveSocketAddress("[::1]");
  EXPECT_TRUE(v6.IsIPv6);
  EXPECT_EQ(v6.IPv6, loopback);
  const tSocketAddress v4 = ResolveSocketAddress("127.0.0.1");
  EXPECT_FALSE(v4.IsIPv6);
  EXPECT_EQ(v4.IPv4, 0x7F000001u);
}

// A name that has only an IPv6 address is found: on machines whose hosts file names ::1 so.
TEST(SocketAddressTest, ANameWithOnlyAnIPv6AddressResolvesToIt) {
  for (const char* name : {"ip6-localhost", "ip6-loopback"}) {
    tSocketAddress address;
    try {
      address = ResolveSocketAddress(name, 2000);
    } catch (const Exception&) {
      continue;
    }
    if (!address.IsIPv6) continue;
    EXPECT_EQ(address.IPv6[15], 1) << name;
    return;
  }
  GTEST_SKIP() << "no name of this machine resolves to ::1 alone (ip6-localhost, ip6-loopback)";
}

}  // namespace
