#pragma once
// Whether a table definition fits a table's rows: loosely (most rows decode with it), or
// exactly by shape (used to tie a definition to its table where page numbers are lost);
// and the long-value pointers of a row read with a definition.

#include <cstddef>
#include <optional>
#include <span>

#include "jet/long_value.h"
#include "jet/row_layout.h"
#include "recover/database_reader.h"
#include "recover/row_values.h"
#include "recover/table_definition.h"
#include "recover/table_plan.h"

namespace quillon::recover {

// Does the definition fit the table's rows, whatever column counts they were written with?
// Most of the live rows read must be rows of it that it can read; a table without live
// rows is judged by its deleted ones. Deleted rows are not asked where live ones exist: the
// space of a deleted row may since have been given to other bytes.
bool FitsRows(const TDatabaseReader& reader, const TTablePlan& plan,
              const TTableDefinition& definition);

// Does the row have exactly the definition's shape? The fixed part exactly as long as the
// fixed columns the row counts (all of them in a row of the definition's last column
// count), each column the row counts inside it, no variable column it does not count in
// its offset table, and fields no longer than their columns allow. Used
// to tie a definition by shape alone.
bool HasExactShape(std::span<const std::uint8_t> row, const TTableDefinition& definition);

// Do the table's live rows (the first 64 read) all have exactly the definition's shape?
// False for a table without live rows.
bool FitsExactly(const TDatabaseReader& reader, const TTablePlan& plan,
                 const TTableDefinition& definition);

// Calls visit with the head of every long value of a row that fits definition's shape and
// lies in LVAL rows (one, or a chain).
template <class TVisit>
void ForEachLongValuePointer(std::span<const std::uint8_t> row, const TTableDefinition& definition,
                             TVisit&& visit) {
  const std::optional<jet::TRowLayout> layout = LayoutOfRow(row, definition);
  if (!layout) return;
  for (const TColumn& column : definition.Columns) {
    if ((column.Type != TColumnType::Memo && column.Type != TColumnType::Ole) || column.Fixed)
      continue;
    const jet::TColumnField field = jet::FieldOf(*layout, PlaceOf(column));
    if (field.State == jet::TFieldState::Absent) continue;
    const std::optional<jet::TLongValueHead> head = jet::ReadLongValueHead(field.Bytes);
    if (head && head->Kind != jet::TLongValueKind::Inline) visit(*head);
  }
}

}  // namespace quillon::recover
