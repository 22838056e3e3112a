#include "recover/recovery_report.h"

#include <nlohmann/json.hpp>

#include "recover/catalog_accounting.h"
#include "core/utf8_text.h"
#include "recover/recovery.h"

namespace quillon::recover {
namespace {

std::string Count(std::int64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// A name is shown in double quotes; a NUL in it as "\0", so that the line stays one line.
std::string Quoted(const std::string& name) {
  std::string text = "\"";
  for (const char c : name) {
    if (c == '\0') text += "\\0";
    else text.push_back(c);
  }
  return text + "\"";
}

std::string OffsetText(std::int64_t offset) {
  return offset < 0 ? std::string("unknown") : std::to_string(offset);
}

}  // namespace

std::string NameChangeText(const TNameChange& change) {
  return change.Kind + " " + Quoted(change.Original) + " written as " + Quoted(change.Written);
}

std::int64_t TablesNotWritten(const TRecoveryReport& report) {
  std::int64_t failed = 0;
  for (const TDatabaseReport& database : report.Databases) {
    for (const TTableReport& table : database.Tables) failed += table.Failure.empty() ? 0 : 1;
  }
  return failed;
}

std::string RecoveryReportText(const TRecoveryReport& report) {
  std::string text;
  std::int64_t tables = 0, rows = 0, notFound = 0, deleted = 0, stale = 0, lost = 0,
               partial = 0;
  for (const TDatabaseReport& database : report.Databases) {
    if (database.Unplaced) {
      text += database.Name + ": " + Count(database.Pages, "data page", "data pages") +
              " from offset " + OffsetText(database.FirstPageOffset) + " to " +
              OffsetText(database.LastPageOffset) + " that no database could be placed for\n";
      if (database.PagesSetApartRead > 0)
        text += "  " + Count(database.PagesSetApartRead, "of them was", "of them were") +
                " set apart by a database as none of its own (see that database)\n";
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
    if (!database.CopyOf.empty())
      text += "  an older copy of " + database.CopyOf +
              ": its pages hold the same page numbers as that database's, with rows of their "
              "own" +
              (database.NewerBecause.empty()
                   ? std::string("; which of the two is newer is not known\n")
                   : "; " + database.CopyOf + " is the newer: " + database.NewerBecause + "\n");
    for (std::size_t k = 0; k < database.OlderCopies.size(); ++k) {
      const std::string& why = OlderCopyBecause(database, k);
      text += "  older copy found: " + database.OlderCopies[k] + ", written apart" +
              (why.empty() ? std::string("\n") : "; this one is the newer: " + why + "\n");
    }
    for (const TPagesSetApart& apart : database.PagesSetApart)
      text += "  " + Count(apart.Pages, "page", "pages") + " from offset " +
              OffsetText(apart.FirstOffset) + " to " + OffsetText(apart.LastOffset) +
              " found among its own set apart: " +
              (apart.Database.empty() ? std::string("they are none of its own\n")
                                      : "they are " + apart.Database + "'s\n");
    if (!database.CatalogFound) text += "  no catalog found: tables are named by their pages\n";
    if (!database.InOrder)
      text += "  its pages do not all lie where their numbers and usage maps say (pieces moved "
              "about?): they were numbered from what is certain, and stale rows cannot be told "
              "apart and stay among the live ones\n";
    else if (database.PiecesPlaced)
      text += "  some of its pages lie away from their numbers' places (pieces moved about): "
              "they were placed at their numbers by what they say\n";
    if (database.InOrder && !database.UsageMapsRead && !database.Unplaced)
      text += "  some usage maps are lost: stale rows of those tables cannot be told apart\n";
    if (database.PageNumbersDisputed > 0)
      text += "  " + Count(database.PageNumbersDisputed, "page number is", "page numbers are") +
              " held by two versions of a page with other rows (an older copy of the database "
              "among its pages?): the rows of both are left out\n";
    if (database.TablesTypedFromOtherCopies > 0)
      text += "  " + Count(database.TablesTypedFromOtherCopies, "table", "tables") +
              " read with the definition the database's other copies agree on (its own "
              "definition page was not found): its rows all have that definition's shape\n";
    if (database.TablesLeftOut > 0)
      text += "  " + Count(database.TablesLeftOut, "more table", "more tables") +
              " with the fewest pages left out: no more than " +
              std::to_string(kMaxTablesWritten) + " tables are written for one database\n";
    if (database.TablesWithoutRows > 0)
      text += "  " + Count(database.TablesWithoutRows, "table", "tables") +
              " without a single row left out: pages that look like a table's but hold no row\n";
    if (!database.SqlitePath.empty()) text += "  " + database.SqlitePath + "\n";
    if (!database.CsvFolder.empty()) {
      // Ended as a folder with the separator its path already uses.
      const bool windows = database.CsvFolder.find('\\') != std::string::npos;
      text += "  " + database.CsvFolder + (windows ? "\\\n" : "/\n");
    }
    if (!database.XlsxPath.empty()) text += "  " + database.XlsxPath + "\n";
    for (const TTableReport& table : database.Tables) {
      if (table.State == TTableState::Lost) {
        ++lost;
        text += "  " + table.Name + ": lost: the catalog lists it, but no page of it was found\n";
        continue;
      }
      ++tables;
      partial += table.State == TTableState::Partial ? 1 : 0;
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
      if (table.RowsOfTwoVersions > 0)
        text += ", " + Count(table.RowsOfTwoVersions, "row", "rows") +
                " of pages found in two versions left out";
      if (table.DeletedRows > 0)
        text += ", " + std::to_string(table.DeletedRows) + " deleted kept apart";
      if (table.StaleRows > 0) text += ", " + std::to_string(table.StaleRows) + " stale kept apart";
      if (table.UnreadableRowsKeptApart > 0)
        text += ", " +
                Count(table.UnreadableRowsKeptApart, "deleted or stale row",
                      "deleted or stale rows") +
                " unreadable";
      if (table.State == TTableState::Partial) {
        text += "; partly recovered";
        if (table.PagesMissing > 0)
          text += ": " + Count(table.PagesMissing, "page", "pages") + " of it not found";
        if (table.RowsMissing > 0)
          text += ", " + Count(table.RowsMissing, "row", "rows") + " missing";
        if (table.ValuesMissing > 0)
          text += ", " + Count(table.ValuesMissing, "value", "values") + " missing";
      }
      text += "\n";
      for (const TNameChange& change : table.NameChanges)
        text += "    " + NameChangeText(change) + "\n";
      if (!table.Failure.empty()) text += "    not written whole: " + table.Failure + "\n";
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
  if (lost > 0 || partial > 0)
    text += "Not complete: " + Count(lost, "table", "tables") +
            " the catalog lists lost, " + Count(partial, "table", "tables") +
            " partly recovered\n";
  text += Count(report.PagesInStore, "page", "pages") + " read: " +
          std::to_string(report.PagesInDatabases) + " in databases, " +
          std::to_string(report.PagesSetApart) +
          " set apart by a database as none of its own, " +
          std::to_string(report.PagesUnplaced) + " tied to no database\n";
  if (report.PagesUnplaced > 0)
    text += std::to_string(report.PagesUnplaced) + " of " + std::to_string(report.PagesInStore) +
            " pages belong to no database found" +
            (unplaced ? std::string(": their tables are under \"unplaced\", untyped\n")
                      : std::string("\n"));
  if (!report.OffsetsKnown)
    text += "The pages' offsets on the source are not known: without them no table can be typed\n";
  if (report.Stopped) text += "Stopped: the files hold what was decoded until then\n";
  if (const std::int64_t failed = TablesNotWritten(report); failed > 0)
    text += Count(failed, "table", "tables") + " could not be written whole (see above)\n";
  return text;
}

nlohmann::json RecoveryReportJson(const TRecoveryReport& report) {
  nlohmann::json databases = nlohmann::json::array();
  for (const TDatabaseReport& database : report.Databases) {
    nlohmann::json tables = nlohmann::json::array();
    for (const TTableReport& table : database.Tables) {
      nlohmann::json renamed = nlohmann::json::array();
      for (const TNameChange& change : table.NameChanges)
        renamed.push_back(
            {{"kind", change.Kind}, {"original", change.Original}, {"written", change.Written}});
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
           {"unreadable_rows_kept_apart", table.UnreadableRowsKeptApart},
           {"moved_rows_not_tied", table.MovedRowsNotTied},
           {"rows_of_two_versions", table.RowsOfTwoVersions},
           {"deleted_rows", table.DeletedRows},
           {"stale_rows", table.StaleRows},
           {"state", TableStateName(table.State)},
           {"rows_missing", table.RowsMissing},
           {"pages_missing", table.PagesMissing},
           {"values_missing", table.ValuesMissing},
           {"last_update",
            table.LastUpdate.empty() ? nlohmann::json() : nlohmann::json(RepairedUtf8(table.LastUpdate))},
           {"renamed", renamed},
           {"failure", table.Failure.empty() ? nlohmann::json() : nlohmann::json(RepairedUtf8(table.Failure))}});
    }
    nlohmann::json older = nlohmann::json::array();
    nlohmann::json olderBecause = nlohmann::json::array();
    for (std::size_t k = 0; k < database.OlderCopies.size(); ++k) {
      older.push_back(RepairedUtf8(database.OlderCopies[k]));
      const std::string& why = OlderCopyBecause(database, k);
      olderBecause.push_back(why.empty() ? nlohmann::json() : nlohmann::json(RepairedUtf8(why)));
    }
    nlohmann::json apart = nlohmann::json::array();
    for (const TPagesSetApart& pages : database.PagesSetApart)
      apart.push_back({{"database", pages.Database.empty() ? nlohmann::json()
                                                           : nlohmann::json(RepairedUtf8(pages.Database))},
                       {"pages", pages.Pages},
                       {"first_page_offset", pages.FirstOffset},
                       {"last_page_offset", pages.LastOffset}});
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
         {"pages_set_apart_read", database.PagesSetApartRead},
         {"catalog_found", database.CatalogFound},
         {"usage_maps_read", database.UsageMapsRead},
         {"pages_in_order", database.InOrder},
         {"pieces_placed", database.PiecesPlaced},
         {"page_numbers_disputed", database.PageNumbersDisputed},
         {"tables_typed_from_other_copies", database.TablesTypedFromOtherCopies},
         {"last_update",
          database.LastUpdate.empty() ? nlohmann::json() : nlohmann::json(RepairedUtf8(database.LastUpdate))},
         {"copy_of",
          database.CopyOf.empty() ? nlohmann::json() : nlohmann::json(RepairedUtf8(database.CopyOf))},
         {"older_copies", older},
         {"older_copies_newer_because", olderBecause},
         {"newer_because", database.NewerBecause.empty()
                               ? nlohmann::json()
                               : nlohmann::json(RepairedUtf8(database.NewerBecause))},
         {"pages_set_apart", apart},
         {"sqlite", RepairedUtf8(database.SqlitePath)},
         {"csv_folder", RepairedUtf8(database.CsvFolder)},
         {"xlsx", RepairedUtf8(database.XlsxPath)},
         {"tables_left_out", database.TablesLeftOut},
         {"tables_without_rows_left_out", database.TablesWithoutRows},
         {"tables", tables}});
  }
  // Where the pages read went, each counted once: the count of pages set apart is named
  // apart from each database's list of them (`pages_set_apart`).
  return {{"pages", report.PagesInStore},
          {"pages_in_databases", report.PagesInDatabases},
          {"pages_set_apart_by_databases", report.PagesSetApart},
          {"pages_unplaced", report.PagesUnplaced},
          {"offsets_known", report.OffsetsKnown},
          {"stopped", report.Stopped},
          {"tables_not_written", TablesNotWritten(report)},
          {"databases", databases}};
}

}  // namespace quillon::recover
