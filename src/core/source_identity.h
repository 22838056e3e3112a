#pragma once
// What tells one source from another of the same size, for a scan that is resumed: the
// CRC-32 of each 4 KiB block of its first and of its last 64 KiB, read directly. A disk's
// first 64 KiB hold its partition table and the first sectors of a volume, its last ones the
// backup partition table; an image's hold its own beginning and end, so two different
// sources of one size differ there. Only 128 KiB are read, to spare a failing disk what the
// scan itself does not need. A block with a sector that cannot be read has no CRC: on a
// failing disk a sector may read one day and not the next, so only the blocks both runs
// could read are compared.

#include <cstdint>
#include <string>

#include "core/stream.h"

namespace quillon {

inline constexpr std::int64_t kIdentitySampleBytes = 64 * 1024;
inline constexpr std::int64_t kIdentityBlockBytes = 4096;

// "crc32-4k" and one ":XXXXXXXX" per block of the first, then of the last 64 KiB of the size
// bytes of source ("--------" for a block that could not be read; fewer blocks for a source
// under 64 KiB). Moves the source's position.
std::string SourceIdentityOf(TStream& source, std::int64_t size);

enum class TIdentityMatch {
  Same,       // every block both could read has the same CRC, and there is such a block
  Different,  // a block both could read differs, or the two are not of one form
  Unchecked,  // no block could be read by both: only the size tells
};

TIdentityMatch CompareSourceIdentities(const std::string& earlier, const std::string& now);

}  // namespace quillon
