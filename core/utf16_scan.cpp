#include "core/utf16_scan.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "core/byteorder.h"

// Where the processor has them (every x86-64), sixteen bytes (eight units) are looked at a step.
#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define EVENTLOG_UTF16_SSE2 1
#endif

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

#if EVENTLOG_UTF16_SSE2
// Eight units, bit 2k of the mask set where unit k is zero or, with nonAscii, not ASCII (each
// unit is two bytes of the mask; the lowest set bit is the first such unit).
inline unsigned StopMask(const std::uint8_t* p, bool nonAscii) {
  const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i zero = _mm_setzero_si128();
  __m128i stop = _mm_cmpeq_epi16(units, zero);
  if (nonAscii) {
    const __m128i high = _mm_and_si128(units, _mm_set1_epi16(std::int16_t(0xFF80)));
    stop = _mm_or_si128(stop, _mm_xor_si128(_mm_cmpeq_epi16(high, zero), _mm_set1_epi16(-1)));
  }
  return unsigned(_mm_movemask_epi8(stop));
}
#endif

}  // namespace

// The count of units before the zero unit of the text, which must come within maxUnits.
std::optional<std::uint32_t> WideTextUnits(const std::uint8_t* text, std::uint32_t maxUnits) {
  std::uint32_t i = 0;
#if EVENTLOG_UTF16_SSE2
  for (; i + 8 <= maxUnits; i += 8)
    if (const unsigned mask = StopMask(text + 2 * i, false); mask != 0)
      return i + std::uint32_t(std::countr_zero(mask)) / 2;
#endif
  while (i + 4 <= maxUnits && !HasZeroUnit(LoadFourUnits(text + 2 * i))) i += 4;
  for (; i < maxUnits; ++i)
    if (UnitAt(text, i) == 0) return i;
  return std::nullopt;
}

// The end of the run of ASCII units other than zero that starts at index; eight units a step
// while they last.
std::uint32_t AsciiRunEnd(const std::uint8_t* text, std::uint32_t index, std::uint32_t maxUnits) {
#if EVENTLOG_UTF16_SSE2
  for (; index + 8 <= maxUnits; index += 8)
    if (const unsigned mask = StopMask(text + 2 * index, true); mask != 0)
      return index + std::uint32_t(std::countr_zero(mask)) / 2;
#endif
  while (index + 8 <= maxUnits && IsPlainAscii(LoadFourUnits(text + 2 * index)) &&
         IsPlainAscii(LoadFourUnits(text + 2 * index + 8)))
    index += 8;
  while (index + 4 <= maxUnits && IsPlainAscii(LoadFourUnits(text + 2 * index))) index += 4;
  for (std::uint16_t unit; index < maxUnits && (unit = UnitAt(text, index)) != 0 && unit < 0x80;)
    ++index;
  return index;
}

std::optional<std::uint32_t> AsciiTextsUnits(const std::uint8_t* text, std::uint32_t count,
                                             std::uint32_t maxUnits) {
  std::uint32_t i = 0;
#if EVENTLOG_UTF16_SSE2
  // One bit a unit: the low bit of each unit's two in the masks.
  constexpr unsigned kUnitBits = 0x5555;
  const __m128i zero = _mm_setzero_si128();
  const __m128i highBits = _mm_set1_epi16(std::int16_t(0xFF80));
  for (; i + 8 <= maxUnits; i += 8) {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + 2 * i));
    const unsigned ascii =
        unsigned(_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(units, highBits), zero))) &
        kUnitBits;
    unsigned zeros = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi16(units, zero))) & kUnitBits;
    const unsigned others = ~ascii & kUnitBits;  // units that are not ASCII
    for (; zeros != 0; zeros &= zeros - 1) {
      if (--count != 0) continue;
      const unsigned lowest = zeros & (0u - zeros);
      if ((others & (lowest - 1)) != 0) return std::nullopt;
      return i + std::uint32_t(std::countr_zero(lowest)) / 2 + 1;
    }
    if (others != 0) return std::nullopt;
  }
