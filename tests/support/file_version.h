// The version resource of a Windows executable, read back as Explorer and inventory tools read
// it (Windows only).
#pragma once

#include <map>
#include <string>

struct FileVersion {
  std::string Numbers;  // the fixed part's file version, "1.0.0.0"
  // The texts of the US English, Unicode string table by name ("FileVersion", "ProductName"),
  // in UTF-8.
  std::map<std::string, std::string> Texts;
};

// False with the system's reason when the file carries no version resource.
bool ReadFileVersion(const std::string& path, FileVersion& version, std::string& error);
