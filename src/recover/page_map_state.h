#pragma once
// The restart points of a page map being written, kept in a small text file beside it
// ("fragments.pagemap.resume") the way a scan keeps its state: a later run copies the map
// up to a point and continues it. It holds the last two points, the newer last: the page
// map's point is written just before the scan's own state, so after a cut between the two
// the scan's state names the older one, which is still here. One "point" line each, then
// "crc32" and the CRC-32 of everything before that line, so that a file cut short or edited
// is refused rather than trusted.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::recover {

inline constexpr const char* kPageMapStateSuffix = ".resume";
inline constexpr std::size_t kMaxPageMapStateBytes = 64 * 1024;

// A place where the whole page map was on the disk: everything the scan met below
// SourceOffset is in the map's first Bytes bytes.
struct TPageMapRestartPoint {
  std::int64_t SourceOffset = 0;    // the scan's restart point this one belongs to
  std::uint64_t Bytes = 0;          // the map's bytes up to here (header and whole records)
  std::uint32_t FileCrc32 = 0;      // CRC-32 of those bytes
  std::uint64_t Fragments = 0;      // fragments whose offsets are in them
  std::uint64_t KeptPages = 0;      // kept pages in them
  std::uint32_t FragmentsCrc32 = 0; // CRC-32 of those fragments' bytes, as the closing record
                                    // will hold it
  bool operator==(const TPageMapRestartPoint&) const = default;
};

// The file's text for points (at most the last two are kept).
std::string FormatPageMapState(const std::vector<TPageMapRestartPoint>& points);

// The points in text, or nothing with the reason in *problem. Never throws.
std::optional<std::vector<TPageMapRestartPoint>> ParsePageMapState(std::string_view text,
                                                                    std::string* problem);

// The point in points that belongs to the scan's restart point at sourceOffset, if any.
std::optional<TPageMapRestartPoint> PointAt(const std::vector<TPageMapRestartPoint>& points,
                                            std::int64_t sourceOffset);

}  // namespace quillon::recover
