#pragma once
// What the row reader gives back: tables (by owner page) and their rows, each row with its
// fixed-length part as bytes and its variable-length columns as text, bytes or long values.
// There are no column names or types: those lived in the table definition pages, which a
// scan does not keep.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "jet/long_value.h"
#include "rows/match_status.h"

namespace quillon {

using jet::TLongValueKind;
using jet::TRowPointer;

enum class TRowState : std::uint8_t {
  Live,
  Deleted,  // flagged deleted in its page: often still holds its data
  Moved,    // a moved row's pointer slot (flag 0x4000) not tied to its data for certain: no
            // data here; the data is shown as a live row where it lies, if in the file
};

enum class TValueKind : std::uint8_t {
  Empty,      // zero bytes: null or an empty value
  Text,       // Text holds the text in UTF-8
  Hex,        // bytes that are not text; Text holds them as hex digits
  LongValue,  // a memo or OLE value: see the Long... fields
};

struct TRecoveredValue {
  TValueKind Kind = TValueKind::Empty;
  std::string Text;  // Text, Hex, and a found long value (as text, or as hex digits)
  // Long values only.
  TLongValueKind LongKind = TLongValueKind::Inline;
  TMatchStatus Status = TMatchStatus::Found;  // inline values are always found
  bool LongIsText = false;   // a found long value read as text; else Text holds hex digits
  std::uint32_t Length = 0;  // bytes, from the head
  TRowPointer Where;         // SingleRow and Chain: the page and row the head names
  std::uint32_t Candidates = 0;  // Ambiguous: how many different values fit
};

struct TRecoveredRow {
  std::uint64_t Fragment = 0;  // where the row's slot is: fragment number in the file
  std::uint16_t Row = 0;       // and row number in that page
  TRowState State = TRowState::Live;
  // State Moved: the pointer slot names MovedTo of the lost database; MoveStatus says
  // whether no row fits (NotFound) or several different ones (Ambiguous, MoveCandidates).
  bool Moved = false;
  TMatchStatus MoveStatus = TMatchStatus::Found;
  TRowPointer MovedTo;
  std::uint32_t MoveCandidates = 0;
  // A live row flagged 0x8000 alone: the data of a moved row. When exactly one row fits its
  // pointer, the pointer's slot is PointerFragment:PointerRow (and is not listed itself).
  bool MovedData = false;
  bool PointerKnown = false;
  std::uint64_t PointerFragment = 0;
  std::uint16_t PointerRow = 0;
  bool HasData = true;
  std::uint16_t ColumnCount = 0;
  std::vector<std::uint8_t> Fixed;  // the fixed-length columns together
  std::vector<TRecoveredValue> Values;  // the variable-length columns in order
};

struct TRecoveredTable {
  std::uint32_t Owner = 0;                 // page number of the table definition
  std::string Name;                        // from the catalog; empty when not in the file
  std::vector<std::uint64_t> DataPages;    // fragment numbers, in file order
  std::uint64_t LiveRows = 0;              // shown with their data
  std::uint64_t DeletedRows = 0;
  std::uint64_t MovedRowsNotFound = 0;     // pointers not tied to their data for certain
  std::uint64_t SkippedRows = 0;           // slots whose bytes are not a row
  std::map<std::uint16_t, std::uint64_t> ColumnCounts;  // column count seen -> rows
  std::uint16_t MaxVarColumns = 0;
  std::uint64_t LongValuesFound = 0;       // memo/OLE values in LVAL pages, by match status
  std::uint64_t LongValuesNotFound = 0;
  std::uint64_t LongValuesAmbiguous = 0;
};

struct TRecoveryTotals {
  std::uint64_t DataPages = 0;
  std::uint64_t LongValuePages = 0;
  std::uint64_t OtherFragments = 0;  // fragments that are neither
  std::uint64_t LiveRows = 0;
  std::uint64_t DeletedRows = 0;
  std::uint64_t MovedRowsFound = 0;     // pointers whose data is shown: tied, or copies
  std::uint64_t MovedRowsNotFound = 0;
  std::uint64_t SkippedRows = 0;
  std::uint64_t LongValuesFound = 0;
  std::uint64_t LongValuesNotFound = 0;
  std::uint64_t LongValuesAmbiguous = 0;
  // Memory bounds: past them no more rows (or LVAL rows) are read, and the result is not
  // the whole file's.
  bool RowLimitReached = false;
  bool LongValueLimitReached = false;
};

}  // namespace quillon
