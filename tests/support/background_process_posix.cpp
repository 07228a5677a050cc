#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "tests/support/background_process.h"

extern char** environ;

BackgroundProcess::~BackgroundProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
}

bool BackgroundProcess::Start(const std::string& executable,
                              const std::vector<std::string>& arguments,
                              const std::string& outputFile, std::string& error, bool ownGroup) {
  std::vector<std::string> texts = {executable};
  texts.insert(texts.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& text : texts) argv.push_back(text.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                   0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  if (ownGroup) {
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
  }
  pid_t child = -1;
  int result = posix_spawn(&child, executable.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (result != 0) {
    error = executable + ": " + std::strerror(result);
    return false;
  }
  pid_ = child;
  exitCode_ = -1;
  return true;
}

bool BackgroundProcess::Running() {
  if (pid_ <= 0) return false;
  int status = 0;
  pid_t ended = waitpid(pid_, &status, WNOHANG);
  if (ended == 0) return true;
  exitCode_ = ended == pid_ && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  pid_ = -1;
  return false;
}

void BackgroundProcess::KillGroup() {
  if (pid_ <= 0) return;
  kill(-pid_, SIGKILL);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  exitCode_ = -1;
}

int BackgroundProcess::Stop(Request request, std::chrono::milliseconds grace) {
  if (!Running()) return exitCode_;
  kill(pid_, request == Request::Quit ? SIGQUIT : SIGTERM);
  const auto end = std::chrono::steady_clock::now() + grace;
  while (Running()) {
    if (std::chrono::steady_clock::now() >= end) {
      kill(pid_, SIGKILL);
      int status = 0;
      waitpid(pid_, &status, 0);
      pid_ = -1;
      exitCode_ = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return exitCode_;
}
