#include "tests/support/udp_receiver.h"

#include <thread>

#include "platform/sockets.h"
#include "tests/support/test_sockets.h"

namespace {

constexpr std::uint32_t kLoopback = 0x7F000001;
constexpr int kAddressInUse = 10048;

std::string Failure(const std::string& what, int errorCode) {
  return what + ": Socket Error # " + std::to_string(errorCode) + " " + SocketErrorText(errorCode);
}

}  // namespace

UdpReceiver::~UdpReceiver() { platform::CloseSocket(socket_); }

bool UdpReceiver::Bind(std::uint16_t port, std::chrono::milliseconds wait, std::string& error) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    int errorCode = 0;
    socket_ = platform::OpenDatagramSocket(errorCode);
    if (socket_ == platform::kInvalidSocket) {
      error = Failure("socket", errorCode);
      return false;
    }
    if (BindDatagram(socket_, kLoopback, port, errorCode)) return true;
    platform::CloseSocket(socket_);
    socket_ = platform::kInvalidSocket;
    if (errorCode != kAddressInUse || std::chrono::steady_clock::now() >= deadline) {
      error = Failure("bind 127.0.0.1:" + std::to_string(port), errorCode);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

std::uint16_t UdpReceiver::Port() const { return platform::LocalPort(socket_); }

std::vector<std::string> UdpReceiver::ReceiveFor(std::chrono::milliseconds window) {
  std::vector<std::string> datagrams;
  if (socket_ == platform::kInvalidSocket) return datagrams;
  const auto deadline = std::chrono::steady_clock::now() + window;
  std::string buffer(70000, '\0');
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    int errorCode = 0;
    if (platform::WaitUntilReadable(socket_, left.count() > 0 ? static_cast<int>(left.count()) : 0,
                                    errorCode) != platform::WaitResult::Ready)
      return datagrams;
    const long size = platform::ReceiveAvailable(socket_, buffer.data(), buffer.size(), errorCode);
    if (size >= 0) datagrams.emplace_back(buffer.data(), static_cast<std::size_t>(size));
  }
}
