#include "core/page_test.h"

namespace quillon {

bool CheckRowOffsets(std::span<const std::uint16_t> table, std::uint16_t rowCount) {
  if (rowCount == 0 || rowCount > table.size()) return false;
  if (table[rowCount - 1] <= rowCount + 14) return false;
  for (std::size_t k = 0; k < rowCount; ++k) {
    if (table[k] == 0) return false;
  }
  return true;
}

bool IsCandidatePage(const PageHead& head) {
  if (head.PageType != kDataPageType) return false;
  if (head.PageMark != 0x01) return false;
  if (head.FreeSpace >= kMaxFreeSpace) return false;
  if (head.OwnerPage >= kMaxOwnerPage && head.OwnerPage != kLvalOwner) return false;
  if (head.RowCount >= kMaxRowCount) return false;
  return CheckRowOffsets(head.RowOffsets, head.RowCount);
}

}  // namespace quillon
