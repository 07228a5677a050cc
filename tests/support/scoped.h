// Test fixtures that change process-wide state for the life of an object.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

#include "core/regional.h"
#include "tests/support/process.h"

// Sets or (with nullptr) clears an environment variable for the life of the object.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      SetTestEnvironment(name, value);
    else
      ClearTestEnvironment(name);
  }
  ~ScopedEnvironment() {
    if (old_)
      SetTestEnvironment(name_, *old_);
    else
      ClearTestEnvironment(name_);
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// Keeps the run's regional settings, or replaces them, for the life of the object.
class ScopedFormatSettings {
 public:
  ScopedFormatSettings() : old_(FormatSettings()) {}
  explicit ScopedFormatSettings(const RegionalSettings& settings) : old_(FormatSettings()) {
    FormatSettings() = settings;
  }
  ~ScopedFormatSettings() { FormatSettings() = old_; }

 private:
  RegionalSettings old_;
};
