#pragma once
// A zero-filled byte buffer on a page boundary. The kernel copies from the page cache
// into a page-aligned buffer markedly faster than into an unaligned one.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

namespace quillon {

class TAlignedBuffer {
 public:
  static constexpr std::size_t kAlignment = 4096;

  explicit TAlignedBuffer(std::size_t size)
      : size_(size),
        data_(static_cast<std::uint8_t*>(::operator new(size, std::align_val_t{kAlignment}))) {
    std::memset(data_, 0, size_);
  }
  ~TAlignedBuffer() { ::operator delete(data_, std::align_val_t{kAlignment}); }
  TAlignedBuffer(const TAlignedBuffer&) = delete;
  TAlignedBuffer& operator=(const TAlignedBuffer&) = delete;

  std::uint8_t* data() { return data_; }
  const std::uint8_t* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  std::size_t size_;
  std::uint8_t* data_;
};

}  // namespace quillon
