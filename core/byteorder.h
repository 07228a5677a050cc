// Little-endian numbers in byte buffers: the event record layouts store every number this way,
// whatever the machine's own order.
#pragma once

#include <cstdint>

namespace core {

inline std::uint32_t LoadU32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}
inline std::uint16_t LoadU16(const std::uint8_t* p) { return std::uint16_t(p[0] | p[1] << 8); }

inline void StoreU32(std::uint8_t* p, std::uint32_t v) {
  p[0] = std::uint8_t(v);
  p[1] = std::uint8_t(v >> 8);
  p[2] = std::uint8_t(v >> 16);
  p[3] = std::uint8_t(v >> 24);
}
inline void StoreU16(std::uint8_t* p, std::uint16_t v) {
  p[0] = std::uint8_t(v);
  p[1] = std::uint8_t(v >> 8);
}

}  // namespace core
