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

}  // namespace quillon::testing
