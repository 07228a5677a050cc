// A scripted peer on 127.0.0.1 for the HTTP tests: it accepts connections on an ephemeral port
// and plays the same script on each one, in a thread of its own.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

struct ServerStep {
  std::string Send;
  std::chrono::milliseconds PauseAfter{0};
};

struct ServerScript {
  bool ReadRequest = true;  // wait for the request head (up to the empty line) first
  std::vector<ServerStep> Steps;
  std::string Repeat;       // sent again and again after the steps until the peer goes
  bool HoldOpen = false;    // after the steps, keep the connection until the peer closes it
  bool ResetAtEnd = false;  // end the connection with a reset instead of an orderly close
  // After the request, before the steps: a pause of a random length from 0 to this, new for each
  // connection (a gateway whose answer takes a varying time).
  std::chrono::milliseconds RandomPauseUpTo{0};
  bool IPv6 = false;  // listen on [::1] instead of 127.0.0.1
};

// Whether this machine has the IPv6 loopback [::1] to listen on (tests skip without it).
bool HasIPv6Loopback();

class LoopbackServer {
 public:
  explicit LoopbackServer(ServerScript script);
  // On a fixed port of 127.0.0.1; raises std::runtime_error when the port cannot be had.
  LoopbackServer(ServerScript script, std::uint16_t port);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  std::uint16_t Port() const { return port_; }
  // "127.0.0.1:<port>", or "[::1]:<port>"
  std::string HostAndPort() const;
  // The bytes received on each connection so far, in the order of the connections.
  std::vector<std::string> Requests() const;
  // Bytes the repeat step sent on all connections.
  std::uint64_t RepeatedBytes() const { return repeatedBytes_; }
  // Connections the peer closed (or reset) while the script was reading, pausing, repeating or
  // holding the connection open; a script that has ended no longer watches its connection.
  std::size_t PeerClosures() const { return peerClosures_; }
  // Waits until at least that many connections were closed by the peer; false when the time ran
  // out first.
  bool WaitForPeerClosures(std::size_t count, std::chrono::milliseconds wait) const;

 private:
  void Serve();
  void Play(std::intptr_t connection);

  ServerScript script_;
  std::intptr_t listener_;
  std::uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<std::uint64_t> repeatedBytes_{0};
  std::atomic<std::size_t> peerClosures_{0};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::mt19937 random_{std::random_device{}()};
  std::thread thread_;
};
