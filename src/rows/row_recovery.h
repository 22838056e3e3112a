#pragma once
// Reads the rows of every table in a page catalog: decodes each row from its own layout,
// follows overflow rows, and matches memo/OLE heads to LVAL rows. All the work happens in
// the constructor; the rows are decoded again, one at a time, when they are visited, so that
// memory holds the pages and a small record per row rather than every value.

#include <cstdint>
#include <functional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "rows/long_value_matcher.h"
#include "rows/overflow_matcher.h"
#include "rows/page_catalog.h"
#include "rows/recovered_rows.h"
#include "rows/row_layout.h"

namespace quillon {

class TRowRecovery {
 public:
  explicit TRowRecovery(const TPageCatalog& catalog);

  const std::vector<TRecoveredTable>& Tables() const { return tables_; }
  const TRecoveryTotals& Totals() const { return totals_; }

  // Visits the rows of Tables()[table] in file order. The row is valid during the call.
  void ForEachRow(std::size_t table, const std::function<void(const TRecoveredRow&)>& visit) const;
  // The same, until visit returns false.
  void ForEachRowWhile(std::size_t table,
                       const std::function<bool(const TRecoveredRow&)>& visit) const;

 private:
  enum class TRecordKind : std::uint8_t { Plain, Moved };
  struct TRecord {
    TPageIndex Page;
    std::uint16_t Slot;
    TRecordKind Kind;
    TRowState State;
    std::uint32_t Move;  // Moved: index into moves_
  };
  struct TMove {
    std::uint32_t Owner;
    TRowPointer Where;
    TOverflowMatch Match;
  };
  struct TLongValueUse {
    TLongValueRef Ref;
    bool Live;
    TLongValueMatch Match;
  };

  void ReadTable(std::uint32_t owner, const std::vector<TPageIndex>& pages);
  void FindLongValueHeads(TPageIndex page, std::uint16_t slot, const TRowLayout& layout,
                          bool live);
  void MatchPointers();
  void CountTables();
  static std::uint64_t ColumnKey(TPageIndex page, std::uint16_t slot, std::uint16_t column) {
    return (static_cast<std::uint64_t>(page) << 24) | (static_cast<std::uint64_t>(slot) << 8) |
           column;
  }
  static std::uint64_t RowKey(TPageIndex page, std::uint16_t slot) {
    return (static_cast<std::uint64_t>(page) << 16) | slot;
  }
  void FillRow(const TRecord& record, TRecoveredRow& row) const;
  void FillValue(TPageIndex page, std::uint16_t slot, std::uint16_t column,
                 std::span<const std::uint8_t> bytes, TRecoveredValue& value) const;

  const TPageCatalog& catalog_;
  TLongValueDirectory directory_;
  TPageAnchors anchors_;
  TOverflowMatcher overflows_;
  std::vector<std::vector<TRecord>> records_;  // per table, in file order
  std::vector<TMove> moves_;
  std::vector<TLongValueUse> longValues_;
  std::unordered_map<std::uint64_t, std::uint32_t> longValueAt_;  // by ColumnKey
  std::unordered_set<std::uint64_t> movedHere_;  // RowKey of rows shown through their pointer
  std::vector<TRecoveredTable> tables_;
  TRecoveryTotals totals_;
};

}  // namespace quillon
