#include "core/byte_ranges.h"

#include <algorithm>
#include <iterator>

namespace quillon {

void TByteRanges::Add(std::int64_t offset, std::int64_t length) {
  if (length <= 0) return;
  std::int64_t start = offset;
  std::int64_t end = offset + length;
  // The first range that could touch [start, end) is the last one starting at or before it.
  auto it = ranges_.upper_bound(start);
  if (it != ranges_.begin() && std::prev(it)->second >= start) --it;
  while (it != ranges_.end() && it->first <= end) {
    start = std::min(start, it->first);
    end = std::max(end, it->second);
    bytes_ -= it->second - it->first;
    it = ranges_.erase(it);
  }
  ranges_.emplace(start, end);
  bytes_ += end - start;
}

bool TByteRanges::Covers(std::int64_t offset, std::int64_t length) const {
  if (length <= 0) return true;
  auto it = ranges_.upper_bound(offset);
  if (it == ranges_.begin()) return false;
  --it;
  return it->first <= offset && it->second >= offset + length;
}

bool TByteRanges::Overlaps(std::int64_t offset, std::int64_t length) const {
  if (length <= 0) return false;
  auto it = ranges_.lower_bound(offset + length);  // the first range starting at or past the end
  if (it == ranges_.begin()) return false;
  return std::prev(it)->second > offset;
}

std::vector<TByteRange> TByteRanges::Ranges() const {
  std::vector<TByteRange> out;
  out.reserve(ranges_.size());
  for (const auto& [start, end] : ranges_) out.push_back({start, end - start});
  return out;
}

}  // namespace quillon
