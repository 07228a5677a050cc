// This process's standard input and output swapped for pipes in PIPE_NOWAIT mode, as some
// supervisors hand them over: the input's text arrives only after a pause, and a slow reader
// drains the output a little at a time.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

class NonWaitingStandardPipes {
 public:
  NonWaitingStandardPipes(std::string input, std::chrono::milliseconds inputPause,
                          std::size_t readSize, std::chrono::milliseconds readPause);
  // Puts the process's own standard handles back.
  ~NonWaitingStandardPipes();
  NonWaitingStandardPipes(const NonWaitingStandardPipes&) = delete;
  NonWaitingStandardPipes& operator=(const NonWaitingStandardPipes&) = delete;

  // False with the reason when the pipes could not be set up.
  bool Ready() const;
  const std::string& Why() const;
  // Closes the output and returns every byte the reader took from it.
  std::string Output();

 private:
  struct State;
  std::unique_ptr<State> state_;
};
