#include "core/source_identity.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

#include "core/aligned_buffer.h"

namespace quillon {
namespace {

constexpr const char* kForm = "crc32-4k";
constexpr const char* kUnreadable = "--------";

bool ReadAt(TStream& source, std::int64_t offset, std::uint8_t* buffer, std::size_t n) {
  return source.Seek(offset, TSeekOrigin::Begin) == offset && source.Read(buffer, n) == n;
}

// The CRC-32 of each block of [offset, offset + length), nothing for a block with a sector
// that cannot be read: one read for the whole range, and where that fails, reads of one
// block, then of one sector (or the device's alignment). The buffer is aligned for a raw
// device.
std::vector<std::optional<std::uint32_t>> BlockCrcs(TStream& source, std::int64_t offset,
                                                    std::int64_t length) {
  TAlignedBuffer buffer(static_cast<std::size_t>(std::max<std::int64_t>(length, 1)));
  const bool whole = ReadAt(source, offset, buffer.data(), static_cast<std::size_t>(length));
  const std::int64_t sector =
      std::max<std::int64_t>(512, static_cast<std::int64_t>(source.ReadAlignment()));
  std::vector<std::optional<std::uint32_t>> crcs;
  for (std::int64_t at = 0; at < length; at += kIdentityBlockBytes) {
    const std::int64_t n = std::min(kIdentityBlockBytes, length - at);
    std::uint8_t* block = buffer.data() + at;
    bool readable = whole || ReadAt(source, offset + at, block, static_cast<std::size_t>(n));
    if (!readable) {
      readable = true;
      for (std::int64_t s = 0; s < n && readable; s += sector) {
        readable = ReadAt(source, offset + at + s, block + s,
                          static_cast<std::size_t>(std::min(sector, n - s)));
      }
    }
    if (readable) {
      crcs.push_back(static_cast<std::uint32_t>(crc32(0, block, static_cast<uInt>(n))));
    } else {
      crcs.emplace_back();
    }
  }
  return crcs;
}

// The tokens after the form's name, or nothing when text is not of the form.
std::optional<std::vector<std::string>> Tokens(const std::string& text) {
  if (text == kForm) return std::vector<std::string>{};  // a source of no bytes
  const std::string prefix = std::string(kForm) + ":";
  if (text.rfind(prefix, 0) != 0) return std::nullopt;
  std::vector<std::string> tokens;
  for (std::size_t at = prefix.size(); at <= text.size(); at += 9) {
    const std::string token = text.substr(at, 8);
    if (token.size() != 8 || (at + 8 < text.size() && text[at + 8] != ':')) return std::nullopt;
    tokens.push_back(token);
  }
  return tokens;
}

}  // namespace

std::string SourceIdentityOf(TStream& source, std::int64_t size) {
  const std::int64_t first = std::min(size, kIdentitySampleBytes);
  // On a multiple of 4096 from the start, as a raw device's reads must be; the last sample
  // may then be up to 4095 bytes longer.
  const std::int64_t lastStart =
      std::max<std::int64_t>(0, size - kIdentitySampleBytes) / 4096 * 4096;
  std::string text = kForm;
  for (const auto& range : {std::pair{std::int64_t{0}, first}, std::pair{lastStart, size - lastStart}}) {
    for (const std::optional<std::uint32_t>& crc : BlockCrcs(source, range.first, range.second)) {
      char token[16];
      std::snprintf(token, sizeof token, ":%08x", crc ? static_cast<unsigned>(*crc) : 0u);
      text += crc ? std::string(token) : std::string(":") + kUnreadable;
    }
  }
  return text;
}

TIdentityMatch CompareSourceIdentities(const std::string& earlier, const std::string& now) {
  const auto a = Tokens(earlier);
  const auto b = Tokens(now);
  if (!a || !b || a->size() != b->size()) return TIdentityMatch::Different;
  bool compared = false;
  for (std::size_t i = 0; i < a->size(); ++i) {
    if ((*a)[i] == kUnreadable || (*b)[i] == kUnreadable) continue;
    if ((*a)[i] != (*b)[i]) return TIdentityMatch::Different;
    compared = true;
  }
  return compared ? TIdentityMatch::Same : TIdentityMatch::Unchecked;
}

}  // namespace quillon
