#pragma once
// Random access to the fragments of a fragment file, whose body is one zlib stream: points
// where inflating can start again are taken once while the body is inflated, and a page is
// read by inflating from the nearest point before it. A point is a copy of the whole
// inflate state (its 32 KiB window, the block's code tables, the bits held), so it can be
// taken anywhere in the stream: a body written as one long deflate block gets as many
// points as any other, and a page costs at most one spacing of inflating whatever the
// compression. At most kMaxPoints are kept, so memory stays bounded (about 40 KiB a point,
// 80 MiB in all): when they would be more, every other one is dropped and the spacing doubles.

#include <zlib.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/stream.h"

namespace quillon::recover {

class TInflateIndex {
 public:
  static constexpr std::size_t kMaxPoints = 2048;
  static constexpr std::uint64_t kFirstSpacing = 128 << 10;  // bytes of inflated body

  // file: the fragment file, read from byte 512 on; shownPath names it in error texts.
  TInflateIndex(TStream& file, std::string shownPath);
  ~TInflateIndex();
  TInflateIndex(const TInflateIndex&) = delete;
  TInflateIndex& operator=(const TInflateIndex&) = delete;

  // Inflates the body once, up to inflatedLength bytes, taking the points. Throws
  // EQuillonError when the body cannot be read that far.
  void Build(std::uint64_t inflatedLength);
  // Copies out.size() inflated bytes from offset on. Throws EQuillonError when they cannot
  // be read. Reads that go forward continue where the last one ended.
  void Read(std::uint64_t offset, std::span<std::uint8_t> out);

  std::size_t Points() const { return points_.size(); }

 private:
  // An inflate state whose memory zlib owns; it must not move (zlib keeps its address).
  struct TState {
    z_stream Stream{};
    bool Open = false;
    ~TState();
  };
  struct TPoint {
    std::uint64_t Out = 0;  // inflated bytes before the point
    std::uint64_t In = 0;   // body bytes the state has taken in
    std::unique_ptr<TState> State;
  };
  void StartAt(const TPoint& point);
  // Inflates n bytes to out, or drops them when out is null.
  void Inflate(std::uint8_t* out, std::uint64_t n);
  // Gives the stream more of the body when it has taken all it had.
  void Refill();
  [[noreturn]] void Fail(const std::string& cause) const;

  TStream& file_;
  std::string shownPath_;
  std::vector<TPoint> points_;
  TState current_;
  std::uint64_t out_ = 0;  // inflated bytes before the stream's next output
  std::uint64_t in_ = 0;   // body bytes before the stream's next input
  std::vector<std::uint8_t> input_;
};

}  // namespace quillon::recover
