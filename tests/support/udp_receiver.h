// A UDP receiver on a loopback port for the syslog tests.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

class UdpReceiver {
 public:
  UdpReceiver() = default;
  ~UdpReceiver();
  UdpReceiver(const UdpReceiver&) = delete;
  UdpReceiver& operator=(const UdpReceiver&) = delete;

  // Binds 127.0.0.1:port; while another process holds the port it tries again until the wait is
  // over. False with a description of the failure.
  bool Bind(std::uint16_t port, std::chrono::milliseconds wait, std::string& error);
  // The bound port (Bind with port 0 takes a free one).
  std::uint16_t Port() const;
  // Every datagram that arrives within the window, in the order of arrival.
  std::vector<std::string> ReceiveFor(std::chrono::milliseconds window);

 private:
  std::intptr_t socket_ = -1;
};
