// Event records in the 8-bit layout the event log service delivers, laid out by hand for the
// tests: the fixed header, the source and computer names, the padding to four bytes, the user
// SID, the strings, the data, the padding and the trailing copy of the length.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct AnsiRecordFields {
  std::uint32_t RecordNumber = 0;
  std::uint32_t TimeGenerated = 0;
  std::uint32_t TimeWritten = 0;
  std::uint32_t EventID = 0;
  std::uint16_t EventType = 0;
  std::uint16_t EventCategory = 0;
  std::string Source;
  std::string Computer;
  std::vector<std::uint8_t> UserSid;
  std::vector<std::string> Strings;
  std::vector<std::uint8_t> Data;
};

std::vector<std::uint8_t> BuildAnsiRecord(const AnsiRecordFields& fields);
