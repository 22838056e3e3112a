#pragma once
// The state file of a scan ("OUTPUT.resume"), kept beside its fragment file while the scan
// runs, the way a rescue tool keeps its map file: the last restart point (a place where the
// compressed body can be cut and continued), the source it belongs to and what could not be
// read below it. "scan --resume" reads it back. It is text, one "key value" per line, in a
// fixed order, ending with the CRC-32 of everything before that line, so that a file cut
// short or changed by hand is refused rather than trusted.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/byte_ranges.h"

namespace quillon {

inline constexpr const char* kScanStateSuffix = ".resume";
inline constexpr int kScanStateVersion = 1;
// A state file is a few hundred bytes plus one line per unreadable range; anything larger
// than this is not one.
inline constexpr std::size_t kMaxScanStateBytes = 64 * 1024 * 1024;

// A place where the fragment file's body was flushed so that it can be continued: every
// fragment from the source below SourceOffset is in the file's first FileBytes bytes.
struct TRestartPoint {
  std::int64_t SourceOffset = 0;  // a chunk boundary: the scan continues here
  std::int64_t Fragments = 0;     // fragments in the file up to here
  std::int64_t FileBytes = 0;     // header and compressed body up to here, byte-aligned
  std::uint32_t FileCrc32 = 0;    // CRC-32 of those FileBytes bytes
  std::uint32_t BodyAdler32 = 1;  // Adler-32 of the uncompressed body (the fragments) so far
  bool operator==(const TRestartPoint&) const = default;
};

struct TScanState {
  std::string SourcePath;       // as the fragment file's header holds it
  std::int64_t SourceSize = 0;  // the size the scan covers
  std::string SourceIdentity;   // see SourceIdentityOf
  TRestartPoint Restart;
  std::vector<TByteRange> Unreadable;  // in order, disjoint, all below Restart.SourceOffset
  bool operator==(const TScanState&) const = default;
};

// The file's text.
std::string FormatScanState(const TScanState& state);

// The state in text, or nothing with the reason in *problem: not a state file, another
// version, cut short, a checksum that does not match, a value out of range, ranges out of
// order. Never throws.
std::optional<TScanState> ParseScanState(std::string_view text, std::string* problem);

}  // namespace quillon
