#pragma once
// Reads the rows of every table in a page catalog: decodes each row from its own layout,
// ties moved rows' pointers to their data, matches memo/OLE heads to LVAL rows and names
// the tables from the catalog. All the work happens in the constructor; the rows are
// decoded again, one at a time, when they are visited, so that memory holds a small record
// per row rather than every value.

#include <cstdint>
#include <functional>
#include <unordered_map>
#include <vector>

#include "jet/row_layout.h"
#include "rows/long_value_matcher.h"
#include "rows/overflow_matcher.h"
#include "rows/page_catalog.h"
#include "rows/recovered_rows.h"

namespace quillon {

// How much the reader holds besides the pages. The defaults keep it near a gigabyte at
// most; past a limit the rest is not read and the totals say so.
struct TRowLimits {
  std::uint64_t Rows = 24'000'000;           // row slots recorded, about 16 bytes each
  std::uint64_t LongValueHeads = 3'000'000;  // memo/OLE pointers, about 100 bytes each
  std::uint64_t LongValueRows = 8'000'000;   // LVAL rows indexed, about 40 bytes each
};

class TRowRecovery {
 public:
  explicit TRowRecovery(const TPageCatalog& catalog, const TRowLimits& limits = {});

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
    bool AllFixed;       // Plain: the row has fixed-length columns only
    bool MovedData;      // Plain: flagged 0x8000 alone
    std::uint32_t Move;  // Moved: index into moves_
  };
  struct TMove {
    std::uint32_t Owner;
    TRowPointer Where;
    TOverflowMatch Match;
    TPageIndex Page;  // the pointer's own slot
    std::uint16_t Slot;
  };
  struct TLongValueUse {
    TLongValueRef Ref;
    std::uint32_t Table;  // index into tables_
    bool Live;
    bool Loose;  // the head's unused bytes are not zero: believed only when found
    TLongValueMatch Match;
  };

  void ReadTable(std::uint32_t owner, const std::vector<TPageIndex>& pages);
  void FindLongValueHeads(TPageIndex page, std::uint16_t slot, const jet::TRowLayout& layout,
                          bool live);
  void MatchPointers();
  void CountTables();
  static std::uint64_t ColumnKey(TPageIndex page, std::uint16_t slot, std::uint16_t column) {
    return (static_cast<std::uint64_t>(page) << 32) | (static_cast<std::uint64_t>(slot) << 16) |
           column;
  }
  static std::uint64_t RowKey(TPageIndex page, std::uint16_t slot) {
    return (static_cast<std::uint64_t>(page) << 16) | slot;
  }
  // The long-value use of a column when its head is to be believed.
  const TLongValueUse* LongValueAt(TPageIndex page, std::uint16_t slot,
                                   std::uint16_t column) const;
  void FillRow(const TRecord& record, TRecoveredRow& row, std::vector<std::uint8_t>& bytes) const;
  void FillValue(TPageIndex page, std::uint16_t slot, std::uint16_t column,
                 std::span<const std::uint8_t> bytes, TRecoveredValue& value) const;

  const TPageCatalog& catalog_;
  TRowLimits limits_;
  TLongValueDirectory directory_;
  TPageAnchors anchors_;
  TOverflowMatcher overflows_;
  std::uint64_t rowsRecorded_ = 0;
  std::vector<std::vector<TRecord>> records_;  // per table, in file order
  std::vector<TMove> moves_;
  std::vector<TLongValueUse> longValues_;
  std::unordered_map<std::uint64_t, std::uint32_t> longValueAt_;  // by ColumnKey
  std::unordered_map<std::uint64_t, std::uint32_t> tiedPointer_;  // data RowKey -> moves_
  std::vector<TRecoveredTable> tables_;
  TRecoveryTotals totals_;
};

}  // namespace quillon
