// Positions of records in a log as texts (platform/eventlog.h): the shape shared by the logs that
// number their records (a .evt file, the Windows service), and the hash that names a record's or
// a rule set's bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace core {

// FNV-1a over the bytes, continuing from seed.
std::uint64_t HashBytes(std::string_view bytes, std::uint64_t seed = 0xcbf29ce484222325ULL);

// The hash as 16 lower-case hexadecimal digits.
std::string HashText(std::uint64_t hash);

// Where a record read newest first stands against a remembered record.
enum class Placement {
  kNewer,  // above it: read on, the remembered record may still come
  kAt,     // the remembered record itself
  kGone,   // the remembered record would have come by now: it is no longer in the log
};

// A numbered record's position: "evt:<record number>:<hash of its bytes>".
std::string NumberedPosition(std::uint32_t recordNumber, std::string_view bytes);

struct NumberedRecordPosition {
  std::uint32_t RecordNumber = 0;
  std::uint64_t Hash = 0;
};
// The position taken apart; nothing for a text of another shape.
std::optional<NumberedRecordPosition> ParseNumberedPosition(std::string_view position);

// A record of a numbered log against a remembered one: numbers fall by one per record read
// newest first, so a lower number, or the same number over other bytes (a cleared and refilled
// log numbers anew), proves the remembered record gone.
Placement PlaceNumbered(std::uint32_t recordNumber, std::string_view bytes,
                        const NumberedRecordPosition& remembered);

}  // namespace core
