// Event records in the 8-bit layout the event log service delivers, for the tests: the fields
// are the program's own (core::EventRecordFields) and the bytes come from its one builder, whose
// layout tests/event_record_test.cpp pins down byte by byte.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "core/event_record.h"

using AnsiRecordFields = core::EventRecordFields;

namespace core {
// How a failing comparison shows a record.
inline void PrintTo(const EventRecordFields& r, std::ostream* out) {
  *out << "#" << r.RecordNumber << " id " << r.EventID << " src '" << r.Source << "' strings";
  for (const auto& s : r.Strings) *out << " '" << s << "'";
}
}  // namespace core

inline std::vector<std::uint8_t> BuildAnsiRecord(const AnsiRecordFields& fields) {
  const std::string record = core::BuildEventRecord(fields);
  return std::vector<std::uint8_t>(record.begin(), record.end());
}
