#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "paging/httpclient.h"
#include "platform/sockets.h"
#include "tests/support/background_process.h"
#include "tests/support/process.h"

namespace {

using namespace std::chrono_literals;

const char kNginx[] = "/usr/sbin/nginx";
constexpr std::uint32_t kLoopback = 0x7F000001;
const std::string kMarker = "Message succesfully sent";
const std::string kPageQuery =
    "/cgi-bin/xmhscgi?password=KRVOT&pagerid=730418&message=EventLog:%2009.10.2017%2016:04:05%20"
    "Host%3DALPHA%20Source%3DService%20Control%20Manager%20EventID%3D105";
const std::string kAgent = "Mozilla/3.0 (compatible; Tarn32 Library)";

// A port of 127.0.0.1 that was free a moment ago.
std::uint16_t FreePort() {
  int errorCode = 0;
  platform::SocketHandle listener = platform::ListenStream(kLoopback, 0, errorCode);
  if (listener == platform::kInvalidSocket) return 0;
  const std::uint16_t port = platform::LocalPort(listener);
  platform::CloseSocket(listener);
  return port;
}

bool Accepts(std::uint16_t port) {
  int errorCode = 0;
  platform::SocketHandle socket = platform::OpenStreamSocket(errorCode);
  if (socket == platform::kInvalidSocket) return false;
  const bool connected = platform::ConnectStream(socket, kLoopback, port, 200, errorCode);
  platform::CloseSocket(socket);
  return connected;
}

// One server process in the foreground of its own, everything it writes in the directory. The
// access log holds, per request, the request line and the headers the client sent.
std::string NginxConfiguration(const std::string& directory, std::uint16_t port) {
  return "daemon off;\n"
         "master_process off;\n"
         "pid " +
         directory + "/nginx.pid;\n" + "error_log " + directory +
         "/error.log info;\n"
         "events { worker_connections 64; }\n"
         "http {\n"
         "  default_type text/html;\n"
         "  log_format sent '$request|$http_host|$http_content_type|$http_accept|"
         "$http_user_agent|$connection_requests|$status';\n"
         "  access_log " +
         directory +
         "/access.log sent;\n"
         "  client_body_temp_path " +
         directory + "/body;\n" + "  proxy_temp_path " + directory + "/proxy;\n" +
         "  fastcgi_temp_path " + directory + "/fastcgi;\n" + "  uwsgi_temp_path " + directory +
         "/uwsgi;\n" + "  scgi_temp_path " + directory +
         "/scgi;\n"
         "  server {\n"
         "    listen 127.0.0.1:" +
         std::to_string(port) +
         ";\n"
         "    location = /cgi-bin/xmhscgi { return 200 \"" +
         kMarker +
         "\"; }\n"
         "    location = /moved { return 302 http://elsewhere.invalid/; }\n"
         "    location = /broken { return 500 \"gateway broke\"; }\n"
         "  }\n"
         "}\n";
}

class NginxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!PathExists(kNginx)) GTEST_SKIP() << kNginx << " is not installed (Debian nginx-light)";
    std::string why;
    for (int attempt = 0; attempt < 3; ++attempt) {
      port_ = FreePort();
      if (port_ == 0) continue;
      WriteFileBytes(dir_.File("nginx.conf"), NginxConfiguration(dir_.Path(), port_));
      if (!nginx_.Start(kNginx,
                        {"-p", dir_.Path() + "/", "-c", dir_.File("nginx.conf"), "-e",
                         dir_.File("error.log")},
                        dir_.File("output.txt"), why))
        FAIL() << why;
      // Until the port answers; a server that ended lost the port to someone else.
      const auto end = std::chrono::steady_clock::now() + 5s;
      while (nginx_.Running() && !Accepts(port_) && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(20ms);
      if (nginx_.Running() && Accepts(port_)) return;
      nginx_.Stop(BackgroundProcess::Request::Terminate, 1000ms);
    }
    FAIL() << "nginx did not start:\n"
           << ReadFileBytes(dir_.File("output.txt")) << ReadFileBytes(dir_.File("error.log"));
  }

  // Ends the server gracefully, so that its log is complete, and returns the access log lines.
  std::vector<std::string> StopAndReadAccessLog() {
    nginx_.Stop(BackgroundProcess::Request::Quit, 5000ms);
    std::vector<std::string> lines;
    const std::string log = ReadFileBytes(dir_.File("access.log"));
    for (std::size_t start = 0; start < log.size();) {
      std::size_t end = log.find('\n', start);
      if (end == std::string::npos) end = log.size();
      lines.push_back(log.substr(start, end - start));
      start = end + 1;
    }
    return lines;
  }

  std::string Base() const { return "http://127.0.0.1:" + std::to_string(port_); }
  std::string HostAndPort() const { return "127.0.0.1:" + std::to_string(port_); }

  TemporaryDirectory dir_;
  BackgroundProcess nginx_;
  std::uint16_t port_ = 0;
};

