#include "tests/support/loopback_server.h"

#include <stdexcept>

#include "platform/sockets.h"
#include "tests/support/test_sockets.h"

namespace {

constexpr std::uint32_t kLoopback = 0x7F000001;
constexpr int kPollMilliseconds = 20;
constexpr int kWouldBlock = 10035;
constexpr int kTimedOut = 10060;

tSocketAddress ListenAddress(bool ipv6) {
  if (!ipv6) return IPv4SocketAddress(kLoopback);
  std::array<std::uint8_t, 16> loopback{};
  loopback[15] = 1;
  return IPv6SocketAddress(loopback);
}

}  // namespace

bool HasIPv6Loopback() {
  int errorCode = 0;
  const platform::UniqueSocket listener(platform::ListenStream(ListenAddress(true), 0, errorCode));
  return static_cast<bool>(listener);
}

LoopbackServer::LoopbackServer(ServerScript script) : LoopbackServer(std::move(script), 0) {}

LoopbackServer::LoopbackServer(ServerScript script, std::uint16_t port)
    : script_(std::move(script)) {
  int errorCode = 0;
  listener_ = platform::ListenStream(ListenAddress(script_.IPv6), port, errorCode);
  if (listener_ == platform::kInvalidSocket)
    throw std::runtime_error("cannot listen on loopback port " + std::to_string(port) + ": " +
                             std::to_string(errorCode));
  port_ = platform::LocalPort(listener_);
  thread_ = std::thread([this] { Serve(); });
}

LoopbackServer::~LoopbackServer() {
  stopping_ = true;
  thread_.join();
  platform::CloseSocket(listener_);
}

std::string LoopbackServer::HostAndPort() const {
  return (script_.IPv6 ? "[::1]:" : "127.0.0.1:") + std::to_string(port_);
}

std::vector<std::string> LoopbackServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

bool LoopbackServer::WaitForPeerClosures(std::size_t count, std::chrono::milliseconds wait) const {
  const auto end = std::chrono::steady_clock::now() + wait;
  while (peerClosures_ < count) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

void LoopbackServer::Serve() {
  while (!stopping_) {
    int errorCode = 0;
    if (platform::WaitUntilReadable(listener_, kPollMilliseconds, errorCode) !=
        platform::WaitResult::Ready)
      continue;
    platform::SocketHandle connection = platform::AcceptStream(listener_, errorCode);
    if (connection == platform::kInvalidSocket) continue;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.emplace_back();
    }
    Play(connection);
    if (script_.ResetAtEnd) ResetOnClose(connection);
    platform::CloseSocket(connection);
  }
}

void LoopbackServer::Play(std::intptr_t connection) {
  int errorCode = 0;
  char block[4096];
  // Takes what has arrived; false once the peer has closed or failed.
  auto receive = [&]() {
    long received = platform::ReceiveAvailable(connection, block, sizeof block, errorCode);
    if (received > 0) {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.back().append(block, static_cast<std::size_t>(received));
    }
    if (received > 0 || (received < 0 && errorCode == kWouldBlock)) return true;
    ++peerClosures_;
    return false;
  };
  auto requestComplete = [&]() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_.back().find("\r\n\r\n") != std::string::npos;
  };
  auto pause = [&](std::chrono::milliseconds length) {
    const auto end = std::chrono::steady_clock::now() + length;
    while (!stopping_ && std::chrono::steady_clock::now() < end) {
      if (platform::WaitUntilReadable(connection, kPollMilliseconds, errorCode) ==
              platform::WaitResult::Ready &&
          !receive())
        return false;
    }
    return !stopping_;
  };
  // A send the peer refuses counts as its close; a send that ran out of time does not.
  auto send = [&](const std::string& bytes) {
    if (platform::SendAll(connection, bytes.data(), bytes.size(), 2000, errorCode)) return true;
    if (errorCode != kTimedOut) ++peerClosures_;
    return false;
  };

  while (script_.ReadRequest && !stopping_ && !requestComplete()) {
    if (platform::WaitUntilReadable(connection, kPollMilliseconds, errorCode) ==
            platform::WaitResult::Ready &&
        !receive())
      return;
  }
  if (script_.RandomPauseUpTo.count() > 0) {
    std::uniform_int_distribution<long> length(0, script_.RandomPauseUpTo.count());
    if (!pause(std::chrono::milliseconds(length(random_)))) return;
  }
  for (const ServerStep& step : script_.Steps) {
    if (stopping_ || !send(step.Send) || !pause(step.PauseAfter)) return;
  }
  if (!script_.Repeat.empty()) {
    while (!stopping_ && send(script_.Repeat)) repeatedBytes_ += script_.Repeat.size();
    return;
  }
  if (script_.HoldOpen) {
    while (!stopping_) {
      if (platform::WaitUntilReadable(connection, kPollMilliseconds, errorCode) ==
              platform::WaitResult::Ready &&
          !receive())
        return;
    }
  }
}
