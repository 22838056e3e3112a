#pragma once
// What tells one source from another of the same size, for a scan that is resumed: the
// CRC-32 of its first and of its last MiB, read directly (a read that fails counts as
// zeros, as the scan counts it). A disk's first MiB holds its partition table and the
// starts of its volumes, an image's first and last MiB its own beginning and end, so two
// different sources of one size differ there.

#include <cstdint>
#include <string>

#include "core/stream.h"

namespace quillon {

inline constexpr std::int64_t kIdentitySampleBytes = 1024 * 1024;

// "crc32-first-last:XXXXXXXX:XXXXXXXX" for the size bytes of source from offset 0. Moves
// the source's position.
std::string SourceIdentityOf(TStream& source, std::int64_t size);

}  // namespace quillon
