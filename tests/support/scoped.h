// Test fixtures that change process-wide state for the life of an object.
#pragma once

#include <cstdlib>
#include <optional>
#include <string>

#include "core/regional.h"
#include "tests/support/process.h"

// Keeps a process-wide value and puts it back at the end; the test may change it meanwhile.
template <typename T>
class ScopedValue {
 public:
  explicit ScopedValue(T& value) : value_(value), old_(value) {}
  ~ScopedValue() { value_ = old_; }
  ScopedValue(const ScopedValue&) = delete;
  ScopedValue& operator=(const ScopedValue&) = delete;

 private:
  T& value_;
  T old_;
};

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
