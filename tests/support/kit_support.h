// Fixtures and small helpers shared by the kit's tests.
#pragma once

#include <filesystem>
#include <string>

#include "core/datetime.h"
#include "core/regional.h"
#include "kit/records.h"
#include "platform/clock.h"
#include "tests/support/process.h"
#include "tests/support/protocol_data.h"
#include "tests/support/scoped.h"

// Keeps the kit's global settings and puts them back at the end.
class ScopedGlobalSettings : public ScopedValue<tGlobalSettings> {
 public:
  ScopedGlobalSettings() : ScopedValue(GlobalSettings) {}
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
