// Runs a program as the operator would: in a directory, with an environment, fed on standard
// input, its output collected.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

struct ProcessRun {
  std::string Executable;
  std::vector<std::string> Arguments;
  std::string WorkingDirectory;
  // Variables set on top of the test's environment, and variables removed from it.
  std::map<std::string, std::string> Environment;
  std::vector<std::string> RemovedVariables;
  // The arguments are UTF-8 text: on Windows the program gets them through the wide command
  // line, so that a character the code page lacks reaches it (else they are in the code page).
  bool Utf8Arguments = false;
  std::string Input;
  bool CloseInput = true;  // false leaves standard input open and empty until the end
  std::chrono::milliseconds Timeout{20000};
  // Ends the program once its standard output holds this many bytes of this text; empty: never.
  std::string StopWhenOutputHolds;
  int StopAfterOccurrences = 1;
  // Linux: asked with the output and errors so far, about every 20 ms while the program runs;
  // the first time it answers true the program is sent the request (once).
  enum class Request { Terminate, Interrupt };
  std::function<bool(const std::string& output, const std::string& errors)> RequestWhen;
  Request RequestSent = Request::Terminate;
};

struct ProcessResult {
  int ExitCode = -1;     // -1 when it was ended by a signal
  int Signal = 0;        // Linux: the number of the signal that ended it
  bool Stopped = false;  // ended by the test (time-out or the awaited output)
  std::string Output;
  std::string Errors;
};

ProcessResult RunProcess(const ProcessRun& run);

// Linux: the number of the signal a request is sent as (SIGTERM, SIGINT).
int SignalNumber(ProcessRun::Request request);

// A fresh directory under the system's temporary directory, removed by its destructor.
class TemporaryDirectory {
 public:
  TemporaryDirectory();
  ~TemporaryDirectory();
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void WriteFileBytes(const std::string& path, const std::string& bytes);
std::string ReadFileBytes(const std::string& path);
bool PathExists(const std::string& path);
// The names of the directory's entries that match the regular expression as a whole, sorted; a
// directory that cannot be listed raises std::filesystem::filesystem_error.
std::vector<std::string> FilesMatching(const std::string& directory, const std::string& pattern);

// Sets or removes a variable of the test's own environment.
void SetTestEnvironment(const std::string& name, const std::string& value);
void ClearTestEnvironment(const std::string& name);
