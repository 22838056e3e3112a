#include "recover/table_writing.h"

#include <algorithm>
#include <array>

#include "core/errors.h"
#include "recover/row_values.h"
#include "recover/usage_maps.h"
#include "recover/xlsx_writer.h"

namespace quillon::recover {

std::string SystemPath(IFileSystem& fileSystem, const std::string& displayPath) {
  std::optional<std::string> path = fileSystem.FromDisplayText(displayPath);
  if (!path)
    throw EQuillonError("Cannot create file \"" + displayPath +
                        "\". The system's code page cannot hold its name.");
  return *path;
}

TTableWriter::TTableWriter(const TTableSources& sources, IFileSystem& fileSystem,
                           const TRecoveryOptions& options, TSqliteWriter* sqlite,
                           TXlsxWriter* xlsx, TDatabaseReport& report)
    : reader_(sources.Reader),
      entries_(sources.Entries),
      database_(sources.Database),
      placement_(sources.Placement),
      versions_(sources.Versions),
      longValuesChecked_(sources.LongValuesChecked),
      untyped_(sources.Untyped),
      fileSystem_(fileSystem),
      options_(options),
      sqlite_(sqlite),
      xlsx_(xlsx),
      report_(report) {}

template <class TPart>
void TTableWriter::Begin(TPart& part, bool& begun, const std::vector<TOutputColumn>& columns,
                         TTableReport& table) {
  begun = true;
  if (sqlite_) sqlite_->BeginTable(part.Name, columns);
  if (xlsx_) xlsx_->BeginTable(part.Name, columns);
  if constexpr (requires { part.Xlsx; }) part.Xlsx = xlsx_;
  if (options_.WriteCsv) {
    // Unique also where the folder's file system folds case in ways FileNameKey does not.
    std::string file = UniqueFileName(FileNameOf(part.Name), csvNames_);
    while (fileSystem_
               .Facts(SystemPath(fileSystem_,
                                 report_.CsvFolder + options_.Separator + file + ".csv"))
               .Kind != TPathKind::Missing)
      file = UniqueFileName(file, csvNames_);
    if (file != part.Name) table.NameChanges.push_back({"file", part.Name, file + ".csv"});
    part.CsvPath = report_.CsvFolder + options_.Separator + file + ".csv";
    part.Csv = std::make_unique<TCsvWriter>(fileSystem_, SystemPath(fileSystem_, part.CsvPath),
                                            part.CsvPath, columns);
  }
}

bool TTableWriter::Write(const TTablePlan& plan) {
  TTableReport table;
  table.Name = plan.Name;
  table.DefinitionPage = plan.Owner;
  table.Typed = plan.Definition.has_value();
  table.NamedFromCatalog = plan.NamedFromCatalog;
  table.LastUpdate = plan.DateUpdate;

  if (!plan.Definition) {
    // Untyped: the columns `rows` shows, its rows read as it reads them.
    if (const auto left = untyped_.RowsOfTwoVersions.find(plan.Owner);
        left != untyped_.RowsOfTwoVersions.end())
      table.RowsOfTwoVersions = left->second;
    const std::optional<std::size_t> read =
        untyped_.Rows ? untyped_.Rows->TableOf(plan.Owner) : std::nullopt;
    if (!read) {  // no row left: the table's columns are not known either
      const std::vector<TOutputColumn> columns = UntypedColumns(0);
      table.Columns = columns.size();
      for (const TOutputColumn& column : columns)
        table.ColumnList.push_back({column.Name, column.DeclaredType});
      TBegunPart part;
      part.Name = UniqueName(SqliteTableName(plan.Name), used_);
      bool begun = false;
      Begin(part, begun, columns, table);
      if (part.Csv) part.Csv->Finish();
      table.Parts.push_back({part.Name, part.CsvPath, 0});
    } else {
      WriteUntypedTable(
          *untyped_.Rows, *read, plan.Name, sqlite_,
          [&](const std::string& name, const std::vector<TOutputColumn>& columns) {
            TBegunPart part;
            part.Name = UniqueName(SqliteTableName(name), used_);
            bool begun = false;
            Begin(part, begun, columns, table);
            return part;
          },
          table);
    }
    report_.Tables.push_back(std::move(table));
    return true;
  }
  std::vector<std::string> columnNames;
  for (const TColumn& column : plan.Definition->Columns) columnNames.push_back(column.Name);
  MakeColumnNamesSqliteTakes(columnNames, table.NameChanges);
  std::vector<TOutputColumn> columns;
  for (std::size_t i = 0; i < columnNames.size(); ++i) {
    const TColumn& column = plan.Definition->Columns[i];
    const bool text = column.Type == TColumnType::Text || column.Type == TColumnType::Memo;
    columns.push_back({columnNames[i], DeclaredTypeOf(column), text});
  }
  table.Columns = columns.size();
  for (const TOutputColumn& column : columns)
    table.ColumnList.push_back({column.Name, column.DeclaredType});

  std::optional<std::set<std::uint32_t>> owned;
  // Out of order, a page's number is not always known, nor always right where a piece
  // ends short of the window its anchor numbers (the file's last piece: the next piece's
  // pages get numbers past the file's end, which no map lists). The map is read there only
  // from pages in place, and says stale only of pages in place; the others stay live.
  owned = TrustedUsageMap(reader_, entries_, database_, placement_, plan.Owner, *plan.Definition);

  // The pages its map lists that are not here as its own: their rows are missing.
  if (owned) {
    for (const std::uint32_t number : *owned) {
      const auto found = database_.Pages.find(number);
      if (found == database_.Pages.end() || entries_[found->second].Kind != TPageKind::Data ||
          entries_[found->second].Owner != plan.Owner)
        ++table.PagesMissing;
    }
  }

  // Live rows first, then each companion: one pass over the pages per kind, so that
  // each SQLite table is written whole before the next begins.
  struct TPart {
    std::string Name;
    std::unique_ptr<TCsvWriter> Csv;
    std::string CsvPath;
    std::int64_t Rows = 0;
  };
  std::array<TPart, 3> parts;
  const std::string sqliteName = SqliteTableName(plan.Name);
  if (sqliteName != plan.Name) table.NameChanges.push_back({"table", plan.Name, sqliteName});
  parts[0].Name = UniqueName(sqliteName, used_);
  parts[1].Name = UniqueName(sqliteName + " (deleted)", used_);
  parts[2].Name = UniqueName(sqliteName + " (stale)", used_);
  for (std::size_t part = 0; part < parts.size(); ++part) {
    bool begun = false;
    if (part == 0) Begin(parts[0], begun, columns, table);
    for (const auto& [number, index] : plan.Pages) {
      if (reader_.StopSeen()) break;
      const TPage page = *reader_.PageByIndex(index);
      const bool stale = IsStale(owned, number, placement_);
      const bool disputed = versions_.Disputed.contains(index);
      for (const TSlot& slot : SlotsOf(page)) {
        if (slot.End == 0 || slot.Flags == kSlotPointer) continue;
        if (disputed || versions_.Repeated.contains(index)) {
          if (part == 0 && disputed && slot.Flags != kSlotDeleted) ++table.RowsOfTwoVersions;
          continue;
        }
        const std::size_t kind = slot.Flags == kSlotDeleted ? 1 : stale ? 2 : 0;
        if (kind != part) continue;
        const auto bytes =
            std::span<const std::uint8_t>(page).subspan(slot.Start, slot.End - slot.Start);
        std::optional<std::vector<TValue>> decoded = DecodeRow(
            bytes, *plan.Definition,
            placement_.OutOfOrder && !longValuesChecked_.contains(plan.Owner)
                ? static_cast<const ILongValueRows&>(noLongValues_)
                : static_cast<const ILongValueRows&>(reader_));
        if (reader_.StopSeen()) break;  // its long values were not all looked for
        if (!decoded) {
          ++(part == 0 ? table.UnreadableRows : table.UnreadableRowsKeptApart);
          continue;
        }
        std::vector<TValue> values = std::move(*decoded);
        if (part == 0) {
          ++table.Rows;
          table.Values += static_cast<std::int64_t>(values.size());
          for (const TValue& value : values)
            table.ValuesNotFound += value.Kind == TValue::TKind::NotFound ? 1 : 0;
        } else if (part == 1) {
          ++table.DeletedRows;
        } else {
          ++table.StaleRows;
        }
        if (!begun) Begin(parts[part], begun, columns, table);
        ++parts[part].Rows;
        if (sqlite_) sqlite_->Insert(values);
        if (parts[part].Csv) parts[part].Csv->Row(values);
        if (xlsx_) xlsx_->Insert(values);
      }
    }
    if (parts[part].Csv) parts[part].Csv->Finish();
    if (begun) table.Parts.push_back({parts[part].Name, parts[part].CsvPath, parts[part].Rows});
  }
  // The row count the definition keeps: in every file measured, whole, it was never above
  // the rows read (deleted and stale rows apart), so rows it counts beyond them are missing.
  // It can lag behind the other way: more rows than it counts say nothing.
  table.RowsMissing = std::max<std::int64_t>(
      0, static_cast<std::int64_t>(plan.Definition->StoredRowCount) - table.Rows -
             table.UnreadableRows);
  report_.Tables.push_back(std::move(table));
  return owned.has_value();
}

}  // namespace quillon::recover
