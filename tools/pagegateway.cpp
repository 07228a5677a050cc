// pagegateway: a loopback stand-in of the paging gateway. It prints every page it receives and
// answers each one with the gateway's success marker, so a page can be watched arriving.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/sockets.h"
#include "tools/arguments.h"

namespace {

constexpr const char* kUsage =
    "usage: pagegateway [--port N] [--answer TEXT]\n"
    "       pagegateway --help | --version\n";

constexpr const char* kDescription =
    "\n"
    "A loopback stand-in of the paging gateway: listens on 127.0.0.1, prints every page it\n"
    "receives as \"Page for pager <pager>: <message>\" (decoded) and answers each GET.\n"
    "\n"
    "  --port N       the port, 8080 by default; 0 takes any free port, named in the first line\n"
    "  --answer TEXT  the body of every answer; by default the gateway's success marker, any\n"
    "                 other text makes EventLog take the page as refused\n"
    "\n"
    "Exit codes (otherwise it runs until it is stopped):\n"
    "  0  --help and --version\n"
    "  1  it cannot listen on the port\n"
    "  2  bad arguments\n";
constexpr std::uint32_t kLoopback = 0x7F000001;
constexpr std::size_t kMaxRequestBytes = 64 * 1024;
constexpr int kRequestWaitMilliseconds = 5000;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A query value as a gateway's form decoding reads it: "%" and two hex digits are that byte,
// "+" is a blank.
std::string PercentDecoded(std::string_view text) {
  std::string decoded;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      decoded += ' ';
    } else if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
               HexValue(text[i + 2]) >= 0) {
      decoded += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      decoded += text[i];
    }
  }
  return decoded;
}

// The value of a query key in the request line's target; empty when it is missing.
std::string QueryValue(std::string_view target, std::string_view key) {
  std::size_t query = target.find('?');
  if (query == std::string_view::npos) return {};
  std::string_view rest = target.substr(query + 1);
  while (!rest.empty()) {
    std::size_t end = rest.find('&');
    std::string_view item = rest.substr(0, end);
    if (item.size() > key.size() && item.substr(0, key.size()) == key && item[key.size()] == '=')
      return PercentDecoded(item.substr(key.size() + 1));
    if (end == std::string_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return {};
}

// Reads the request head; false when the peer goes or stays silent first.
bool ReadRequestHead(platform::SocketHandle connection, std::string& head) {
  char block[4096];
  while (head.find("\r\n\r\n") == std::string::npos && head.size() < kMaxRequestBytes) {
    int errorCode = 0;
    if (platform::WaitUntilReadable(connection, kRequestWaitMilliseconds, errorCode) !=
        platform::WaitResult::Ready)
      return false;
    long received = platform::ReceiveAvailable(connection, block, sizeof block, errorCode);
    if (received > 0)
      head.append(block, static_cast<std::size_t>(received));
    else if (received == 0 || errorCode != core::kWsaeWouldBlock)
      return false;
  }
  return true;
}

void Serve(platform::SocketHandle connection, const std::string& answer) {
  std::string head;
  if (!ReadRequestHead(connection, head)) return;
  // "GET <target> HTTP/1.1"
  const std::string requestLine = head.substr(0, head.find("\r\n"));
  const std::size_t first = requestLine.find(' ');
  const std::size_t last = requestLine.rfind(' ');
  const std::string target =
      first < last ? requestLine.substr(first + 1, last - first - 1) : std::string();
  std::printf("Page for pager %s: %s\n", QueryValue(target, "pagerid").c_str(),
              QueryValue(target, "message").c_str());
  std::fflush(stdout);

  const std::string response = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                               std::to_string(answer.size()) + "\r\nConnection: close\r\n\r\n" +
                               answer;
  int errorCode = 0;
  platform::SendAll(connection, response.data(), response.size(), kRequestWaitMilliseconds,
                    errorCode);
  platform::ShutdownSending(connection);
}

// The options; --help (any of its spellings, tools/arguments.h) and --version take no value.
constexpr tools::OptionSpec kOptions[] = {
    {"--port", true}, {"--answer", true}, {"--help", false}, {"--version", false}};

// Reads the options; an error text on bad arguments.
std::string ParseOptions(int argc, char** argv, long& port, std::string& answer) {
  for (const tools::Argument& argument : tools::ReadArguments(argc, argv, kOptions)) {
    if (std::string error = tools::UsualArgumentError(argument); !error.empty()) return error;
    // --help and --version are answered before the options are read.
    if (argument.Name == "--answer") {
      answer = argument.Value;
      continue;
    }
    if (argument.Name != "--port") continue;
    const char* value = argument.Value.c_str();
    char* end = nullptr;
    errno = 0;
    port = std::strtol(value, &end, 10);
    if (*value == '\0' || *end != '\0' || errno != 0 || port < 0 || port > 65535)
      return "bad port " + argument.Value + ": a number from 0 to 65535";
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  tools::ProgramArguments arguments(argc, argv);
  if (!arguments.Problem().empty()) {
    std::fprintf(stderr, "pagegateway: %s\n", arguments.Problem().c_str());
    return 2;
  }
  argc = arguments.Count();
  argv = arguments.Values();
  // The first of --help and --version among the options; an option's value is no option.
  for (const tools::Argument& argument : tools::ReadArguments(argc, argv, kOptions)) {
    if (argument.Kind != tools::ArgumentKind::Option) continue;
    if (argument.Name == "--help") {
      std::fputs(kUsage, stdout);
      std::fputs(kDescription, stdout);
      return 0;
    }
    if (argument.Name == "--version") {
      std::puts("pagegateway " EVENTLOG_VERSION);
      return 0;
    }
  }
  long port = 8080;
  std::string answer = "Message succesfully sent";
  if (std::string error = ParseOptions(argc, argv, port, answer); !error.empty()) {
    std::fprintf(stderr, "pagegateway: %s\n%s", error.c_str(), kUsage);
    return 2;
  }

  platform::StartSocketLayer();
  int errorCode = 0;
  const platform::UniqueSocket listener(
      platform::ListenStream(kLoopback, static_cast<std::uint16_t>(port), errorCode));
  if (!listener) {
    std::fprintf(stderr, "pagegateway: cannot listen on 127.0.0.1:%ld: %s\n", port,
                 SocketErrorText(errorCode).c_str());
    return 1;
  }
  std::printf("Paging gateway stand-in listening on 127.0.0.1:%u\n",
              unsigned(platform::LocalPort(listener.get())));
  std::fflush(stdout);
  for (;;) {
    if (platform::WaitUntilReadable(listener.get(), -1, errorCode) != platform::WaitResult::Ready)
      continue;
    const platform::UniqueSocket connection(platform::AcceptStream(listener.get(), errorCode));
    if (!connection) continue;
    Serve(connection.get(), answer);
  }
}
