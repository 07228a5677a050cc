#include "core/utf16_scan.h"

#include <bit>
#include <cstring>

#include "core/byteorder.h"

namespace core::utf16 {
namespace {

// The texts of a record are mostly ASCII: they are scanned four UTF-16 units (one 64-bit word,
// each unit little-endian in a 16-bit lane) at a time.
constexpr std::uint64_t kLaneLowBits = 0x0001000100010001u;
constexpr std::uint64_t kLaneHighBits = 0x8000800080008000u;
constexpr std::uint64_t kNonAsciiBits = 0xFF80FF80FF80FF80u;

// Native loads and stores where the machine is little-endian, byte by byte elsewhere.
std::uint64_t LoadFourUnits(const std::uint8_t* p) {
  if constexpr (std::endian::native == std::endian::little) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
  }
  return std::uint64_t(LoadU32(p)) | std::uint64_t(LoadU32(p + 4)) << 32;
}

void StoreFourBytes(std::uint8_t* p, std::uint32_t bytes) {
  if constexpr (std::endian::native == std::endian::little)
    std::memcpy(p, &bytes, sizeof bytes);
  else
    StoreU32(p, bytes);
}

// Whether one of the four units is zero (the classic test: only a zero lane borrows into its
// own top bit while that bit was clear).
constexpr bool HasZeroUnit(std::uint64_t word) {
  return ((word - kLaneLowBits) & ~word & kLaneHighBits) != 0;
}

constexpr bool IsPlainAscii(std::uint64_t word) {
  return (word & kNonAsciiBits) == 0 && !HasZeroUnit(word);
}

// The four ASCII units as four bytes, first unit in the lowest byte: each unit's byte moves
// next to the one before, [a 0 b 0 c 0 d 0] | [b 0 c 0 d 0 0 0] = [a b b c c d d 0], and the
// bytes 0, 1, 4 and 5 of that are the text.
constexpr std::uint32_t NarrowFourUnits(std::uint64_t word) {
  const std::uint64_t pairs = word | word >> 8;
  return std::uint32_t((pairs & 0xFFFF) | (pairs >> 16 & 0xFFFF0000));
}

}  // namespace

// The count of units before the zero unit of the text, which must come within maxUnits.
std::optional<std::uint32_t> WideTextUnits(const std::uint8_t* text, std::uint32_t maxUnits) {
  std::uint32_t i = 0;
  while (i + 4 <= maxUnits && !HasZeroUnit(LoadFourUnits(text + 2 * i))) i += 4;
  for (; i < maxUnits; ++i)
    if (UnitAt(text, i) == 0) return i;
  return std::nullopt;
}

// The end of the run of ASCII units other than zero that starts at index; eight units a step
// while they last.
std::uint32_t AsciiRunEnd(const std::uint8_t* text, std::uint32_t index, std::uint32_t maxUnits) {
  while (index + 8 <= maxUnits && IsPlainAscii(LoadFourUnits(text + 2 * index)) &&
         IsPlainAscii(LoadFourUnits(text + 2 * index + 8)))
    index += 8;
  while (index + 4 <= maxUnits && IsPlainAscii(LoadFourUnits(text + 2 * index))) index += 4;
  for (std::uint16_t unit; index < maxUnits && (unit = UnitAt(text, index)) != 0 && unit < 0x80;)
    ++index;
  return index;
}

// Appends count ASCII units as bytes; the string is sized once and filled in place.
void AppendAsciiUnits(const std::uint8_t* units, std::uint32_t count, std::string& out) {
  const std::size_t start = out.size();
  out.resize(start + count);
  auto* dest = reinterpret_cast<std::uint8_t*>(out.data() + start);
  std::uint32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    StoreFourBytes(dest + i, NarrowFourUnits(LoadFourUnits(units + 2 * i)));
    StoreFourBytes(dest + i + 4, NarrowFourUnits(LoadFourUnits(units + 2 * i + 8)));
  }
  for (; i + 4 <= count; i += 4)
    StoreFourBytes(dest + i, NarrowFourUnits(LoadFourUnits(units + 2 * i)));
  for (; i < count; ++i) dest[i] = units[2 * i];
}

}  // namespace core::utf16
