#include "rows/long_value_head.h"

#include "core/fragment_file_format.h"
#include "rows/byte_reading.h"

namespace quillon {

std::optional<TLongValueHead> ParseLongValueHead(std::span<const std::uint8_t> column) {
  if (column.size() < kLongValueHeadSize) return std::nullopt;
  const std::uint32_t word = LoadU32(column, 0);
  TLongValueHead head;
  head.Length = word & 0x3FFFFFFF;
  switch (word >> 30) {
    case 2:
      if (column.size() != kLongValueHeadSize + head.Length) return std::nullopt;
      head.Kind = TLongValueKind::Inline;
      head.InlineData = column.subspan(kLongValueHeadSize);
      return head;
    case 1: head.Kind = TLongValueKind::SingleRow; break;
    case 0: head.Kind = TLongValueKind::Chain; break;
    default: return std::nullopt;
  }
  if (column.size() != kLongValueHeadSize) return std::nullopt;
  head.UnusedZero = LoadU32(column, 8) == 0;
  head.Where = RowPointerFrom(LoadU32(column, 4));
  if (head.Length == 0 || head.Where.Page == 0) return std::nullopt;
  if (head.Kind == TLongValueKind::SingleRow && head.Length > kFragmentSize) return std::nullopt;
  return head;
}

}  // namespace quillon
