#pragma once
// Every row of every LVAL page in the catalog, indexed the ways long-value pointers are
// matched: by row number and length (a value in one row, the last part of a chain) and by
// row number and the page its chain pointer names (the other parts of a chain).

#include <cstdint>
#include <functional>
#include <optional>
#include <unordered_map>
#include <vector>

#include "jet/long_value.h"
#include "rows/page_catalog.h"

namespace quillon {

using jet::TLongValueKind;
using jet::TRowPointer;

struct TLongValueRow {
  TPageIndex Page = 0;
  std::uint16_t Slot = 0;
  std::uint16_t Length = 0;  // bytes of the row
  TRowPointer Next;          // the first four bytes read as a chain pointer; page 0 at the end
  bool HasPointer = false;   // the row is long enough to start with a chain pointer
};

using TLongValueRowId = std::uint32_t;

class TLongValueDirectory {
 public:
  // Indexes at most maxRows rows; LVAL pages past them are left out (Full() says so).
  explicit TLongValueDirectory(const TPageCatalog& catalog, std::uint64_t maxRows = UINT64_MAX);

  bool Full() const { return full_; }

  const TLongValueRow& Row(TLongValueRowId id) const { return rows_[id]; }
  std::size_t RowCount() const { return rows_.size(); }

  // The row `slot` of catalog page `page`, when that is an LVAL page with such a valid row.
  std::optional<TLongValueRowId> RowAt(TPageIndex page, std::uint8_t slot) const;

  // Rows numbered `slot` that are exactly `length` bytes long.
  const std::vector<TLongValueRowId>& WithSlotAndLength(std::uint8_t slot,
                                                       std::uint16_t length) const;

  // Rows numbered `slot` whose chain pointer names a page from `first` to `last`.
  void ForSlotAndNextPage(std::uint8_t slot, std::uint32_t first, std::uint32_t last,
                          const std::function<void(TLongValueRowId)>& visit) const;

 private:
  std::vector<TLongValueRow> rows_;
  std::unordered_map<TPageIndex, TLongValueRowId> firstRowOfPage_;
  std::unordered_map<std::uint32_t, std::vector<TLongValueRowId>> bySlotAndLength_;
  // Per slot number, (next page, row) sorted by next page.
  std::vector<std::vector<std::pair<std::uint32_t, TLongValueRowId>>> bySlotAndNext_;
  std::vector<TLongValueRowId> none_;
  bool full_ = false;
};

}  // namespace quillon
