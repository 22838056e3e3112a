#pragma once
// Memo and OLE values as Jet 4 stores them. A row's column begins with a 12-byte head:
// u32 length (low 30 bits) with the storage in its top two bits, a pointer (row number,
// then a 3-byte page number of the database) and four unused bytes. Inline data follows
// the head in the row; otherwise the value lies in one LVAL row, or in a chain of LVAL
// rows each beginning with the pointer to the next (row 0 of page 0 at the last). Access
// leaves whatever was in memory in the unused bytes of some heads (seen on chains), so
// they need not be zero.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <unordered_set>

#include "jet/byte_view.h"

namespace quillon::jet {

inline constexpr std::size_t kLongValueHeadSize = 12;
// The pointer to the next part at the start of each LVAL row of a chain.
inline constexpr std::size_t kChainPointerSize = 4;
// The most parts a chain is followed for: a value of 1 GiB fits in 16 Ki pages.
inline constexpr std::size_t kMaxChainParts = 1u << 16;

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

// The pointer at `at` (4 bytes); nothing when they are not all inside bytes.
inline std::optional<TRowPointer> RowPointerAt(std::span<const std::uint8_t> bytes,
                                               std::size_t at) {
  if (const auto stored = TByteView(bytes).U32(at)) return RowPointerFrom(*stored);
  return std::nullopt;
}

struct TLongValueHead {
  TLongValueKind Kind = TLongValueKind::Inline;
  std::uint32_t Length = 0;      // bytes of the value
  TRowPointer Where;             // SingleRow and Chain: the (first) LVAL row
  // Inline: the bytes after the head (ReadLongValueHead: all of the column's rest, which
  // may be more than Length; ParseLongValueHead: exactly Length bytes).
  std::span<const std::uint8_t> InlineData;
  // SingleRow and Chain: the four unused bytes are zero. A head with other bytes there is
  // believed only when its pointer leads to LVAL rows that fit; else the column is read as
  // ordinary bytes (twelve bytes of text can look like a head).
  bool UnusedZero = true;
};

// The head at the start of a column as it stands; nothing for a column shorter than a
// head or with both top flag bits set. Whether the rest fits is the caller's to judge.
std::optional<TLongValueHead> ReadLongValueHead(std::span<const std::uint8_t> column);

// A variable-length column read strictly as a long-value head; nothing when it cannot be
// one: an inline value whose length is not the rest of the column, or a pointing head
// that is not exactly 12 bytes, has page 0, or a single row longer than a page.
std::optional<TLongValueHead> ParseLongValueHead(std::span<const std::uint8_t> column);

// How following a chain ended.
enum class TChainEnd : std::uint8_t {
  Whole,   // it reached its last part, and the parts add up to the stated length
  Lost,    // a part's row is not there: the chain says nothing either way
  Broken,  // a part too short for its pointer, parts longer than the value, a row
           // visited twice (rows reused or forged), or parts that do not add up
};

// Follows the chain from `first` for a value of `length` bytes. rowAt(TRowPointer) gives
// the LVAL row's bytes as a std::optional of something contiguous (nothing when the row
// is not there); onPart(span) receives each part's data, after its pointer, in order.
template <class TRowAt, class TOnPart>
TChainEnd FollowChain(TRowPointer first, std::size_t length, TRowAt&& rowAt,
                      TOnPart&& onPart) {
  std::size_t total = 0;
  TRowPointer at = first;
  std::unordered_set<std::uint32_t> visited;
  for (std::size_t part = 0; part < kMaxChainParts; ++part) {
    const auto row = rowAt(at);
    if (!row) return TChainEnd::Lost;
    const std::span<const std::uint8_t> bytes(*row);
    if (bytes.size() < kChainPointerSize || total + bytes.size() - kChainPointerSize > length ||
        !visited.insert(at.Page << 8 | at.Row).second) {
      return TChainEnd::Broken;
    }
    total += bytes.size() - kChainPointerSize;
    onPart(bytes.subspan(kChainPointerSize));
    at = *RowPointerAt(bytes, 0);
    if (at.Page == 0 && at.Row == 0) break;
  }
  return total == length ? TChainEnd::Whole : TChainEnd::Broken;
}

}  // namespace quillon::jet
