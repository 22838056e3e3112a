#include "core/source_identity.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/aligned_buffer.h"

namespace quillon {
namespace {

// CRC-32 of [offset, offset + length), zeros where a read fails: one read for the whole
// range, and where that comes short, reads of one sector (or the device's alignment) each,
// so that one bad sector spoils only its own bytes. The buffer is aligned for a raw device.
std::uint32_t CrcOfRange(TStream& source, std::int64_t offset, std::int64_t length) {
  TAlignedBuffer buffer(static_cast<std::size_t>(length));
  if (source.Seek(offset, TSeekOrigin::Begin) != offset ||
      source.Read(buffer.data(), buffer.size()) != buffer.size()) {
    const std::int64_t sector = std::max<std::int64_t>(512, static_cast<std::int64_t>(source.ReadAlignment()));
    for (std::int64_t at = 0; at < length; at += sector) {
      const auto want = static_cast<std::size_t>(std::min(sector, length - at));
      std::size_t got = 0;
      if (source.Seek(offset + at, TSeekOrigin::Begin) == offset + at) {
        got = source.Read(buffer.data() + at, want);
      }
      if (got < want) std::memset(buffer.data() + at + got, 0, want - got);
    }
  }
  return static_cast<std::uint32_t>(crc32(0, buffer.data(), static_cast<uInt>(buffer.size())));
}

}  // namespace

std::string SourceIdentityOf(TStream& source, std::int64_t size) {
  const std::int64_t first = std::min(size, kIdentitySampleBytes);
  // On a multiple of 4096 from the start, as a raw device's reads must be; the last sample
  // may then be up to 4095 bytes longer.
  const std::int64_t lastStart =
      std::max<std::int64_t>(0, size - kIdentitySampleBytes) / 4096 * 4096;
  char text[64];
  std::snprintf(text, sizeof text, "crc32-first-last:%08x:%08x",
                static_cast<unsigned>(CrcOfRange(source, 0, first)),
                static_cast<unsigned>(CrcOfRange(source, lastStart, size - lastStart)));
  return text;
}

}  // namespace quillon
