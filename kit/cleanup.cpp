#include "kit/cleanup.h"

#include <vector>

#include "core/ascii.h"
#include "core/datetime.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/system.h"

namespace {

// An empty prefix is the beginning of no name.
bool BeginsWith(const std::string& name, const std::string& prefix) {
  return !prefix.empty() && name.compare(0, prefix.size(), prefix) == 0;
}

bool BeginsWithIgnoringCase(const std::string& name, const std::string& prefix) {
  return !prefix.empty() && core::StartsWithIgnoringAsciiCase(name, prefix);
}

bool EndsWithIgnoringCase(const std::string& name, const std::string& ending) {
  return core::EndsWithIgnoringAsciiCase(name, ending);
}

// Whether the name holds, as eight digits yyyymmdd anywhere, the date of a day from
// firstDay to lastDay (day numbers). Reading the dates out of the name, rather than writing
// out every kept day, keeps a long retention cheap.
bool HoldsDateBetween(const std::string& name, std::int64_t firstDay, std::int64_t lastDay) {
  for (std::size_t start = 0; start + 8 <= name.size(); ++start) {
    int value[8];
    bool digits = true;
    for (int i = 0; i < 8 && digits; ++i) {
      digits = name[start + i] >= '0' && name[start + i] <= '9';
      value[i] = name[start + i] - '0';
    }
    if (!digits) continue;
    const int year = value[0] * 1000 + value[1] * 100 + value[2] * 10 + value[3];
    const int month = value[4] * 10 + value[5];
    const int day = value[6] * 10 + value[7];
    TDateTime date;
    if (!TryEncodeDate(year, month, day, date)) continue;
    const auto dayNumber = static_cast<std::int64_t>(date);
    if (dayNumber >= firstDay && dayNumber <= lastDay) return true;
  }
  return false;
}

}  // namespace

void DeleteOldFiles(const std::string& prefix, const std::string& extension, std::int32_t days) {
  try {
    // A prefix with a directory part searches and deletes in that directory; the found names
    // are compared with its file-name part.
    std::size_t nameStart = prefix.size();
    while (nameStart > 0 && !platform::IsPathSeparator(prefix[nameStart - 1])) --nameStart;
    const std::string directory = prefix.substr(0, nameStart);
    const std::string namePrefix = prefix.substr(nameStart);

    std::vector<std::string> names;
    if (!platform::FindFileNames(prefix + "*" + extension, names)) return;

    const auto today = static_cast<std::int64_t>(Now());
    const std::int64_t oldestKept = today - (static_cast<std::int64_t>(days) - 1);
    for (const std::string& name : names) {
      const bool kept = days > 0 && BeginsWithIgnoringCase(name, namePrefix) &&
                        EndsWithIgnoringCase(name, extension) &&
                        HoldsDateBetween(name, oldestKept, today);
      if (kept) continue;
      if (BeginsWith(name, namePrefix) && EndsWithIgnoringCase(name, extension))
        platform::RemoveFile(directory + name);  // what cannot be deleted stays, silently
    }
  } catch (...) {
    // Retention is a courtesy: a failure leaves the remaining files in place.
  }
}
