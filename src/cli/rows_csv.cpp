#include <ostream>
#include <string>

#include "cli/rows_output.h"
#include "rows/jet_text.h"

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

std::string TableCsvName(const TRecoveredTable& table) {
  return "table-" + std::to_string(table.Owner) + ".csv";
}

void WriteTableCsv(std::ostream& out, const TRowRecovery& recovery, std::size_t table) {
  const std::size_t varColumns = recovery.Tables()[table].MaxVarColumns;
  out << "row,state,fixed";
  for (std::size_t k = 1; k <= varColumns; ++k) out << ",var" << k;
  out << ",notes\r\n";
  std::string line;
  recovery.ForEachRow(table, [&](const TRecoveredRow& row) {
    line = RowReference(row);
    line += row.State == TRowState::Live ? ",live," : ",deleted,";
    line += HexText(row.Fixed);
    for (std::size_t k = 0; k < varColumns; ++k) {
      line += ',';
      if (k < row.Values.size()) line += CsvField(ValueFieldText(row.Values[k]));
    }
    line += ',';
    line += CsvField(RowNotes(row));
    line += "\r\n";
    out << line;
  });
}

}  // namespace quillon
