#pragma once
// Bytes of a page or a row read through their bounds: a read that would reach past them
// gives nothing rather than what lies beyond.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "core/little_endian.h"

namespace quillon::jet {

class TByteView {
 public:
  TByteView() = default;
  explicit TByteView(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::size_t Size() const { return bytes_.size(); }
  std::span<const std::uint8_t> Bytes() const { return bytes_; }

  // Whether count bytes from at lie inside the view (no overflow for any at or count).
  bool Holds(std::size_t at, std::size_t count) const {
    return at <= bytes_.size() && count <= bytes_.size() - at;
  }

  // Little-endian integers; nothing where their bytes are not all inside the view.
  std::optional<std::uint16_t> U16(std::size_t at) const { return ReadU16(bytes_, at); }
  std::optional<std::uint32_t> U24(std::size_t at) const { return ReadU24(bytes_, at); }
  std::optional<std::uint32_t> U32(std::size_t at) const { return ReadU32(bytes_, at); }

  // count bytes from at; nothing where they are not all inside the view.
  std::optional<std::span<const std::uint8_t>> Sub(std::size_t at, std::size_t count) const {
    if (!Holds(at, count)) return std::nullopt;
    return bytes_.subspan(at, count);
  }

 private:
  std::span<const std::uint8_t> bytes_;
};

}  // namespace quillon::jet
