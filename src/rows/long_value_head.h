#pragma once
// The 12-byte head of a memo or OLE value in a row: u32 length (low 30 bits) with flags in
// its top bits, a pointer (row number, then a 3-byte page number of the lost database) and
// four unused bytes. Inline data follows the head. Access leaves whatever was in memory in
// the unused bytes of some heads (seen on chains), so they need not be zero.

#include <cstdint>
#include <optional>
#include <span>

namespace quillon {

inline constexpr std::size_t kLongValueHeadSize = 12;

enum class TLongValueKind : std::uint8_t {
  Inline,     // flag 0x80: the data follows the head in the row
  SingleRow,  // flag 0x40: one LVAL row holds all of it
  Chain,      // flag 0x00: a chain of LVAL rows, each starting with a pointer to the next
};

// A pointer as rows and LVAL rows store it: row number in the low byte, page above.
struct TRowPointer {
  std::uint32_t Page = 0;
  std::uint8_t Row = 0;
  bool operator==(const TRowPointer&) const = default;
};

inline TRowPointer RowPointerFrom(std::uint32_t stored) {
  return {stored >> 8, static_cast<std::uint8_t>(stored & 0xFF)};
}

struct TLongValueHead {
  TLongValueKind Kind = TLongValueKind::Inline;
  std::uint32_t Length = 0;      // bytes of the value
  TRowPointer Where;             // SingleRow and Chain: the (first) LVAL row
  std::span<const std::uint8_t> InlineData;  // Inline: the Length bytes after the head
  // SingleRow and Chain: the four unused bytes are zero. A head with other bytes there is
  // believed only when its pointer leads to LVAL rows that fit; else the column is read as
  // ordinary bytes (twelve bytes of text can look like a head).
  bool UnusedZero = true;
};

// A variable-length column read as a long-value head; nothing when it cannot be one: an
// inline value whose length is not the rest of the column, or a pointing head that is not
// exactly 12 bytes, has page 0, or a single row longer than a page.
std::optional<TLongValueHead> ParseLongValueHead(std::span<const std::uint8_t> column);

}  // namespace quillon
