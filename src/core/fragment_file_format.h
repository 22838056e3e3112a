#pragma once
// Byte layout of the fragment file: a 512-byte header, one zlib stream of 4096-byte
// fragments, four zero bytes, 0 to 3 pad bytes and "TEMP". The layout is fixed:
// the files are read elsewhere.

#include <array>
#include <cstddef>
#include <cstdint>

#include "core/page_head.h"

namespace quillon {

inline constexpr std::size_t kHeaderSize = 512;
// A fragment is one page of the database it came from.
inline constexpr std::size_t kFragmentSize = kPageSize;

inline constexpr std::array<std::uint8_t, 8> kSignature = {7, 'r', 'e', 'c', 'o', 'v', 'e', 'r'};
inline constexpr std::array<std::uint8_t, 4> kAesTag = {3, 'A', 'E', 'S'};
inline constexpr std::array<std::uint8_t, 6> kFixTag = {5, 'f', 'i', 'x', 'F', 'I'};

inline constexpr std::size_t kSignatureOffset = 0;
inline constexpr std::size_t kAesTagOffset = 8;
inline constexpr std::size_t kFixTagOffset = 13;
inline constexpr std::size_t kSourceLengthOffset = 23;
// Six 32-bit integers follow the source length; only the third is nonzero.
inline constexpr std::size_t kHeaderIntsOffset = 31;
inline constexpr std::array<std::uint32_t, 6> kHeaderInts = {0, 0, 512, 0, 0, 0};
inline constexpr std::size_t kSourcePathOffset = 55;
inline constexpr std::size_t kMaxSourcePathBytes = kHeaderSize - kSourcePathOffset;  // 457

inline constexpr std::array<std::uint8_t, 4> kTrailerTag = {'T', 'E', 'M', 'P'};

// zlib parameters of the body.
inline constexpr int kDeflateLevel = 1;
inline constexpr int kDeflateWindowBits = 15;
inline constexpr int kDeflateMemLevel = 8;
inline constexpr std::size_t kOutputBufferSize = 65536;

// Pad bytes between the four zero bytes after the body and "TEMP", for a file that is
// fileLength bytes long once those four zero bytes are written.
constexpr std::size_t TrailerPadFor(std::uint64_t fileLength) {
  return static_cast<std::size_t>((4 - fileLength % 4) % 4);
}

}  // namespace quillon
