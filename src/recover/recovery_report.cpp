#include "recover/recovery_report.h"

#include <nlohmann/json.hpp>

#include "core/utf8_text.h"
#include "recover/recovery.h"

namespace quillon::recover {
namespace {

std::string Count(std::int64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string OffsetText(std::int64_t offset) {
  return offset < 0 ? std::string("unknown") : std::to_string(offset);
}

}  // namespace

std::string RecoveryReportText(const TRecoveryReport& report) {
  std::string text;
  std::int64_t tables = 0, rows = 0, notFound = 0, deleted = 0, stale = 0;
  for (const TDatabaseReport& database : report.Databases) {
    if (database.Unplaced) {
      text += database.Name + ": " + Count(database.Pages, "data page", "data pages") +
              " from offset " + OffsetText(database.FirstPageOffset) + " to " +
              OffsetText(database.LastPageOffset) + " that no database could be placed for\n";
      text += "  untyped: no database header or table definitions could be placed for these "
              "pages; their rows are given as quillon-cli rows gives them (row, state, fixed, "
              "var1 ... varN, notes), and stale rows cannot be told apart\n";
    } else {
      text += database.Name + ": pages from offset " + OffsetText(database.FirstPageOffset) +
              " to " + OffsetText(database.LastPageOffset) + " (" +
              std::to_string(database.Pages) + " pages, page 0 at " +
              OffsetText(database.BaseOffset) + ")";
      text += database.LastUpdate.empty() ? std::string(", last change unknown\n")
                                          : ", tables last changed " + database.LastUpdate + "\n";
    }
    if (!database.CatalogFound) text += "  no catalog found: tables are named by their pages\n";
    if (!database.InOrder)
      text += "  its pages do not all lie where their numbers and usage maps say (pieces moved "
              "about?): they were numbered from what is certain, and stale rows cannot be told "
              "apart and stay among the live ones\n";
    else if (!database.UsageMapsRead && !database.Unplaced)
      text += "  some usage maps are lost: stale rows of those tables cannot be told apart\n";
    if (!database.SqlitePath.empty()) text += "  " + database.SqlitePath + "\n";
    if (!database.CsvFolder.empty()) text += "  " + database.CsvFolder + "/\n";
    for (const TTableReport& table : database.Tables) {
      ++tables;
      rows += table.Rows;
      notFound += table.ValuesNotFound;
      deleted += table.DeletedRows;
      stale += table.StaleRows;
      text += "  " + table.Name + ": " + Count(table.Rows, "row", "rows") + ", " +
              Count(static_cast<std::int64_t>(table.Columns), "column", "columns") +
              (table.Typed || database.Unplaced
                   ? ""
                   : " (untyped: no definition; columns as quillon-cli rows gives them)");
      if (table.ValuesNotFound > 0)
        text += ", " + Count(table.ValuesNotFound, "value", "values") + " not found (NULL)";
      if (table.UnreadableRows > 0)
        text += ", " + Count(table.UnreadableRows, "row", "rows") + " unreadable";
      if (table.MovedRowsNotTied > 0)
        text += ", " + Count(table.MovedRowsNotTied, "moved row", "moved rows") +
                " whose data is not tied to it for certain";
      if (table.DeletedRows > 0)
        text += ", " + std::to_string(table.DeletedRows) + " deleted kept apart";
      if (table.StaleRows > 0) text += ", " + std::to_string(table.StaleRows) + " stale kept apart";
      text += "\n";
    }
  }
  std::int64_t databases = 0;
  bool unplaced = false;
  for (const TDatabaseReport& database : report.Databases) {
    databases += database.Unplaced ? 0 : 1;
    unplaced |= database.Unplaced;
  }
  text += Count(databases, "database", "databases") +
          (unplaced ? std::string(" and the unplaced pages") : std::string()) + ", " +
          Count(tables, "table", "tables") + ", " + Count(rows, "row", "rows") + ", " +
          Count(notFound, "value", "values") +
          " not found; kept apart: " + Count(deleted, "deleted row", "deleted rows") + ", " +
          Count(stale, "stale row", "stale rows") + "\n";
  if (report.PagesUnplaced > 0)
    text += std::to_string(report.PagesUnplaced) + " of " + std::to_string(report.PagesInStore) +
            " pages belong to no database found" +
            (unplaced ? std::string(": their tables are under \"unplaced\", untyped\n")
                      : std::string("\n"));
  if (!report.OffsetsKnown)
    text += "The pages' offsets on the source are not known: without them no table can be typed\n";
  if (report.Stopped) text += "Stopped: the files hold what was decoded until then\n";
  return text;
}

nlohmann::json RecoveryReportJson(const TRecoveryReport& report) {
  nlohmann::json databases = nlohmann::json::array();
  for (const TDatabaseReport& database : report.Databases) {
    nlohmann::json tables = nlohmann::json::array();
    for (const TTableReport& table : database.Tables) {
      tables.push_back(
          {{"name", RepairedUtf8(table.Name)},
           {"definition_page", table.DefinitionPage},
           {"typed", table.Typed},
           {"named_from_catalog", table.NamedFromCatalog},
           {"columns", table.Columns},
           {"rows", table.Rows},
           {"values", table.Values},
           {"values_not_found", table.ValuesNotFound},
           {"unreadable_rows", table.UnreadableRows},
           {"moved_rows_not_tied", table.MovedRowsNotTied},
           {"deleted_rows", table.DeletedRows},
           {"stale_rows", table.StaleRows},
           {"last_update",
            table.LastUpdate.empty() ? nlohmann::json() : nlohmann::json(RepairedUtf8(table.LastUpdate))}});
    }
    databases.push_back(
        {{"name", RepairedUtf8(database.Name)},
         {"unplaced", database.Unplaced},
         {"untyped_reason",
          database.Unplaced ? nlohmann::json("no database header or table definitions could be "
                                             "placed for these pages")
                            : nlohmann::json()},
         {"base_offset", database.BaseOffset},
         {"first_page_offset", database.FirstPageOffset},
         {"last_page_offset", database.LastPageOffset},
         {"pages", database.Pages},
         {"catalog_found", database.CatalogFound},
         {"usage_maps_read", database.UsageMapsRead},
         {"pages_in_order", database.InOrder},
         {"last_update",
          database.LastUpdate.empty() ? nlohmann::json() : nlohmann::json(RepairedUtf8(database.LastUpdate))},
         {"sqlite", RepairedUtf8(database.SqlitePath)},
         {"csv_folder", RepairedUtf8(database.CsvFolder)},
         {"tables", tables}});
  }
  return {{"pages", report.PagesInStore},
          {"pages_unplaced", report.PagesUnplaced},
          {"offsets_known", report.OffsetsKnown},
          {"stopped", report.Stopped},
          {"databases", databases}};
}

}  // namespace quillon::recover
