#include "recover/untyped_tables.h"

#include <algorithm>
#include <array>
#include <set>

#include "core/errors.h"
#include "jet/row_slots.h"
#include "rows/catalog_objects.h"
#include "jet/text.h"
#include "rows/row_fields.h"
#include "recover/xlsx_writer.h"

namespace quillon::recover {
namespace {

constexpr std::uint32_t kLastSystemPage = 5;  // the catalog and other system tables: 1 to 5

std::string SystemPathOf(IFileSystem& fileSystem, const std::string& displayPath) {
  std::optional<std::string> path = fileSystem.FromDisplayText(displayPath);
  if (!path)
    throw EQuillonError("Cannot create file \"" + displayPath +
                        "\". The system's code page cannot hold its name.");
  return *path;
}

TValue TextOrNull(std::string text) {
  TValue value;
  if (text.empty()) return value;
  value.Kind = TValue::TKind::Text;
  value.Bytes = std::move(text);
  return value;
}

}  // namespace

std::vector<TOutputColumn> UntypedColumns(std::size_t varColumns) {
  // Only the variable columns hold text from the disk; the others are the program's own.
  std::vector<TOutputColumn> columns = {
      {"row", "TEXT", false}, {"state", "TEXT", false}, {"fixed", "TEXT", false}};
  for (std::size_t k = 1; k <= varColumns; ++k)
    columns.push_back({"var" + std::to_string(k), "TEXT", true});
  columns.push_back({"notes", "TEXT", false});
  return columns;
}

std::vector<TValue> UntypedValues(const TRecoveredRow& row, std::size_t varColumns) {
  std::vector<TValue> values;
  values.reserve(varColumns + 4);
  values.push_back(TextOrNull(RowReference(row)));
  values.push_back(TextOrNull(RowStateName(row.State)));
  values.push_back(TextOrNull(jet::HexText(row.Fixed)));
  for (std::size_t k = 0; k < varColumns; ++k)
    values.push_back(k < row.Values.size() ? TextOrNull(ValueFieldText(row.Values[k])) : TValue{});
  values.push_back(TextOrNull(RowNotes(row)));
  return values;
}

TUntypedRows::TUntypedRows(const IPageStore& store, const std::vector<std::size_t>& pages,
                           IFileSystem& fileSystem, const std::string& spillPath)
    : fileSystem_(fileSystem) {
  if (pages.size() > kMemoryPages) {
    spillSystemPath_ = SystemPathOf(fileSystem, spillPath);
    spill_ = fileSystem.Open(spillSystemPath_, TOpenMode::CreateNew);
    catalog_.SetSpill(spill_.get(), spillPath, kMemoryPages);
  }
  std::array<std::uint8_t, kPageSize> page{};
  for (const std::size_t index : pages) {
    if (store.Entry(index).Kind != TPageKind::Data) continue;
    store.Read(index, page);
    catalog_.Add(store.FragmentNumber(index), TPageBytes(page));
  }
  catalog_.FinishAdding();
  rows_ = std::make_unique<TRowRecovery>(catalog_);
}

TUntypedRows::~TUntypedRows() {
  rows_.reset();
  if (!spill_) return;
  spill_.reset();
  fileSystem_.Remove(spillSystemPath_);
}

std::optional<std::size_t> TUntypedRows::TableOf(std::uint32_t owner) const {
  const std::vector<TRecoveredTable>& tables = rows_->Tables();
  for (std::size_t i = 0; i < tables.size(); ++i) {
    if (tables[i].Owner == owner) return i;
  }
  return std::nullopt;
}

void WriteUntypedTable(const TUntypedRows& rows, std::size_t table, const std::string& name,
                       TSqliteWriter* sqlite, const TBeginPart& begin, TTableReport& report) {
  const std::size_t varColumns = rows.Rows().Tables()[table].MaxVarColumns;
  const std::vector<TOutputColumn> columns = UntypedColumns(varColumns);
  report.Typed = false;
  report.Columns = columns.size();
  // Live rows first, then the deleted ones: each SQLite table is written whole before the
  // next begins.
  for (const TOutputColumn& column : columns) report.ColumnList.push_back({column.Name, column.DeclaredType});
  for (const bool deleted : {false, true}) {
    TBegunPart part;
    std::int64_t written = 0;
    bool begun = false;
    if (!deleted) {
      part = begin(name, columns);
      begun = true;
    }
    rows.Rows().ForEachRow(table, [&](const TRecoveredRow& row) {
      if (row.State == TRowState::Moved) {
        if (!deleted) ++report.MovedRowsNotTied;
        return;
      }
      if ((row.State == TRowState::Deleted) != deleted) return;
      const std::vector<TValue> values = UntypedValues(row, varColumns);
      if (deleted) {
        ++report.DeletedRows;
      } else {
        ++report.Rows;
        report.Values += static_cast<std::int64_t>(row.Values.size());
        for (const TRecoveredValue& value : row.Values) {
          report.ValuesNotFound +=
              value.Kind == TValueKind::LongValue && value.Status != TMatchStatus::Found ? 1 : 0;
        }
      }
      if (!begun) {
        part = begin(name + " (deleted)", columns);
        begun = true;
      }
      ++written;
      if (sqlite) sqlite->Insert(values);
      if (part.Csv) part.Csv->Row(values);
      if (part.Xlsx) part.Xlsx->Insert(values);
    });
    if (part.Csv) part.Csv->Finish();
    if (begun) report.Parts.push_back({part.Name, part.CsvPath, written});
  }
}

bool RecoverUnplacedPages(const IPageStore& store, const std::vector<std::size_t>& pages,
                          IFileSystem& fileSystem, const TRecoveryOptions& options,
                          IRecoveryProgress& progress, TDatabaseReport& report) {
  std::size_t tablePages = 0;
  for (const std::size_t index : pages) {
    const TPageEntry entry = store.Entry(index);
    if (entry.Owner == jet::kLvalOwner) continue;
    ++tablePages;
    if (entry.SourceOffset < 0) continue;
    if (report.FirstPageOffset < 0 || entry.SourceOffset < report.FirstPageOffset)
      report.FirstPageOffset = entry.SourceOffset;
    report.LastPageOffset = std::max(report.LastPageOffset, entry.SourceOffset);
  }
  if (tablePages == 0) return false;
  report.Name = "unplaced";
  report.Unplaced = true;
  report.Pages = static_cast<std::int64_t>(tablePages);

  progress.Progress("reading the unplaced pages", 0, 1);
  const TUntypedRows rows(store, pages, fileSystem, options.OutputDir + "/unplaced.pages.tmp");
  const std::vector<TRecoveredTable>& tables = rows.Rows().Tables();
  std::vector<std::size_t> chosen;
  for (std::size_t i = 0; i < tables.size(); ++i) {
    if (tables[i].Owner == kCatalogOwner) report.CatalogFound = true;
    if (tables[i].Owner <= kLastSystemPage || tables[i].Name.rfind("MSys", 0) == 0) continue;
    // Pages with a data page's head but no row in them (random bytes that look like one, a
    // page torn from its rows) are no table anyone had: counted, not written.
    if (tables[i].LiveRows == 0 && tables[i].DeletedRows == 0) {
      ++report.TablesWithoutRows;
      continue;
    }
    chosen.push_back(i);
  }
  if (chosen.empty()) return report.TablesWithoutRows > 0;  // said, with no file
  report.TablesLeftOut = static_cast<std::int64_t>(KeepLargest(
      chosen, kMaxTablesWritten, [&](std::size_t i) { return tables[i].DataPages.size(); }));

  const std::string stem = options.OutputDir + options.Separator + report.Name;
  std::unique_ptr<TSqliteWriter> sqlite;
  if (options.WriteSqlite) {
    report.SqlitePath = stem + ".sqlite";
    sqlite = std::make_unique<TSqliteWriter>(
        fileSystem, SystemPathOf(fileSystem, report.SqlitePath), report.SqlitePath);
  }
  if (options.WriteCsv) {
    report.CsvFolder = stem;
    fileSystem.CreateFolder(SystemPathOf(fileSystem, stem));
  }
  std::set<std::string> used, csvNames;
  const TBeginPart begin = [&](const std::string& name,
                               const std::vector<TOutputColumn>& columns) {
    TBegunPart part;
    part.Name = UniqueName(SqliteTableName(name), used);
    if (sqlite) sqlite->BeginTable(part.Name, columns);
    if (options.WriteCsv) {
      part.CsvPath = report.CsvFolder + options.Separator + UniqueFileName(FileNameOf(part.Name), csvNames) + ".csv";
      part.Csv = std::make_unique<TCsvWriter>(fileSystem, SystemPathOf(fileSystem, part.CsvPath),
                                              part.CsvPath, columns);
    }
    return part;
  };
  std::int64_t done = 0;
  for (const std::size_t i : chosen) {
    if (progress.StopRequested()) break;
    TTableReport table;
    table.DefinitionPage = tables[i].Owner;
    table.NamedFromCatalog = !tables[i].Name.empty();
    table.Name = table.NamedFromCatalog ? tables[i].Name
                                        : "table-" + std::to_string(tables[i].Owner);
    progress.Progress("table " + table.Name, done++, static_cast<std::int64_t>(chosen.size()));
    if (const std::string written = SqliteTableName(table.Name); written != table.Name)
      table.NameChanges.push_back({"table", table.Name, written});
    WriteUntypedTable(rows, i, table.Name, sqlite.get(), begin, table);
    report.Tables.push_back(std::move(table));
  }
  if (sqlite) sqlite->Finish();
  return true;
}

}  // namespace quillon::recover
