// Walks arbitrary bytes as a block of records: the walk must end as Matched, NoMatch or
// Malformed without reading outside the block. The first bytes choose the criteria.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "monitor/eventsearch.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  tEventSearchRecord criteria;
  criteria.EventID = data[0] & 0x80 ? (data[0] & 0x7F) : 0;
  const std::size_t sourceLength = data[1] % 8;
  if (sourceLength > size - 2) return 0;
  criteria.Source.assign(reinterpret_cast<const char*>(data + 2), sourceLength);
  const std::size_t skip = 2 + sourceLength;
  // A copy of exactly the block's size, so that any read past it is caught.
  std::uint8_t* block = static_cast<std::uint8_t*>(std::malloc(size - skip));
  if (size > skip) std::memcpy(block, data + skip, size - skip);
  tMyEventLogRecord result;
  std::uint32_t timeGenerated = 0;
  const BlockWalkOutcome outcome =
      WalkEventBlock(block, size - skip, criteria, result, timeGenerated);
  if (outcome != BlockWalkOutcome::Matched &&
      (!result.Source.empty() || !result.Details.empty() || result.EventLogRecord.EventID != 0))
    std::abort();  // a walk without match leaves the texts empty
  std::free(block);
  return 0;
}
