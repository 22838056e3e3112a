#pragma once
// Little-endian reads from page bytes. Callers check the bounds first: these only read.

#include <cstddef>
#include <cstdint>
#include <span>

namespace quillon {

inline std::uint16_t LoadU16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

inline std::uint32_t LoadU24(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes[at]) | (static_cast<std::uint32_t>(bytes[at + 1]) << 8) |
         (static_cast<std::uint32_t>(bytes[at + 2]) << 16);
}

inline std::uint32_t LoadU32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return LoadU24(bytes, at) | (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}

}  // namespace quillon
