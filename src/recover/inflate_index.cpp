#include "recover/inflate_index.h"

#include <algorithm>

#include "core/errors.h"
#include "core/fragment_file_format.h"

namespace quillon::recover {
namespace {

constexpr std::size_t kInputSize = 65536;
constexpr std::size_t kOutputSize = 32768;

}  // namespace

TInflateIndex::TState::~TState() {
  if (Open) inflateEnd(&Stream);
}

TInflateIndex::TInflateIndex(TStream& file, std::string shownPath)
    : file_(file), shownPath_(std::move(shownPath)), input_(kInputSize) {}

TInflateIndex::~TInflateIndex() = default;

void TInflateIndex::Fail(const std::string& cause) const {
  throw EQuillonError("Cannot read the fragment file \"" + shownPath_ + "\": " + cause);
}

void TInflateIndex::Refill() {
  z_stream& stream = current_.Stream;
  if (stream.avail_in != 0) return;
  const std::size_t got = file_.Read(input_.data(), input_.size());
  if (got == 0) Fail("its body ends early.");
  stream.next_in = input_.data();
  stream.avail_in = static_cast<uInt>(got);
}

void TInflateIndex::Build(std::uint64_t inflatedLength) {
  points_.clear();
  points_.push_back(TPoint{});
  StartAt(points_.front());
  z_stream& stream = current_.Stream;
  std::vector<std::uint8_t> output(kOutputSize);
  std::uint64_t spacing = kFirstSpacing;
  while (out_ < inflatedLength) {
    Refill();
    // Never past the length asked for: the next read may start right there.
    const uInt room =
        static_cast<uInt>(std::min<std::uint64_t>(output.size(), inflatedLength - out_));
    stream.next_out = output.data();
    stream.avail_out = room;
    const uInt inBefore = stream.avail_in;
    const int status = inflate(&stream, Z_NO_FLUSH);
    in_ += inBefore - stream.avail_in;
    out_ += room - stream.avail_out;
    if (status == Z_NEED_DICT || status == Z_DATA_ERROR || status == Z_MEM_ERROR) {
      Fail("its body is damaged.");
    }
    if (status == Z_STREAM_END) break;
    if (out_ - points_.back().Out < spacing || out_ >= inflatedLength) continue;
    // Between two calls the state is whole wherever the stream stands, even inside a block.
    TPoint point{out_, in_, std::make_unique<TState>()};
    if (inflateCopy(&point.State->Stream, &stream) != Z_OK) Fail("out of memory.");
    point.State->Open = true;
    point.State->Stream.next_in = nullptr;  // the input buffer is not the point's
    point.State->Stream.avail_in = 0;
    points_.push_back(std::move(point));
    if (points_.size() > kMaxPoints) {
      std::size_t kept = 1;
      for (std::size_t i = 2; i < points_.size(); i += 2) points_[kept++] = std::move(points_[i]);
      points_.resize(kept);
      spacing *= 2;
    }
  }
  if (out_ < inflatedLength) Fail("its body ends early.");
  inflateEnd(&stream);
  current_.Open = false;
}

void TInflateIndex::StartAt(const TPoint& point) {
  z_stream& stream = current_.Stream;
  if (current_.Open) inflateEnd(&stream);
  current_.Open = false;
  stream = z_stream{};
  // The first point is the start of the zlib stream with its header; the others are copies
  // of the state that reached them.
  const int status = point.State ? inflateCopy(&stream, &point.State->Stream) : inflateInit(&stream);
  if (status != Z_OK) Fail("out of memory.");
  current_.Open = true;
  stream.next_in = nullptr;
  stream.avail_in = 0;
  const auto at = static_cast<std::int64_t>(kHeaderSize + point.In);
  if (file_.Seek(at, TSeekOrigin::Begin) != at) {
    Fail("it cannot be read at byte " + std::to_string(at) + ".");
  }
  out_ = point.Out;
  in_ = point.In;
}

void TInflateIndex::Inflate(std::uint8_t* out, std::uint64_t n) {
  z_stream& stream = current_.Stream;
  std::uint8_t scratch[16384];
  while (n > 0) {
    Refill();
    std::uint8_t* into = out ? out : scratch;
    const uInt room = static_cast<uInt>(std::min<std::uint64_t>(n, out ? n : sizeof scratch));
    stream.next_out = into;
    stream.avail_out = room;
    const uInt inBefore = stream.avail_in;
    const int status = inflate(&stream, Z_NO_FLUSH);
    in_ += inBefore - stream.avail_in;
    const uInt made = room - stream.avail_out;
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
  if (!current_.Open || out_ > offset || out_ < point.Out) StartAt(point);
  Inflate(nullptr, offset - out_);
  Inflate(out.data(), out.size());
}

}  // namespace quillon::recover
