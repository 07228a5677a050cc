// The levelled log writer: daily CSV files, syslog forwarding and the day change.
#pragma once

#include <cstdint>
#include <string>

#include "core/datetime.h"
#include "kit/records.h"

// Writes, forwards or drops one entry by its level; never raises.
void LogEntry(tLogRec entry);

// The code with at least five digits, zero-filled ("00042", "-00007", "123456").
std::string CodeText(std::int32_t code);
// The first digit of the code text; a minus sign counts as 0.
int CodeLevel(const std::string& codeText);
// The text with every double quote replaced by an apostrophe.
std::string SafeText(const std::string& text);
// One CSV line with its CR LF, the time columns taken from the moment.
std::string CsvLine(TDateTime moment, const std::string& ident, const std::string& codeText,
                    const std::string& safeText);
// The daily file: base + "-" + yyyymmdd + ".CSV".
std::string DailyFileName(const std::string& base, TDateTime moment);
// The new-day entry's text for the given version and memory figures.
std::string NewDayText(const std::string& version, std::int32_t memoryLoad,
                       std::int32_t availPhysPercent, std::int64_t totalPhys);
// Digits grouped in threes by the regional thousands separator ("#,##0").
std::string FormatThousands(std::int64_t value);
