#pragma once
// What tells one source from another of the same size, for a scan that is resumed: the
// CRC-32 of its first and of its last 64 KiB, read directly (a read that fails counts as
// zeros, as the scan counts it). A disk's first 64 KiB hold its partition table and the
// first sectors of a volume, its last ones the backup partition table; an image's hold its
// own beginning and end. Two different sources of one size differ there. Only 128 KiB are
// read, to spare a failing disk what the scan itself does not need.

#include <cstdint>
#include <string>

#include "core/stream.h"

namespace quillon {

inline constexpr std::int64_t kIdentitySampleBytes = 64 * 1024;

// "crc32-first-last:XXXXXXXX:XXXXXXXX" for the size bytes of source from offset 0. Moves
// the source's position.
std::string SourceIdentityOf(TStream& source, std::int64_t size);

}  // namespace quillon
