// A log of the event log service made known for one test: its key below the service's key in the
// machine's registry (under Wine, the prefix's), with the File value the service keeps its file
// under, deleted again when the object ends.
#pragma once

#include <string>

class ScopedClassicLogKey {
 public:
  ScopedClassicLogKey(std::string logName, const std::string& file);
  ~ScopedClassicLogKey();
  ScopedClassicLogKey(const ScopedClassicLogKey&) = delete;
  ScopedClassicLogKey& operator=(const ScopedClassicLogKey&) = delete;
  // False when the registry refused the key, or had it already (then it is left as it is).
  bool Made() const { return made_; }

 private:
  std::string name_;
  bool made_ = false;
};
