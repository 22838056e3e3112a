#include "jet/long_value.h"

#include "core/page_head.h"

namespace quillon::jet {
namespace {

constexpr std::uint32_t kLengthMask = 0x3FFFFFFF;

}  // namespace

std::optional<TLongValueHead> ReadLongValueHead(std::span<const std::uint8_t> column) {
  const TByteView view(column);
  const std::optional<std::uint32_t> word = view.U32(0);
  if (!word || column.size() < kLongValueHeadSize) return std::nullopt;
  TLongValueHead head;
  head.Length = *word & kLengthMask;
  switch (*word >> 30) {
    case 2: head.Kind = TLongValueKind::Inline; break;
    case 1: head.Kind = TLongValueKind::SingleRow; break;
    case 0: head.Kind = TLongValueKind::Chain; break;
    default: return std::nullopt;
  }
  head.Where = *RowPointerAt(column, 4);
  head.UnusedZero = *view.U32(8) == 0;
  head.InlineData = column.subspan(kLongValueHeadSize);
  return head;
}

std::optional<TLongValueHead> ParseLongValueHead(std::span<const std::uint8_t> column) {
  std::optional<TLongValueHead> head = ReadLongValueHead(column);
  if (!head) return std::nullopt;
  if (head->Kind == TLongValueKind::Inline) {
    if (head->InlineData.size() != head->Length) return std::nullopt;
    head->Where = {};
    head->UnusedZero = true;
    return head;
  }
  head->InlineData = {};
  if (column.size() != kLongValueHeadSize) return std::nullopt;
  if (head->Length == 0 || head->Where.Page == 0) return std::nullopt;
  if (head->Kind == TLongValueKind::SingleRow && head->Length > kPageSize) return std::nullopt;
  return head;
}

}  // namespace quillon::jet
