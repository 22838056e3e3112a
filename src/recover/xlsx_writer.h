#pragma once
// The recovered database as one workbook for a spreadsheet: a first sheet listing the
// tables by their full names, then a sheet per table with typed cells. The file is made
// under a temporary name through IFileSystem and takes its own name only when complete.

#include <memory>
#include <string>
#include <vector>

#include "core/stream.h"
#include "recover/row_values.h"
#include "recover/table_output.h"

namespace quillon::recover {

// The most characters a cell holds; a longer value is cut there and its cell says so.
inline constexpr std::size_t kXlsxCellCharacters = 32767;
// The rows a sheet holds, its header row included; a longer table continues on a further
// sheet.
inline constexpr std::size_t kXlsxSheetRows = 1048576;

// A sheet name from name: at most 31 characters, none of []:*?/\ (each becomes '_'), not
// beginning or ending with an apostrophe. A trailing " (...)" (" (deleted)", " (2)") is
// kept whole where the name must be cut.
std::string XlsxSheetName(const std::string& name);

class TXlsxWriter {
 public:
  // Starts the workbook that Finish writes to systemPath (displayPath for messages); a table
  // continues on a further sheet after sheetRows rows, its header row included.
  TXlsxWriter(IFileSystem& fileSystem, const std::string& systemPath,
              const std::string& displayPath, std::size_t sheetRows = kXlsxSheetRows);
  ~TXlsxWriter();
  TXlsxWriter(const TXlsxWriter&) = delete;
  TXlsxWriter& operator=(const TXlsxWriter&) = delete;

  // A new sheet for the table (or its deleted rows) called name; its first row the columns.
  void BeginTable(const std::string& name, const std::vector<TOutputColumn>& columns);
  void Insert(const std::vector<TValue>& values);
  // Writes the workbook and gives it its name. Throws EQuillonError naming the file and the
  // cause; without a Finish no file of that name is made.
  void Finish();

 private:
  struct TState;
  std::unique_ptr<TState> state_;
};

}  // namespace quillon::recover
