#pragma once
// Tables recovered without a definition, read as `quillon-cli rows` reads them: one line
// per row with where it lies, its state, its fixed-length part in hex, its variable-length
// columns as text (memo and OLE values from the LVAL pages where found for certain) and
// notes. Used for a table whose definition is lost, and for the pages no database could be
// placed for, where no definition can be tied to anything for certain.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/stream.h"
#include "recover/page_store.h"
#include "recover/recovery.h"
#include "recover/recovery_report.h"
#include "recover/table_output.h"
#include "rows/page_catalog.h"
#include "rows/row_recovery.h"

namespace quillon::recover {

class TXlsxWriter;

// The columns `rows` gives a table: row, state, fixed, var1 ... varN, notes; all TEXT.
std::vector<TOutputColumn> UntypedColumns(std::size_t varColumns);

// One row in those columns, each field as `rows` writes it in its CSV; NULL where that
// field is empty.
std::vector<TValue> UntypedValues(const TRecoveredRow& row, std::size_t varColumns);

// The rows of the tables among some pages of the store: their data pages, the LVAL pages
// their memo and OLE columns may point to, and the catalog pages that name them.
class TUntypedRows {
 public:
  // pages: store indices in store order; others than data and LVAL pages are passed over.
  // Past kMemoryPages the pages go to a temporary file at spillPath (a display path inside
  // OUTDIR, removed when done). Throws EQuillonError naming a file that cannot be read or
  // written.
  TUntypedRows(const IPageStore& store, const std::vector<std::size_t>& pages,
               IFileSystem& fileSystem, const std::string& spillPath);
  ~TUntypedRows();
  TUntypedRows(const TUntypedRows&) = delete;
  TUntypedRows& operator=(const TUntypedRows&) = delete;

  const TRowRecovery& Rows() const { return *rows_; }
  // The index in Rows().Tables() of the table whose data pages name owner.
  std::optional<std::size_t> TableOf(std::uint32_t owner) const;

  static constexpr std::size_t kMemoryPages = 65536;  // 256 MiB

 private:
  IFileSystem& fileSystem_;
  std::string spillSystemPath_;
  std::unique_ptr<TStream> spill_;
  TPageCatalog catalog_;
  std::unique_ptr<TRowRecovery> rows_;
};

// An output part begun: its name in SQLite (made unique), its CSV writer (null where no CSV
// is written) and that file's display path.
struct TBegunPart {
  std::string Name;
  std::unique_ptr<TCsvWriter> Csv;
  std::string CsvPath;
  TXlsxWriter* Xlsx = nullptr;  // the workbook its rows also go to, where one is written
};
// Begins the output part called name with these columns in SQLite and CSV.
using TBeginPart = std::function<TBegunPart(const std::string& name,
                                            const std::vector<TOutputColumn>& columns)>;

// Writes Rows().Tables()[table]: live rows (moved rows' data among them) into the part
// `name`, deleted rows into "name (deleted)" (begun only when there are some). A moved row's
// pointer whose data is not tied to it for certain has no data: it is counted, not written.
// Fills report's row and value counts.
void WriteUntypedTable(const TUntypedRows& rows, std::size_t table, const std::string& name,
                       TSqliteWriter* sqlite, const TBeginPart& begin, TTableReport& report);

// Writes the tables among pages (store indices of the data pages no database was written
// from, and the LVAL pages) to OUTDIR/unplaced.sqlite and OUTDIR/unplaced/TABLE.csv, named
// from the catalog where its rows are among them. No definition is used: none can be tied
// to these pages for certain, and a definition tied by shape alone could give wrong values.
// A table without a live or deleted row is not written, only counted in
// report.TablesWithoutRows. False, and nothing written or counted, when no table but the
// system tables is among them; true with no file when every table was without rows.
bool RecoverUnplacedPages(const IPageStore& store, const std::vector<std::size_t>& pages,
                          IFileSystem& fileSystem, const TRecoveryOptions& options,
                          IRecoveryProgress& progress, TDatabaseReport& report);

}  // namespace quillon::recover
