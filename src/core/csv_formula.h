#pragma once
// Text values from a disk in the CSV files we write must not act as code: a spreadsheet
// that opens the file takes a cell that begins with =, +, -, @, a tab or a carriage return
// for a formula and may run it (=cmd|' /C calc'!A0). Such a value is written with a
// leading apostrophe, as OWASP recommends for CSV files; spreadsheets then show it as text.
// Only text and memo values get it: numbers stay numbers, and the SQLite file keeps every
// value exactly as it was.

#include <string>
#include <string_view>

namespace quillon {

// Whether a spreadsheet would take text, as a cell of a CSV file, for a formula.
inline bool ReadsAsFormula(std::string_view text) {
  return !text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos;
}

// text, with an apostrophe in front where a spreadsheet would take it for a formula.
inline std::string FormulaDefused(std::string text) {
  if (ReadsAsFormula(text)) text.insert(text.begin(), '\'');
  return text;
}

}  // namespace quillon
