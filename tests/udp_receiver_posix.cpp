#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "udp_receiver.h"

bool RunningAsRoot() { return geteuid() == 0; }

UdpReceiver::~UdpReceiver() {
  if (socket_ >= 0) close(socket_);
}

bool UdpReceiver::Bind(std::uint16_t port, std::chrono::milliseconds wait, std::string& error) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    socket_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0) {
      error = std::string("socket: ") + std::strerror(errno);
      return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
      return true;
    const int failure = errno;
    close(socket_);
    socket_ = -1;
    if (failure != EADDRINUSE || std::chrono::steady_clock::now() >= deadline) {
      error = "bind 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(failure);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

std::vector<std::string> UdpReceiver::ReceiveFor(std::chrono::milliseconds window) {
  std::vector<std::string> datagrams;
  if (socket_ < 0) return datagrams;
  const auto deadline = std::chrono::steady_clock::now() + window;
  std::string buffer(70000, '\0');
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd waiting{socket_, POLLIN, 0};
    const int ready = poll(&waiting, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return datagrams;
    const ssize_t size = recv(socket_, buffer.data(), buffer.size(), 0);
    if (size >= 0) datagrams.emplace_back(buffer.data(), static_cast<std::size_t>(size));
  }
}
