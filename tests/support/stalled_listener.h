// A listening port on 127.0.0.1 that takes no more connections: its queue of waiting connections
// is full and nobody accepts them, so a new connection attempt waits without an answer, the way
// an unreachable host behaves.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class StalledListener {
 public:
  StalledListener();
  ~StalledListener();
  StalledListener(const StalledListener&) = delete;
  StalledListener& operator=(const StalledListener&) = delete;

  // True when a connection attempt was seen to stall; otherwise Why() tells what went wrong.
  bool Ready() const { return ready_; }
  const std::string& Why() const { return why_; }
  std::uint16_t Port() const { return port_; }

 private:
  std::intptr_t listener_ = -1;
  std::vector<std::intptr_t> fillers_;
  std::uint16_t port_ = 0;
  bool ready_ = false;
  std::string why_;
};