#endif
  while (i < maxUnits) {
    if (i + 4 <= maxUnits && IsPlainAscii(LoadFourUnits(text + 2 * i))) {
      i += 4;
      continue;
    }
    const std::uint16_t unit = UnitAt(text, i);
    if (unit >= 0x80) return std::nullopt;
    if (unit == 0 && --count == 0) return i + 1;
    ++i;
  }
  return std::nullopt;
}

// Appends count ASCII units as bytes; the string is sized once and filled in place.
void AppendAsciiUnits(const std::uint8_t* units, std::uint32_t count, std::string& out) {
  const std::size_t start = out.size();
  out.resize(start + count);
  auto* dest = reinterpret_cast<std::uint8_t*>(out.data() + start);
  std::uint32_t i = 0;
#if EVENTLOG_UTF16_SSE2
  // Sixteen ASCII units packed to sixteen bytes (no unit is above 0x7F, so nothing saturates).
  for (; i + 16 <= count; i += 16) {
    const auto* from = reinterpret_cast<const __m128i*>(units + 2 * i);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + i),
                     _mm_packus_epi16(_mm_loadu_si128(from), _mm_loadu_si128(from + 1)));
  }
  if (i + 8 <= count) {
    const __m128i eight = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + 2 * i));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dest + i), _mm_packus_epi16(eight, eight));
    i += 8;
  }
#endif
  for (; i + 8 <= count; i += 8) {
    StoreFourBytes(dest + i, NarrowFourUnits(LoadFourUnits(units + 2 * i)));
    StoreFourBytes(dest + i + 4, NarrowFourUnits(LoadFourUnits(units + 2 * i + 8)));
  }
  for (; i + 4 <= count; i += 4)
    StoreFourBytes(dest + i, NarrowFourUnits(LoadFourUnits(units + 2 * i)));
  for (; i < count; ++i) dest[i] = units[2 * i];
}

std::optional<std::uint32_t> AppendAsciiTexts(const std::uint8_t* text, std::uint32_t count,
                                              std::uint32_t maxUnits, std::string& out) {
#if EVENTLOG_UTF16_SSE2
  // The usual texts are short: up to 512 units are checked and narrowed in one pass, straight
  // into the string. Longer ones, and the last units before maxUnits, take the two passes below.
  constexpr std::uint32_t kOnePassUnits = 512;
  constexpr unsigned kUnitBits = 0x5555;
  const std::size_t start = out.size();
  const std::uint32_t onePass = std::min(maxUnits, kOnePassUnits) / 8 * 8;
  out.resize(start + onePass);
  auto* dest = reinterpret_cast<std::uint8_t*>(out.data() + start);
  const __m128i zero = _mm_setzero_si128();
  const __m128i highBits = _mm_set1_epi16(std::int16_t(0xFF80));
  std::uint32_t left = count;
  for (std::uint32_t i = 0; i < onePass; i += 8) {
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + 2 * i));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dest + i), _mm_packus_epi16(units, units));
    const unsigned ascii =
        unsigned(_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(units, highBits), zero))) &
        kUnitBits;
    unsigned zeros = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi16(units, zero))) & kUnitBits;
    const unsigned others = ~ascii & kUnitBits;
    for (; zeros != 0; zeros &= zeros - 1) {
      if (--left != 0) continue;
      const unsigned lowest = zeros & (0u - zeros);
      if ((others & (lowest - 1)) != 0) break;
      const std::uint32_t total = i + std::uint32_t(std::countr_zero(lowest)) / 2 + 1;
      out.resize(start + total);
      return total;
    }
    if (others != 0) {
      out.resize(start);
      return std::nullopt;
    }
  }
  out.resize(start);
#endif
  const auto units = AsciiTextsUnits(text, count, maxUnits);
  if (units) AppendAsciiUnits(text, *units, out);
  return units;
}

}  // namespace core::utf16
