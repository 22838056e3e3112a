#pragma once
// Independent inflation for tests: zlib called directly, not through the program's reader.

#include <zlib.h>

#include <cstdint>
#include <stdexcept>
#include <vector>

namespace quillon::testing {

struct TInflated {
  std::vector<std::uint8_t> Content;
  std::size_t CompressedLength = 0;  // bytes of the stream, from its first byte
};

// Inflates the zlib stream that starts at data[offset]; throws unless it ends properly.
inline TInflated InflateStream(const std::vector<std::uint8_t>& data, std::size_t offset) {
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) throw std::runtime_error("inflateInit");
  zs.next_in = const_cast<Bytef*>(data.data() + offset);
  zs.avail_in = static_cast<uInt>(data.size() - offset);
  TInflated result;
  std::vector<std::uint8_t> out(1 << 16);
  int rc = Z_OK;
  while (rc == Z_OK) {
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    rc = inflate(&zs, Z_NO_FLUSH);
    result.Content.insert(result.Content.end(), out.data(), out.data() + (out.size() - zs.avail_out));
  }
  result.CompressedLength = zs.total_in;
  inflateEnd(&zs);
  if (rc != Z_STREAM_END) throw std::runtime_error("stream does not end properly");
  return result;
}

// A zlib stream of `data` in ONE deflate block of fixed codes, literals only, however long:
// what zlib itself never writes (it ends a block every few thousand symbols), so a reader
// that restarts only between blocks finds no place to restart.
inline std::vector<std::uint8_t> DeflateAsOneBlock(const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> out{0x78, 0x01};
  std::uint32_t bits = 0;
  int count = 0;
  const auto put = [&](std::uint32_t value, int n) {  // n bits, least significant first
    bits |= value << count;
    count += n;
    while (count >= 8) {
      out.push_back(static_cast<std::uint8_t>(bits));
      bits >>= 8;
      count -= 8;
    }
  };
  const auto putCode = [&](std::uint32_t code, int n) {  // Huffman codes go most significant first
    for (int i = n - 1; i >= 0; --i) put((code >> i) & 1, 1);
  };
  put(1, 1);  // the last block
  put(1, 2);  // of fixed codes
  for (const std::uint8_t byte : data) {
    if (byte < 144) putCode(0x30 + byte, 8);
    else putCode(0x190 + (byte - 144), 9);
  }
  putCode(0, 7);  // the block's end
  if (count > 0) put(0, 8 - count);
  const auto sum = static_cast<std::uint32_t>(adler32(adler32(0, nullptr, 0), data.data(),
                                                      static_cast<uInt>(data.size())));
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(sum >> shift));
  return out;
}

}  // namespace quillon::testing
