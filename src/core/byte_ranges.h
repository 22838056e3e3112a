#pragma once
// A set of byte ranges of the source, kept merged so that every byte counts once: the
// places a scan could not read.

#include <cstdint>
#include <map>
#include <vector>

namespace quillon {

struct TByteRange {
  std::int64_t Offset = 0;
  std::int64_t Length = 0;
  bool operator==(const TByteRange&) const = default;
};

class TByteRanges {
 public:
  // Adds [offset, offset + length); ranges that overlap or touch become one.
  void Add(std::int64_t offset, std::int64_t length);
  // Whether every byte of [offset, offset + length) is in the set.
  bool Covers(std::int64_t offset, std::int64_t length) const;
  // Whether any byte of [offset, offset + length) is in the set.
  bool Overlaps(std::int64_t offset, std::int64_t length) const;

  std::int64_t Bytes() const { return bytes_; }
  std::size_t Count() const { return ranges_.size(); }
  bool Empty() const { return ranges_.empty(); }
  // In offset order.
  std::vector<TByteRange> Ranges() const;

 private:
  std::map<std::int64_t, std::int64_t> ranges_;  // start -> end; disjoint, never touching
  std::int64_t bytes_ = 0;
};

}  // namespace quillon
