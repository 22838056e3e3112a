#pragma once
// Adler-32 (RFC 1950) of a block: the same value as zlib's adler32(), computed 32 bytes at a
// time with SSE2 where the compiler targets it (every x86-64), otherwise by zlib itself.
// A fragment file's body is deflated as raw blocks on several threads, so its check value
// is taken apart from deflate: zlib's one-byte-at-a-time sum cost a twentieth of a dense
// scan's processor time.

#include <cstddef>
#include <cstdint>

namespace quillon {

// The Adler-32 of data[0, n) continuing from adler (1 for the start of a stream).
std::uint32_t Adler32(std::uint32_t adler, const std::uint8_t* data, std::size_t n);

}  // namespace quillon
