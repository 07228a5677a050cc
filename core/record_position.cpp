#include "core/record_position.h"

#include <charconv>

namespace core {

namespace {
constexpr std::string_view kNumberedPrefix = "evt:";
}

std::uint64_t HashBytes(std::string_view bytes, std::uint64_t seed) {
  std::uint64_t hash = seed;
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

std::string HashText(std::uint64_t hash) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text(16, '0');
  for (int i = 15; i >= 0; --i, hash >>= 4) text[std::size_t(i)] = kDigits[hash & 0xF];
  return text;
}

std::string NumberedPosition(std::uint32_t recordNumber, std::string_view bytes) {
  return std::string(kNumberedPrefix) + std::to_string(recordNumber) + ":" +
         HashText(HashBytes(bytes));
}

std::optional<NumberedRecordPosition> ParseNumberedPosition(std::string_view position) {
  if (position.substr(0, kNumberedPrefix.size()) != kNumberedPrefix) return std::nullopt;
  position.remove_prefix(kNumberedPrefix.size());
  NumberedRecordPosition parsed;
  const char* end = position.data() + position.size();
  auto [afterNumber, numberError] = std::from_chars(position.data(), end, parsed.RecordNumber);
  if (numberError != std::errc() || afterNumber == end || *afterNumber != ':') return std::nullopt;
  const char* hashStart = afterNumber + 1;
  if (end - hashStart != 16) return std::nullopt;
  auto [afterHash, hashError] = std::from_chars(hashStart, end, parsed.Hash, 16);
  if (hashError != std::errc() || afterHash != end) return std::nullopt;
  return parsed;
}

Placement PlaceNumbered(std::uint32_t recordNumber, std::string_view bytes,
                        const NumberedRecordPosition& remembered) {
  if (recordNumber > remembered.RecordNumber) return Placement::kNewer;
  if (recordNumber == remembered.RecordNumber && HashBytes(bytes) == remembered.Hash)
    return Placement::kAt;
  return Placement::kGone;
}

}  // namespace core
