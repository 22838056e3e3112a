#include <algorithm>
#include <ostream>
#include <string>
#include <string_view>

#include "cli/rows_output.h"
#include "core/csv_formula.h"
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

std::string TableTitle(const TRecoveredTable& table) {
  const std::string owner = "owner page " + std::to_string(table.Owner);
  return table.Name.empty() ? owner : table.Name + " (" + owner + ")";
}

std::string TableCsvName(const TRecoveredTable& table) {
  std::string name = "table-" + std::to_string(table.Owner);
  if (!table.Name.empty()) {
    name += '-';
    // Characters a file system refuses as "_"; long names cut at a character's start.
    constexpr std::size_t kMaxNameBytes = 120;
    std::size_t cut = std::min(table.Name.size(), kMaxNameBytes);
    const auto continuation = [&](std::size_t at) {
      return (static_cast<unsigned char>(table.Name[at]) & 0xC0) == 0x80;
    };
    while (cut < table.Name.size() && continuation(cut)) --cut;
    for (const char c : table.Name.substr(0, cut)) {
      const auto u = static_cast<unsigned char>(c);
      const bool refused = u < 0x20 || u == 0x7F ||
                           std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos;
      name += refused ? '_' : c;
    }
    // Windows drops dots and spaces at the end of a name.
    while (name.back() == '.' || name.back() == ' ') name.back() = '_';
  }
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
    line += HexText(row.Fixed);
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
