// A program that runs in the background while a test talks to it (a web server, say): started
// without waiting, its output in a file, asked to end by the test.
#pragma once

#include <chrono>
#include <string>
#include <vector>

class BackgroundProcess {
 public:
  BackgroundProcess() = default;
  // Kills a program that is still running and collects it.
  ~BackgroundProcess();
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;

  // Starts the program with standard input empty and standard output and error appended to the
  // file; false with the reason.
  // With ownGroup it leads a process group of its own, which KillGroup ends as a whole.
  bool Start(const std::string& executable, const std::vector<std::string>& arguments,
             const std::string& outputFile, std::string& error, bool ownGroup = false);
  // True while the program runs; once it has ended, ExitCode tells how.
  bool Running();
  // The exit code of an ended program, -1 when a signal ended it.
  int ExitCode() const { return exitCode_; }

  enum class Request { Quit, Terminate };
  // Asks the program to end (Quit: SIGQUIT, a graceful end; Terminate: SIGTERM), kills it when it
  // is still running after the grace period, and collects it. The exit code, -1 for a signal.
  int Stop(Request request, std::chrono::milliseconds grace);
  // Kills every process of its group at once with SIGKILL (a program started with ownGroup) and
  // collects it; its children are left to the system to collect.
  void KillGroup();

 private:
  int pid_ = -1;
  int exitCode_ = -1;
};
