#include "recover/page_map_state.h"

#include <zlib.h>

#include <cinttypes>
#include <cstdio>

#include "recover/page_map_format.h"

namespace quillon::recover {
namespace {

constexpr std::string_view kFirstLine = "quillon-page-map-state 1";

std::uint32_t Crc32Of(std::string_view text) {
  return static_cast<std::uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(text.data()), static_cast<uInt>(text.size())));
}

}  // namespace

std::string FormatPageMapState(const std::vector<TPageMapRestartPoint>& points) {
  std::string text = std::string(kFirstLine) + "\n";
  const std::size_t from = points.size() > 2 ? points.size() - 2 : 0;
  for (std::size_t i = from; i < points.size(); ++i) {
    const TPageMapRestartPoint& p = points[i];
    char line[160];
    std::snprintf(line, sizeof line, "point %" PRId64 " %" PRIu64 " %08" PRIx32 " %" PRIu64
                  " %" PRIu64 " %08" PRIx32 "\n", p.SourceOffset, p.Bytes, p.FileCrc32,
                  p.Fragments, p.KeptPages, p.FragmentsCrc32);
    text += line;
  }
  char crc[32];
  std::snprintf(crc, sizeof crc, "crc32 %08" PRIx32 "\n", Crc32Of(text));
  return text + crc;
}

std::optional<std::vector<TPageMapRestartPoint>> ParsePageMapState(std::string_view text,
                                                                    std::string* problem) {
  const auto fail = [&](const char* why) {
    if (problem) *problem = why;
    return std::nullopt;
  };
  if (text.size() > kMaxPageMapStateBytes) return fail("it is too large to be a page map state");
  if (text.substr(0, kFirstLine.size() + 1) != std::string(kFirstLine) + "\n") {
    return fail("it is not a page map state");
  }
  const std::size_t crcAt = text.rfind("crc32 ");
  if (crcAt == std::string_view::npos || text.back() != '\n' || crcAt == 0 ||
      text[crcAt - 1] != '\n') {
    return fail("it is cut short");
  }
  unsigned stored = 0;
  char end = 0;
  const std::string crcLine(text.substr(crcAt, text.size() - crcAt));
  if (std::sscanf(crcLine.c_str(), "crc32 %8x%c", &stored, &end) != 2 || end != '\n' ||
      crcLine.size() != 15) {
    return fail("its checksum line is damaged");
  }
  if (Crc32Of(text.substr(0, crcAt)) != stored) return fail("its checksum does not match");
  std::vector<TPageMapRestartPoint> points;
  std::size_t at = kFirstLine.size() + 1;
  while (at < crcAt) {
    const std::size_t lineEnd = text.find('\n', at);
    const std::string line(text.substr(at, lineEnd + 1 - at));
    at = lineEnd + 1;
    TPageMapRestartPoint p;
    std::int64_t offset = 0;
    std::uint64_t bytes = 0, fragments = 0, kept = 0;
    std::uint32_t fileCrc = 0, fragmentsCrc = 0;
    int used = 0;
    if (std::sscanf(line.c_str(), "point %" SCNd64 " %" SCNu64 " %8" SCNx32 " %" SCNu64
                    " %" SCNu64 " %8" SCNx32 "\n%n", &offset, &bytes, &fileCrc, &fragments,
                    &kept, &fragmentsCrc, &used) != 6 ||
        static_cast<std::size_t>(used) != line.size()) {
      return fail("a restart point in it is damaged");
    }
    p = {offset, bytes, fileCrc, fragments, kept, fragmentsCrc};
    if (offset < 0 || bytes < kPageMapHeaderSize ||
        (!points.empty() && (offset < points.back().SourceOffset ||
                             bytes < points.back().Bytes))) {
      return fail("a restart point in it is out of range");
    }
    points.push_back(p);
  }
  if (points.empty() || points.size() > 2) return fail("it holds no restart point, or too many");
  return points;
}

std::optional<TPageMapRestartPoint> PointAt(const std::vector<TPageMapRestartPoint>& points,
                                            std::int64_t sourceOffset) {
  for (auto it = points.rbegin(); it != points.rend(); ++it) {
    if (it->SourceOffset == sourceOffset) return *it;
  }
  return std::nullopt;
}

}  // namespace quillon::recover
