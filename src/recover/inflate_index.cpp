#include "recover/inflate_index.h"

#include <algorithm>
#include <cstring>

#include "core/errors.h"
#include "core/fragment_file_format.h"

namespace quillon::recover {
namespace {

constexpr std::size_t kWindowSize = 32768;
constexpr std::size_t kInputSize = 65536;

}  // namespace

TInflateIndex::TInflateIndex(TStream& file, std::string shownPath)
    : file_(file), shownPath_(std::move(shownPath)), input_(kInputSize) {}

TInflateIndex::~TInflateIndex() {
  if (open_) inflateEnd(&stream_);
}

void TInflateIndex::Fail(const std::string& cause) const {
  throw EQuillonError("Cannot read the fragment file \"" + shownPath_ + "\": " + cause);
}

void TInflateIndex::Build(std::uint64_t inflatedLength) {
  points_.clear();
  points_.push_back(TPoint{});
  StartAt(points_.front());
  std::vector<std::uint8_t> window(kWindowSize);
  std::uint64_t spacing = kFirstSpacing;
  std::uint64_t in = 0;
  stream_.avail_out = 0;
  while (out_ < inflatedLength) {
    if (stream_.avail_in == 0) {
      const std::size_t got = file_.Read(input_.data(), input_.size());
      if (got == 0) Fail("its body ends early.");
      stream_.next_in = input_.data();
      stream_.avail_in = static_cast<uInt>(got);
    }
    if (stream_.avail_out == 0) {
      stream_.next_out = window.data();
      stream_.avail_out = static_cast<uInt>(kWindowSize);
    }
    // Never past the length asked for: the next read may start right there.
    const uInt room = static_cast<uInt>(
        std::min<std::uint64_t>(stream_.avail_out, inflatedLength - out_));
    const uInt withheld = stream_.avail_out - room;
    stream_.avail_out = room;
    const uInt inBefore = stream_.avail_in;
    const int status = inflate(&stream_, Z_BLOCK);
    in += inBefore - stream_.avail_in;
    out_ += room - stream_.avail_out;
    stream_.avail_out += withheld;
    if (status == Z_NEED_DICT || status == Z_DATA_ERROR || status == Z_MEM_ERROR) {
      Fail("its body is damaged.");
    }
    if (status == Z_STREAM_END) break;
    // At the end of a deflate block, not the last one: a point may be taken.
    if ((stream_.data_type & 128) && !(stream_.data_type & 64) &&
        out_ - points_.back().Out >= spacing) {
      TPoint point{out_, in, stream_.data_type & 7, std::vector<std::uint8_t>(kWindowSize)};
      const std::size_t left = stream_.avail_out;  // the window's oldest bytes start there
      std::memcpy(point.Window.data(), window.data() + kWindowSize - left, left);
      std::memcpy(point.Window.data() + left, window.data(), kWindowSize - left);
      points_.push_back(std::move(point));
      if (points_.size() > kMaxPoints) {
        std::size_t kept = 1;
        for (std::size_t i = 2; i < points_.size(); i += 2) points_[kept++] = std::move(points_[i]);
        points_.resize(kept);
        spacing *= 2;
      }
    }
  }
  if (out_ < inflatedLength) Fail("its body ends early.");
  inflateEnd(&stream_);
  open_ = false;
}

void TInflateIndex::StartAt(const TPoint& point) {
  if (open_) inflateEnd(&stream_);
  open_ = false;
  stream_ = z_stream{};
  // The first point is the start of the zlib stream with its header; the others lie inside
  // the raw deflate data.
  if (inflateInit2(&stream_, point.Window.empty() ? 15 : -15) != Z_OK) Fail("out of memory.");
  open_ = true;
  const std::int64_t at = static_cast<std::int64_t>(kHeaderSize + point.In) - (point.Bits ? 1 : 0);
  if (file_.Seek(at, TSeekOrigin::Begin) != at) {
    Fail("it cannot be read at byte " + std::to_string(at) + ".");
  }
  if (point.Bits) {
    std::uint8_t byte = 0;
    if (file_.Read(&byte, 1) != 1) Fail("its body ends early.");
    inflatePrime(&stream_, point.Bits, byte >> (8 - point.Bits));
  }
  if (!point.Window.empty()) {
    inflateSetDictionary(&stream_, point.Window.data(), static_cast<uInt>(point.Window.size()));
  }
  out_ = point.Out;
}

void TInflateIndex::Inflate(std::uint8_t* out, std::uint64_t n) {
  std::uint8_t scratch[16384];
  while (n > 0) {
    if (stream_.avail_in == 0) {
      const std::size_t got = file_.Read(input_.data(), input_.size());
      if (got == 0) Fail("its body ends early.");
      stream_.next_in = input_.data();
      stream_.avail_in = static_cast<uInt>(got);
    }
    std::uint8_t* into = out ? out : scratch;
    const uInt room = static_cast<uInt>(std::min<std::uint64_t>(n, out ? n : sizeof scratch));
    stream_.next_out = into;
    stream_.avail_out = room;
    const int status = inflate(&stream_, Z_NO_FLUSH);
    const uInt made = room - stream_.avail_out;
    out_ += made;
    n -= made;
    if (out) out += made;
    if (status == Z_NEED_DICT || status == Z_DATA_ERROR || status == Z_MEM_ERROR) {
      Fail("its body is damaged.");
    }
    if (status == Z_STREAM_END && n > 0) Fail("its body ends early.");
  }
}

void TInflateIndex::Read(std::uint64_t offset, std::span<std::uint8_t> out) {
  if (points_.empty()) Fail("it was not indexed.");
  // The last point at or before the offset.
  auto it = std::upper_bound(points_.begin(), points_.end(), offset,
                             [](std::uint64_t value, const TPoint& p) { return value < p.Out; });
  const TPoint& point = *(it - 1);
  // Going on from the last read is cheaper whenever it lies between the point and here.
  if (!open_ || out_ > offset || out_ < point.Out) StartAt(point);
  Inflate(nullptr, offset - out_);
  Inflate(out.data(), out.size());
}

}  // namespace quillon::recover
