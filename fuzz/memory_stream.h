#pragma once
// A read-only stream over bytes held in memory: the fuzz targets hand their input to the
// program's readers through it, as a file would be.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/stream.h"

namespace quillon::fuzzing {

class TMemoryStream : public TStream {
 public:
  TMemoryStream(const std::uint8_t* data, std::size_t size)
      : data_(data), size_(static_cast<std::int64_t>(size)) {}

  std::size_t Read(void* buffer, std::size_t n) override {
    if (position_ >= size_) return 0;
    const auto got = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(n), size_ - position_));
    std::memcpy(buffer, data_ + position_, got);
    position_ += static_cast<std::int64_t>(got);
    return got;
  }

  std::size_t Write(const void*, std::size_t) override { return 0; }  // read-only

  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
    const std::int64_t base = origin == TSeekOrigin::Begin     ? 0
                              : origin == TSeekOrigin::Current ? position_
                                                               : size_;
    if (offset < 0 ? base + offset < 0 : base > INT64_MAX - offset) return -1;
    position_ = base + offset;
    return position_;
  }

 private:
  const std::uint8_t* data_;
  std::int64_t size_;
  std::int64_t position_ = 0;
};

}  // namespace quillon::fuzzing
