#pragma once
// The outputs of quillon-cli rows: the summary for a terminal, one CSV file per table, and
// JSON. All three show the same rows of the same TRowRecovery.

#include <cstdio>
#include <ostream>
#include <string>

#include "core/fragment_file_reader.h"
#include "rows/row_fields.h"
#include "rows/row_recovery.h"

namespace quillon {

// How a table is shown: "Customers (owner page 24)", or "owner page 24" without a name.
std::string TableTitle(const TRecoveredTable& table);

// A CSV field quoted as RFC 4180 has it: in double quotes, doubled inside, when it holds a
// comma, a double quote, a carriage return or a line feed.
std::string CsvField(const std::string& text);

// A UTF-8 byte-order mark (spreadsheets take a CSV file without one for the system's code
// page), the header line and one line per row of Tables()[table], lines ending in CRLF:
// row, state, fixed, var1 ... varN, notes.
void WriteTableCsv(std::ostream& out, const TRowRecovery& recovery, std::size_t table);

// The file name of a table's CSV file: "table-<owner>.csv", or "table-<owner>-<name>.csv"
// when the catalog names it (characters that file names cannot hold as "_"). The owner
// page keeps two databases' tables of one name apart.
std::string TableCsvName(const TRecoveredTable& table);

void PrintRowsSummary(std::FILE* out, const std::string& path, const TFragmentFileReport& report,
                      const TRowRecovery& recovery);

// One JSON document: the file, totals, and every table with its rows.
void PrintRowsJson(std::FILE* out, const std::string& path, const TFragmentFileReport& report,
                   const TRowRecovery& recovery);

}  // namespace quillon
