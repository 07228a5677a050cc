// Retention for files that carry a date (yyyymmdd) in their names.
#pragma once

#include <cstdint>
#include <string>

// Deletes the files prefix*extension whose names hold none of the dates of the last days
// (today included). A prefix with a directory part works in that directory. Never raises.
void DeleteOldFiles(const std::string& prefix, const std::string& extension, std::int32_t days);
