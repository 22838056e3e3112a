#pragma once
// How the fields of a row read without its definition are shown, by quillon-cli rows and by
// recover for tables it cannot type: where the row lies, its state, its variable-length
// columns as text, and what a reader should know beyond them.

#include <cstdint>
#include <string>

#include "rows/recovered_rows.h"

namespace quillon {

// Where a row's slot is: "f<fragment>r<row>", e.g. "f12r3": spreadsheets take "12:3" for a
// time of day, and this for text.
std::string SlotReference(std::uint64_t fragment, std::uint16_t row);
std::string RowReference(const TRecoveredRow& row);

// "live", "deleted" or "moved" (a pointer whose data is not tied to it for certain).
const char* RowStateName(TRowState state);

// A variable-length column as a CSV field shows it: the text; bytes that are not text as
// "0x" and hex digits; a long value as its text (or "0x" and hex); nothing for an empty
// column or a long value that was not found for certain.
std::string ValueFieldText(const TRecoveredValue& value);

// What a reader of the row should know beyond its fields, "; " between items: where a moved
// row's data came from, and which long values were not found or are ambiguous.
std::string RowNotes(const TRecoveredRow& row);

}  // namespace quillon
