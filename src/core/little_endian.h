#pragma once
// Little-endian integers in bytes: the one reader and writer for Jet pages and for
// Quillon's own files (fragment files, page maps) alike. Reads through a span are checked:
// a read that would reach past its bytes gives nothing rather than what lies beyond.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace quillon {

// The N-byte (1 to 8) unsigned integer at `at`, where the caller holds N bytes.
template <std::size_t N>
constexpr std::uint64_t LittleEndianAt(const std::uint8_t* at) {
  static_assert(N >= 1 && N <= 8);
  std::uint64_t value = 0;
  for (std::size_t i = N; i-- > 0;) value = (value << 8) | at[i];
  return value;
}

// The N-byte unsigned integer at offset `at` of bytes; nothing when its bytes are not all
// inside them (for any at, without overflow).
template <std::size_t N>
constexpr std::optional<std::uint64_t> ReadLittleEndian(std::span<const std::uint8_t> bytes,
                                                        std::size_t at) {
  if (at > bytes.size() || N > bytes.size() - at) return std::nullopt;
  return LittleEndianAt<N>(bytes.data() + at);
}

inline std::optional<std::uint16_t> ReadU16(std::span<const std::uint8_t> bytes, std::size_t at) {
  if (auto value = ReadLittleEndian<2>(bytes, at)) return static_cast<std::uint16_t>(*value);
  return std::nullopt;
}
inline std::optional<std::uint32_t> ReadU24(std::span<const std::uint8_t> bytes, std::size_t at) {
  if (auto value = ReadLittleEndian<3>(bytes, at)) return static_cast<std::uint32_t>(*value);
  return std::nullopt;
}
inline std::optional<std::uint32_t> ReadU32(std::span<const std::uint8_t> bytes, std::size_t at) {
  if (auto value = ReadLittleEndian<4>(bytes, at)) return static_cast<std::uint32_t>(*value);
  return std::nullopt;
}
inline std::optional<std::uint64_t> ReadU64(std::span<const std::uint8_t> bytes, std::size_t at) {
  return ReadLittleEndian<8>(bytes, at);
}

// Writes the low N bytes of value at `at`, where the caller holds N bytes.
template <std::size_t N>
constexpr void PutLittleEndian(std::uint8_t* at, std::uint64_t value) {
  static_assert(N >= 1 && N <= 8);
  for (std::size_t i = 0; i < N; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace quillon
