#pragma once
// Byte layout of the page map, the file a scan for recovery writes beside its fragment file:
// where on the source each fragment was found, and the pages recovery needs that a fragment
// file does not hold (table definitions, database headers, usage maps).
//
// A 32-byte header, then records in the order the scan met them, then a closing record.
// Every record carries a CRC-32 of its own bytes, so that a cut or damaged file can still be
// read up to its first bad record. Integers are little-endian.
//
//   header   "QPAGEMAP", u32 version (1), u32 page size (4096), 12 zero bytes, u32 CRC-32 of
//            the 28 bytes before it
//   record   u8 type, u8 page kind (0 unless a page), u16 zero, u32 count, payload,
//            u32 CRC-32 of the record's bytes before it
//     type 1 fragment offsets: count × i64, the source offsets of the next count fragments
//            of the fragment file, in its order
//     type 2 kept page: count 1; i64 source offset, then the page's 4096 bytes. Its page
//            kind: 2 definition (first page), 3 header, 4 usage map, 5 possible later page
//            of a definition (taken only beside a first page that goes on, on its grid)
//     type 3 closing record: count 0; u64 fragments, u64 kept pages, i64 offset the scan
//            reached, u32 how it ended (0 reached the end, 1 stopped, 2 failed), u32 CRC-32
//            of all the fragments' bytes in their order (ties the map to its fragment file)

#include <array>
#include <cstddef>
#include <cstdint>

namespace quillon::recover {

inline constexpr std::array<std::uint8_t, 8> kPageMapMagic = {'Q', 'P', 'A', 'G',
                                                               'E', 'M', 'A', 'P'};
inline constexpr std::uint32_t kPageMapVersion = 1;
inline constexpr std::uint8_t kContinuationKind = 5;
inline constexpr std::size_t kPageMapHeaderSize = 32;
inline constexpr std::size_t kRecordHeadSize = 8;
inline constexpr std::size_t kRecordCrcSize = 4;
inline constexpr std::size_t kClosingPayloadSize = 32;
// Offsets are written in records of at most this many, so that a cut file loses few.
inline constexpr std::uint32_t kOffsetsPerRecord = 8192;

enum class TPageMapRecord : std::uint8_t {
  FragmentOffsets = 1,
  KeptPage = 2,
  Closing = 3,
};

enum class TPageMapScanEnd : std::uint32_t {
  Completed = 0,  // the scan reached the end of the source
  Stopped = 1,    // stopped on request; the files are complete up to there
  Failed = 2,     // ended by a failure or a lost source; complete up to where it ended
};

// The name of the page map beside a fragment file: "fragments.frag" → "fragments.pagemap".
inline constexpr const char* kPageMapExtension = ".pagemap";

}  // namespace quillon::recover