TEST_F(NginxTest, PageRequestGetsTheMarkerAndArrivesAsSent) {
  const std::string logged = "|" + HostAndPort() + "|text/html|text/html, */*|" + kAgent;
  {
    THttpClient client;
    client.SetHost(HostAndPort());
    client.SetPort(80);
    EXPECT_EQ(client.Get(Base() + kPageQuery), kMarker);
    EXPECT_EQ(client.Response().StatusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(client.Response().ContentLength, 24);
    EXPECT_EQ(client.Response().Header("content-type"), "text/html");
    // The server keeps the connection, and the next request travels on it.
    ASSERT_TRUE(client.IsConnected());
    EXPECT_EQ(client.Get(Base() + "/cgi-bin/xmhscgi?password=KRVOT&pagerid=1&message=two#three"),
              kMarker);
    client.CloseConnection();
    EXPECT_FALSE(client.IsConnected());
  }
  EXPECT_EQ(
      StopAndReadAccessLog(),
      (std::vector<std::string>{
          "GET " + kPageQuery + " HTTP/1.1" + logged + "|1|200",
          "GET /cgi-bin/xmhscgi?password=KRVOT&pagerid=1&message=two HTTP/1.1" + logged + "|2|200",
      }));
}

TEST_F(NginxTest, RefusedAndRedirectedRequestsRaiseTheStatusLine) {
  struct Case {
    std::string path;
    std::string statusLine;
    int code;
    std::string bodyHolds;
  } cases[] = {
      {"/cgi-bin/other", "HTTP/1.1 404 Not Found", 404, "<title>404 Not Found</title>"},
      {"/moved", "HTTP/1.1 302 Moved Temporarily", 302, "<title>302 Found</title>"},
      {"/broken", "HTTP/1.1 500 Internal Server Error", 500, "gateway broke"},
  };
  std::vector<std::string> expectedLog;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    THttpClient client;
    try {
      client.Get(Base() + c.path);
      ADD_FAILURE() << "Get returned";
    } catch (const EHTTPProtocolException& failure) {
      EXPECT_EQ(failure.ClassName(), "EHTTPProtocolException");
      EXPECT_EQ(failure.Message(), c.statusLine);
      EXPECT_EQ(failure.ErrorCode(), c.code);
      EXPECT_NE(failure.ErrorMessage().find(c.bodyHolds), std::string::npos)
          << failure.ErrorMessage();
    }
    expectedLog.push_back("GET " + c.path + " HTTP/1.1|" + HostAndPort() +
                          "|text/html|text/html, */*|" + kAgent + "|1|" + std::to_string(c.code));
  }
  EXPECT_EQ(StopAndReadAccessLog(), expectedLog);
}

TEST_F(NginxTest, Version10RequestIsAnsweredAndTheConnectionEnds) {
  THttpClient client;
  client.ProtocolVersion = "1.0";
  EXPECT_EQ(client.Get(Base() + "/cgi-bin/xmhscgi?password=KRVOT"), kMarker);
  EXPECT_EQ(client.Response().Header("Connection"), "close");
  EXPECT_FALSE(client.IsConnected());
  EXPECT_EQ(
      StopAndReadAccessLog(),
      (std::vector<std::string>{"GET /cgi-bin/xmhscgi?password=KRVOT HTTP/1.0|" + HostAndPort() +
                                "|text/html|text/html, */*|" + kAgent + "|1|200"}));
}

}  // namespace
