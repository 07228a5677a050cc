// Fixtures and small helpers shared by the kit's tests.
#pragma once

#include <filesystem>
#include <string>

#include "core/datetime.h"
#include "core/regional.h"
#include "kit/records.h"
#include "platform/clock.h"
#include "tests/support/process.h"

// Keeps the kit's global settings and puts them back at the end.
class ScopedGlobalSettings {
 public:
  ScopedGlobalSettings() : old_(GlobalSettings) {}
  ~ScopedGlobalSettings() { GlobalSettings = old_; }
  ScopedGlobalSettings(const ScopedGlobalSettings&) = delete;
  ScopedGlobalSettings& operator=(const ScopedGlobalSettings&) = delete;

 private:
  tGlobalSettings old_;
};

// Works in another current directory for the life of the object.
class ScopedCurrentDirectory {
 public:
  explicit ScopedCurrentDirectory(const std::string& path) : old_(std::filesystem::current_path()) {
    std::filesystem::current_path(path);
  }
  ~ScopedCurrentDirectory() { std::filesystem::current_path(old_); }
  ScopedCurrentDirectory(const ScopedCurrentDirectory&) = delete;
  ScopedCurrentDirectory& operator=(const ScopedCurrentDirectory&) = delete;

 private:
  std::filesystem::path old_;
};

// The text as a regular expression that matches exactly it.
inline std::string RegexEscape(const std::string& text) {
  static const std::string special = R"(\^$.|?*+()[]{}/-)";
  std::string escaped;
  for (char c : text) {
    if (special.find(c) != std::string::npos) escaped += '\\';
    escaped += c;
  }
  return escaped;
}

// Today's daily CSV file for a log base.
inline std::string TodaysFile(const std::string& base) {
  return base + "-" + FormatDateTime("yyyymmdd", Now()) + ".CSV";
}

inline std::string FileOrNothing(const std::string& path) {
  return PathExists(path) ? ReadFileBytes(path) : "<no file>";
}

// Separators and orders unlike the defaults, so that the helpers show they follow them.
inline RegionalSettings DottedSettings() {
  RegionalSettings settings;
  settings.ShortDateFormat = "dd.mm.yyyy";
  settings.DateSeparator = '.';
  settings.TimeSeparator = '.';
  settings.LongTimeFormat = "hh:mm:ss";
  return settings;
}
