#include <algorithm>
#include <ostream>
#include <string>
#include <string_view>

#include "cli/rows_output.h"
#include "core/csv_formula.h"
#include "recover/output_names.h"
#include "jet/text.h"

namespace quillon {

std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string TableTitle(const TRecoveredTable& table) {
  const std::string owner = "owner page " + std::to_string(table.Owner);
  return table.Name.empty() ? owner : table.Name + " (" + owner + ")";
}

std::string TableCsvName(const TRecoveredTable& table) {
  std::string name = "table-" + std::to_string(table.Owner);
  // The owner page keeps the names apart; the table's name is made one a file system takes
  // as recover makes it.
  if (!table.Name.empty()) name += "-" + recover::FileNameOf(table.Name);
  return name + ".csv";
}

void WriteTableCsv(std::ostream& out, const TRowRecovery& recovery, std::size_t table) {
  const std::size_t varColumns = recovery.Tables()[table].MaxVarColumns;
  out << "\xEF\xBB\xBF" << "row,state,fixed";
  for (std::size_t k = 1; k <= varColumns; ++k) out << ",var" << k;
  out << ",notes\r\n";
  std::string line;
  recovery.ForEachRow(table, [&](const TRecoveredRow& row) {
    line = RowReference(row);
    line += ',';
    line += RowStateName(row.State);
    line += ',';
    line += jet::HexText(row.Fixed);
    for (std::size_t k = 0; k < varColumns; ++k) {
      line += ',';
      // Text from the disk: a value a spreadsheet would run as a formula gets an apostrophe.
      if (k < row.Values.size()) line += CsvField(FormulaDefused(ValueFieldText(row.Values[k])));
    }
    line += ',';
    line += CsvField(RowNotes(row));
    line += "\r\n";
    out << line;
  });
}

}  // namespace quillon
