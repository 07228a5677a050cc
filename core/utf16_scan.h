// Scanning UTF-16 texts stored little-endian in a byte buffer (the texts of an event record in
// the .evt file), four units (one 64-bit word) a step: the length up to the zero unit, the runs
// of ASCII units and their copy as bytes. No character set: what is not ASCII is the caller's.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/byteorder.h"

namespace core::utf16 {

inline std::uint16_t UnitAt(const std::uint8_t* text, std::uint32_t index) {
  return LoadU16(text + 2 * index);
}

// The count of units before the zero unit of the text, which must come within maxUnits.
std::optional<std::uint32_t> WideTextUnits(const std::uint8_t* text, std::uint32_t maxUnits);

// The end of the run of ASCII units other than zero that starts at index, at most maxUnits.
std::uint32_t AsciiRunEnd(const std::uint8_t* text, std::uint32_t index, std::uint32_t maxUnits);

// The count of units from text on up to and with the count-th zero unit (count texts that follow
// each other, each with its terminator), which must come within maxUnits; nullopt when it does
// not, or when a unit before it is not ASCII. count is at least 1.
std::optional<std::uint32_t> AsciiTextsUnits(const std::uint8_t* text, std::uint32_t count,
                                             std::uint32_t maxUnits);

// Appends the units AsciiTextsUnits counts as bytes, the zero units with them, and returns their
// count; nullopt, with out as it was, where AsciiTextsUnits gives nullopt.
std::optional<std::uint32_t> AppendAsciiTexts(const std::uint8_t* text, std::uint32_t count,
                                              std::uint32_t maxUnits, std::string& out);

// Appends count ASCII units as bytes (each unit's low byte; a zero unit becomes a zero byte).
void AppendAsciiUnits(const std::uint8_t* units, std::uint32_t count, std::string& out);

}  // namespace core::utf16
