// The fragment file reader on arbitrary bytes. Besides the sanitizers' checks, a broken
// promise of the report traps:
//  - a file that is not complete says why, in one non-empty line;
//  - a complete file has no problem text, a valid trailer, an ended body, "TEMP" as its
//    last bytes, and handed the visitor exactly Fragments whole 4096-byte fragments, which
//    are the bytes an independent inflate of the body gives;
//  - the visitor sees the fragments numbered 0, 1, 2, ... and as many as the report counts.

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/fragment_file_reader.h"
#include "memory_stream.h"

namespace {

using namespace quillon;

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

struct TDelivered {
  std::uint64_t Count = 0;
  std::uint32_t Crc = crc32(0, nullptr, 0);
};

// Inflates the body with zlib directly, as a reader that knows nothing of fragments
// would: the CRC-32 and length of everything up to the stream's end.
bool InflateBody(const std::uint8_t* data, std::size_t size, std::uint32_t& crc,
                 std::uint64_t& length) {
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) return false;
  zs.next_in = const_cast<Bytef*>(data + kHeaderSize);
  zs.avail_in = static_cast<uInt>(size - kHeaderSize);
  std::vector<std::uint8_t> out(65536);
  crc = crc32(0, nullptr, 0);
  length = 0;
  int rc = Z_OK;
  while (rc == Z_OK) {
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    rc = inflate(&zs, Z_NO_FLUSH);
    const std::size_t produced = out.size() - zs.avail_out;
    crc = crc32(crc, out.data(), static_cast<uInt>(produced));
    length += produced;
  }
  inflateEnd(&zs);
  return rc == Z_STREAM_END;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzing::TMemoryStream file(data, size);
  TDelivered delivered;
  const TFragmentFileReport report = ReadFragmentFile(
      file, [&](std::uint64_t index, std::span<const std::uint8_t, kFragmentSize> fragment) {
        Require(index == delivered.Count);
        delivered.Crc = crc32(delivered.Crc, fragment.data(), static_cast<uInt>(fragment.size()));
        ++delivered.Count;
      });

  Require(report.FileLength == size);
  Require(delivered.Count == report.Fragments);
  if (report.State != TFragmentFileState::Complete) {
    Require(!report.Problem.empty());
    Require(report.Problem.find('\n') == std::string::npos);
    Require(report.Problem.find('\r') == std::string::npos);
    return 0;
  }

  Require(report.Problem.empty());
  Require(report.TrailerValid && report.BodyEnded);
  Require(size >= kHeaderSize + report.BodyLength + 8 && size % 4 == 0);
  Require(std::memcmp(data, kSignature.data(), kSignature.size()) == 0);
  Require(std::memcmp(data + size - 4, kTrailerTag.data(), kTrailerTag.size()) == 0);
  std::uint32_t crc = 0;
  std::uint64_t length = 0;
  Require(InflateBody(data, size, crc, length));
  Require(length == report.Fragments * kFragmentSize);
  Require(crc == delivered.Crc);
  return 0;
}
