#include "recover/recovery.h"

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <unordered_set>

#include "core/errors.h"
#include "jet/catalog.h"
#include "recover/catalog_accounting.h"
#include "recover/catalog_reading.h"
#include "recover/copy_membership.h"
#include "recover/database_layout.h"
#include "recover/database_reader.h"
#include "recover/definition_chain.h"
#include "recover/numbering_check.h"
#include "recover/newest_versions.h"
#include "recover/older_copies.h"
#include "recover/page_order.h"
#include "recover/page_placement.h"
#include "recover/page_renumbering.h"
#include "recover/page_versions.h"
#include "recover/pages_set_apart.h"
#include "recover/recovery_report.h"
#include "recover/row_fit.h"
#include "recover/table_definition.h"
#include "recover/table_output.h"
#include "recover/table_plan.h"
#include "recover/table_writing.h"
#include "recover/untyped_table_reading.h"
#include "recover/untyped_tables.h"
#include "recover/usage_maps.h"
#include "recover/xlsx_writer.h"

namespace quillon::recover {
namespace {

// The recovery of one database told apart on the source: its pages numbered (again, where
// they lie out of order), its catalog read, its tables planned and written.
class TDatabaseRecovery {
 public:
  TDatabaseRecovery(const IPageStore& store, const std::vector<TPageEntry>& entries,
                    const TDatabasePages& database, IFileSystem& fileSystem,
                    const TRecoveryOptions& options, IRecoveryProgress& progress,
                    TDatabaseReport& report)
      : store_(store),
        entries_(entries),
        database_(database),
        reader_(store, entries, database_, progress),
        fileSystem_(fileSystem),
        options_(options),
        progress_(progress),
        report_(report) {}

  // Numbers the pages, reads the catalog and plans the tables; false when a stop came first
  // (Stopped() tells).
  bool Plan() {
    try {
      plans_ = ReadTables();
    } catch (const TDecodingStopped&) {
      stopped_ = true;
      return false;
    }
    return true;
  }

  // The database was found in several copies: `others` are the other copies' pages, each
  // numbered from its own base; `newest`: this copy is the newest of them. Asked before
  // Plan().
  void SetOtherCopies(std::vector<const TDatabasePages*> others, bool newest) {
    others_ = std::move(others);
    newest_ = newest;
  }

  // The tables planned, for the other copies of the database.
  const std::vector<TTablePlan>& Plans() const { return plans_; }

  // Its tables without a definition take the one the other copies' same tables have, where
  // they agree and its rows have exactly that shape (see DefinitionsFromOtherCopies).
  void TakeDefinitionsFrom(const std::vector<const std::vector<TTablePlan>*>& others) {
    if (stopped_) return;
    try {
      report_.TablesTypedFromOtherCopies = static_cast<std::int64_t>(DefinitionsFromOtherCopies(
          plans_, others, [&](const TTablePlan& plan, const TTableDefinition& definition) {
            return FitsExactly(reader_, plan, definition);
          }));
    } catch (const TDecodingStopped&) {
      stopped_ = true;
    }
  }

  // Where its own catalog was not found, its tables take the names other copies' catalogs give
  // them (see NameFromOtherCopies). A table that a catalog found does not list was dropped
  // from it: another copy's name for it would show it as one of this copy's tables.
  void TakeNamesFrom(const std::vector<std::vector<TNamedTable>>& others) {
    if (!report_.CatalogFound) NameFromOtherCopies(plans_, others);
  }

  // Writes the tables planned; false when it gave no table, or when a stop came before its
  // first table was written (Stopped() tells).
  bool Write() {
    if (stopped_ || plans_.empty()) return false;
    if (otherCopy_) NameFromOtherCopy(plans_, *otherCopy_, droppedInOther_);
    return WriteTables(plans_);
  }

  bool Stopped() const { return stopped_ || reader_.StopSeen(); }

  // The store indices of the pages read as this database's (its tables and long values).
  std::vector<std::size_t> PagesUsed() const {
    std::vector<std::size_t> used;
    for (const auto& [number, index] : database_.Pages) used.push_back(index);
    return used;
  }

  // A copy of the database whose report is `other` (written before it): its tables that its
  // own catalog does not name take the names of the other copy's same tables.
  // `dropped`: the tables the other copy's catalog names no more (see DroppedTables).
  void NameTablesAfter(const TDatabaseReport& other,
                       const std::map<std::uint32_t, std::string>& dropped) {
    otherCopy_ = &other;
    droppedInOther_ = dropped;
  }

  // The tables its catalog names no more, by their definition pages (DroppedTableNames).
  const std::map<std::uint32_t, std::string>& DroppedTables() const { return dropped_; }

  // The store indices of the pages found among its own that it set apart as none of its own.
  const std::vector<std::size_t>& PagesSetApart() const { return setApart_; }

 private:
  // Numbers the pages, reads the catalog and plans the tables.
  std::vector<TTablePlan> ReadTables() {
    report_.BaseOffset = database_.Base;
    report_.FirstPageOffset = database_.FirstOffset;
    report_.LastPageOffset = database_.LastOffset;
    report_.Pages = static_cast<std::int64_t>(database_.Pages.size());
    if (NumberingHolds(reader_, entries_, database_)) {
      if (!database_.Certain.empty()) {
        report_.PiecesPlaced = true;
        NumberMovedPiecesFromAnchors();
      }
      // In order: pages before its page 0 (and pages that anchors took the places of) are
      // none of its own.
      for (const auto& [number, index] : database_.Pages) {
        if (number >= kUnnumberedPage) setApart_.push_back(index);
      }
      std::erase_if(database_.Pages,
                    [](const auto& page) { return page.first >= kUnnumberedPage; });
    } else {
      placement_.OutOfOrder = true;
      report_.InOrder = false;
      const TDatabasePages grid = database_;
      renumbering_ = Renumber(reader_, entries_, database_, OtherCopiesPages());
      placement_.InPlace = NumbersInPlace(grid, database_);
      versions_ = FindPageVersions(entries_, grid, database_, [&](std::size_t index) {
        return LiveRowsOf(*reader_.PageByIndex(index));
      });
      report_.PageNumbersDisputed = static_cast<std::int64_t>(versions_.NumbersDisputed);
    }
    // Among copies of one database, a page whose copy is not certain would give another
    // copy's rows (rows deleted since shown as live, or rows twice): it is set apart, and
    // read untyped with the pages no database took.
    if (!others_.empty()) {
      const std::vector<std::size_t> uncertain = PagesOfUncertainCopy(
          entries_, database_, others_,
          {[&](std::size_t index) { return LiveRowsOf(*reader_.PageByIndex(index)); },
           [&](std::size_t index) { return DeletedRowsOf(*reader_.PageByIndex(index)); }},
          newest_);
      const std::set<std::size_t> apart(uncertain.begin(), uncertain.end());
      std::erase_if(database_.Pages, [&](const auto& page) { return apart.contains(page.second); });
      setApart_.insert(setApart_.end(), uncertain.begin(), uncertain.end());
    }
    progress_.Progress("reading the catalog of " + report_.Name, 0, 1);
    std::optional<TTableDefinition> catalogDefinition =
        DefinitionAt(reader_, entries_, database_, jet::kCatalogOwner);
    const std::optional<std::set<std::uint32_t>> catalogPages =
        catalogDefinition ? TrustedUsageMap(reader_, entries_, database_, placement_,
                                            jet::kCatalogOwner, *catalogDefinition)
                          : std::nullopt;
    const std::map<std::uint32_t, TCatalogEntry> catalog = ReadCatalog(
        reader_, entries_, database_,
        catalogDefinition ? *catalogDefinition : BuiltInCatalogDefinition(),
        [&](std::uint32_t number) { return IsStale(catalogPages, number, placement_); });
    report_.CatalogFound = !catalog.empty();
    // Among copies, the newest one's deleted catalog rows can name an older copy's tables.
    if (!others_.empty() && newest_ && catalogDefinition)
      dropped_ = DroppedTableNames(
          reader_, entries_, database_, *catalogDefinition, catalog,
          [&](std::uint32_t number) { return IsStale(catalogPages, number, placement_); });
    catalogTables_ = CatalogTables(catalog);
    std::vector<std::size_t> notTheirs;  // unnumbered pages no table here fits
    std::vector<TTablePlan> plans = PlanTables(reader_, entries_, database_, catalog,
                                               renumbering_.ShapeTies, report_.CatalogFound,
                                               &notTheirs);
    if (!notTheirs.empty()) {
      const std::set<std::size_t> apart(notTheirs.begin(), notTheirs.end());
      std::erase_if(database_.Pages,
                    [&](const auto& page) { return apart.contains(page.second); });
      setApart_.insert(setApart_.end(), notTheirs.begin(), notTheirs.end());
    }
    return plans;
  }


  // A database judged in order of which evidence found pieces elsewhere lies in pieces:
  // the pages that position alone numbered beside its own can be further pieces of it, at
  // other numbers than their places say (a piece written after a neighbour's, or after a
  // piece of its own that lies before its page 0). Anchors number them as for a database
  // out of order; its place numbers only a page that anchors leave unnumbered, where no
  // anchored page took that number.
  void NumberMovedPiecesFromAnchors() {
    const TDatabasePages grid = database_;
    // Its ties serve reading out of order only.
    Renumber(reader_, entries_, database_, OtherCopiesPages());
    NumberLeftByPlace(database_, grid);
    database_.Certain = grid.Certain;
  }

  // The store indices of the pages of the database's other copies.
  std::unordered_set<std::size_t> OtherCopiesPages() const {
    std::unordered_set<std::size_t> pages;
    for (const TDatabasePages* other : others_) {
      for (const auto& [number, index] : other->Pages) pages.insert(index);
    }
    return pages;
  }

  bool WriteTables(std::vector<TTablePlan>& plans) {
    const std::size_t leftOut = KeepLargest(
        plans, kMaxTablesWritten, [](const TTablePlan& plan) { return plan.Pages.size(); });
    report_.TablesLeftOut = static_cast<std::int64_t>(leftOut);
    const std::string stem = options_.OutputDir + options_.Separator + report_.Name;
    // Declared so that they close in this order: the SQLite file, the workbook, then the
    // untyped rows' temporary file.
    TUntypedTables untyped;
    std::unique_ptr<TXlsxWriter> xlsx;  // the workbook, where one is written
    std::unique_ptr<TSqliteWriter> sqlite;
    if (options_.WriteSqlite) {
      report_.SqlitePath = stem + ".sqlite";
      sqlite = std::make_unique<TSqliteWriter>(
          fileSystem_, SystemPath(fileSystem_, report_.SqlitePath), report_.SqlitePath);
    }
    if (options_.WriteCsv) {
      report_.CsvFolder = stem;
      fileSystem_.CreateFolder(SystemPath(fileSystem_, stem));
    }
    if (options_.WriteXlsx) {
      report_.XlsxPath = stem + ".xlsx";
      xlsx = std::make_unique<TXlsxWriter>(
          fileSystem_, SystemPath(fileSystem_, report_.XlsxPath), report_.XlsxPath);
    }
    untyped = ReadUntypedTables(
        store_, reader_, entries_, database_, plans, versions_, fileSystem_,
        options_.OutputDir + options_.Separator + report_.Name + ".pages.tmp", progress_,
        report_.Name);
    reader_.QuietStops();
    TTableWriter writer({reader_, entries_, database_, placement_, versions_,
                         renumbering_.LongValuesChecked, untyped},
                        fileSystem_, options_, sqlite.get(), xlsx.get(), report_);
    std::int64_t done = 0;
    bool usageMapsRead = true;
    for (TTablePlan& plan : plans) {
      if (reader_.StopSeen() || progress_.StopRequested()) {
        stopped_ = true;
        break;
      }
      progress_.Progress("table " + plan.Name, done++, static_cast<std::int64_t>(plans.size()));
      // A table the output refuses costs only itself; a database file that can take no
      // more costs them all.
      try {
        usageMapsRead &= writer.Write(plan);
      } catch (const EQuillonError& error) {
        if (sqlite && sqlite->Broken()) throw;
        TTableReport failed;
        failed.Name = plan.Name;
        failed.DefinitionPage = plan.Owner;
        failed.Typed = plan.Definition.has_value();
        failed.NamedFromCatalog = plan.NamedFromCatalog;
        failed.Failure = error.what();
        report_.Tables.push_back(std::move(failed));
      }
    }
    report_.UsageMapsRead = usageMapsRead;
    if (!stopped_) AccountForCatalog(catalogTables_, report_);
    if (sqlite) sqlite->Finish();
    if (xlsx) xlsx->Finish();
    for (const TTableReport& table : report_.Tables) {
      report_.LastUpdate = std::max(report_.LastUpdate, table.LastUpdate);
    }
    return true;
  }

  const IPageStore& store_;
  const std::vector<TPageEntry>& entries_;
  TDatabasePages database_;  // renumbered from anchors when its pages lie out of order
  TDatabaseReader reader_;
  TPlacement placement_;
  std::vector<std::size_t> setApart_;  // pages found among its own that are none of its own
  std::vector<const TDatabasePages*> others_;  // the database's other copies, if any
  bool newest_ = false;                        // the newest of its copies
  const TDatabaseReport* otherCopy_ = nullptr;  // the other copy, written before it
  std::map<std::uint32_t, std::string> dropped_;  // see DroppedTables
  std::map<std::uint32_t, std::string> droppedInOther_;  // the other copy's
  std::vector<TTablePlan> plans_;               // the tables to write
  // Out of order: pages of which another version was found (an older copy's), left unread.
  TPageVersions versions_;
  // Out of order: the definitions tied by shape and the tables whose long values are read.
  TRenumbering renumbering_;
  IFileSystem& fileSystem_;
  const TRecoveryOptions& options_;
  IRecoveryProgress& progress_;
  TDatabaseReport& report_;
  bool stopped_ = false;
  // The user tables the catalog lists, read with the tables' plans, accounted for at the end.
  std::vector<TCatalogTable> catalogTables_;
};

// Where the first of a database's copies is known newer than every other, it takes its
// versions of pages lying among the other copies' pieces (see GiveNewestVersions).
void GiveNewestVersionsToNewestCopies(const IPageStore& pages,
                                      const std::vector<TPageEntry>& entries,
                                      std::vector<TCopiesOfDatabase>& groups,
                                      IRecoveryProgress& progress) {
  TPage page{};
  const auto rowsOf = [&](std::size_t index, bool live) {
    pages.Read(index, page);
    return live ? LiveRowsOf(page) : DeletedRowsOf(page);
  };
  for (TCopiesOfDatabase& group : groups) {
    if (group.Copies.size() < 2) continue;
    std::vector<TDatabasePages*> copies;
    bool known = true;
    for (TDatabaseCopy& copy : group.Copies) {
      copies.push_back(&copy.Pages);
      known = known &&
              (&copy == &group.Copies.front() || copy.Reason.Evidence != TNewerEvidence::None);
    }
    if (!known) continue;
    // The newest copy's usage map of a table, where it lists one page only.
    // Read quietly: a stop asked for meanwhile is seen by the copies' own reading after this.
    TDatabaseReader reader(pages, entries, *copies.front(), progress);
    reader.QuietStops();
    const auto onlyListed = [&](std::uint32_t owner) -> std::optional<std::uint32_t> {
      const std::optional<TTableDefinition> definition =
          DefinitionAt(reader, entries, *copies.front(), owner);
      if (!definition) return std::nullopt;
      const std::optional<std::set<std::uint32_t>> listed =
          UsageMapOf(reader, entries, *copies.front(), definition->UsageMapPointer);
      if (!listed || listed->size() != 1) return std::nullopt;
      return *listed->begin();
    };
    GiveNewestVersions(entries, copies,
                       {[&](std::size_t index) { return rowsOf(index, true); },
                        [&](std::size_t index) { return rowsOf(index, false); }},
                       onlyListed);
  }
}

}  // namespace

TRecoveryReport RecoverDatabases(const IPageStore& pages, IFileSystem& fileSystem,
                                 const TRecoveryOptions& options, IRecoveryProgress& progress) {
  TRecoveryReport report;
  report.OffsetsKnown = pages.HasOffsets();
  report.PagesInStore = static_cast<std::int64_t>(pages.Count());
  std::vector<TPageEntry> entries(pages.Count());
  for (std::size_t i = 0; i < entries.size(); ++i) entries[i] = pages.Entry(i);

  progress.Progress("tying definitions", 0, static_cast<std::int64_t>(entries.size()));
  std::vector<TFoundDefinition> definitions;
  TPage page{};
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].Kind != TPageKind::Definition || entries[i].SourceOffset < 0) continue;
    pages.Read(i, page);
    TFoundDefinition found;
    found.Index = i;
    found.Offset = entries[i].SourceOffset;
    const TDefinitionResult parsed = ParseTableDefinition(page);
    if (parsed.Status == TDefinitionParse::Invalid) continue;
    if (parsed.Definition) found.SystemPage = SystemDefinitionPage(*parsed.Definition);
    definitions.push_back(found);
  }
  const std::vector<TDatabasePages> databases = PlaceDatabasePages(
      pages, entries, definitions, [&progress] { return progress.StopRequested(); });
  std::vector<bool> used(entries.size(), false);  // pages a database was written from
  // Per report written: the pages it was written from, and those it set apart.
  std::vector<std::vector<std::size_t>> usedPages, setApart;
  // Older copies among a database's pages, and databases that are copies of one another,
  // are written as databases of their own, after the newest.
  progress.Progress("telling copies apart", 0, static_cast<std::int64_t>(databases.size()));
  std::vector<TCopiesOfDatabase> groups;
  for (const TDatabasePages& database : databases) {
    if (progress.StopRequested()) break;
    groups.push_back(SplitOlderCopy(pages, entries, database));
  }
  groups = JoinCopiesOfOneDatabase(pages, entries, std::move(groups));
  GiveNewestVersionsToNewestCopies(pages, entries, groups, progress);
  int number = 0;
  for (const TCopiesOfDatabase& copies : groups) {
    if (report.Stopped || progress.StopRequested()) {
      report.Stopped = true;
      break;
    }
    const std::string name = "database-" + std::to_string(number + 1);
    const std::size_t first = report.Databases.size();
    std::vector<std::size_t> written;  // per copy, its report's index; SIZE_MAX when none
    std::size_t older = 0, other = 0;  // copies written as older copies and as other copies
    // Every copy planned before any is written: a copy whose piece holding a definition was
    // not found takes the definition the other copies agree on.
    std::vector<std::unique_ptr<TDatabaseReport>> copyReports;
    std::vector<std::unique_ptr<TDatabaseRecovery>> recoveries;  // null: no table in it
    for (const TDatabaseCopy& copy : copies.Copies) {
      auto databaseReport = std::make_unique<TDatabaseReport>();
      databaseReport->Number = number + 1;
      databaseReport->Name = name;
      // Copies are numbered among those written: one that gives no table takes no number.
      const bool known = copy.Reason.Evidence != TNewerEvidence::None;
      if (&copy != &copies.Copies.front()) {
        databaseReport->Name = CopyName(name, known, (known ? older : other) + 1);
        databaseReport->CopyOf = name;
      }
      auto recovery = std::make_unique<TDatabaseRecovery>(pages, entries, copy.Pages, fileSystem,
                                                          options, progress, *databaseReport);
      // The first copy is the newest where it was found newer than another (a copy that
      // nothing tells from the rest does not stand in its way).
      std::vector<const TDatabasePages*> others;
      bool newerThanOne = false;
      for (const TDatabaseCopy& sibling : copies.Copies) {
        if (&sibling == &copy) continue;
        others.push_back(&sibling.Pages);
        newerThanOne = newerThanOne || sibling.Reason.Evidence != TNewerEvidence::None;
      }
      recovery->SetOtherCopies(std::move(others), &copy == &copies.Copies.front() && newerThanOne);
      if (!recovery->Plan()) {
        report.Stopped = true;
        break;
      }
      const bool tables = !recovery->Plans().empty();
      if (tables && &copy != &copies.Copies.front()) ++(known ? older : other);
      copyReports.push_back(std::move(databaseReport));
      recoveries.push_back(tables ? std::move(recovery) : nullptr);
    }
    if (report.Stopped) break;
    if (recoveries.size() > 1) {
      for (std::size_t k = 0; k < recoveries.size(); ++k) {
        if (!recoveries[k]) continue;
        std::vector<const std::vector<TTablePlan>*> others;
        for (std::size_t j = 0; j < recoveries.size(); ++j) {
          if (j != k && recoveries[j]) others.push_back(&recoveries[j]->Plans());
        }
        recoveries[k]->TakeDefinitionsFrom(others);
      }
      // Named after the others' own catalogs, read before any copy takes names from another.
      std::vector<std::vector<TNamedTable>> named;
      for (const auto& recovery : recoveries)
        named.push_back(recovery ? TablesNamedByCatalog(recovery->Plans())
                                 : std::vector<TNamedTable>{});
      for (std::size_t k = 0; k < recoveries.size(); ++k) {
        if (!recoveries[k]) continue;
        std::vector<std::vector<TNamedTable>> others;
        for (std::size_t j = 0; j < recoveries.size(); ++j) {
          if (j != k && !named[j].empty()) others.push_back(named[j]);
        }
        recoveries[k]->TakeNamesFrom(others);
      }
    }
    for (std::size_t k = 0; k < recoveries.size(); ++k) {
      written.push_back(SIZE_MAX);
      if (!recoveries[k]) continue;  // no table in it: nothing to give
      TDatabaseRecovery& recovery = *recoveries[k];
      if (k > 0 && written.front() != SIZE_MAX)
        recovery.NameTablesAfter(report.Databases[written.front()],
                                 recoveries.front()->DroppedTables());
      if (!recovery.Write()) {
        if (!recovery.Stopped()) continue;
        report.Stopped = true;
        break;
      }
      usedPages.push_back(recovery.PagesUsed());
      for (const std::size_t index : usedPages.back()) used[index] = true;
      setApart.push_back(recovery.PagesSetApart());
      report.Stopped |= recovery.Stopped();
      written.back() = report.Databases.size();
      report.Databases.push_back(std::move(*copyReports[k]));
    }
    // A copy split off from another was set apart from that one's pages, whether or not it
    // gave a table of its own.
    for (std::size_t k = 0; k < written.size(); ++k) {
      const TDatabaseCopy& copy = copies.Copies[k];
      if (!copy.Split || copy.SplitFrom >= written.size() || written[copy.SplitFrom] == SIZE_MAX)
        continue;
      std::vector<std::size_t>& apart = setApart[written[copy.SplitFrom]];
      for (const auto& [pageNumber, index] : copy.Pages.Pages) apart.push_back(index);
    }
    if (report.Databases.size() == first) continue;
    number += 1;
    if (copies.Copies.size() > 1) {
      std::vector<TDatabaseReport*> reports;
      for (const std::size_t index : written)
        reports.push_back(index == SIZE_MAX ? nullptr : &report.Databases[index]);
      AccountForCopies(copies, reports);
    }
  }
  // The data pages no database was written from still come out, untyped.
  if (!report.Stopped && !progress.StopRequested()) {
    std::vector<std::size_t> unplaced;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (entries[i].Kind == TPageKind::Data &&
          (!used[i] || entries[i].Owner == jet::kLvalOwner))
        unplaced.push_back(i);
    }
    TDatabaseReport unplacedReport;
    if (RecoverUnplacedPages(pages, unplaced, fileSystem, options, progress, unplacedReport))
      report.Databases.push_back(std::move(unplacedReport));
    report.Stopped |= progress.StopRequested();
  } else {
    report.Stopped = true;
  }
  const TPageAccount account = AccountForPages(entries, usedPages, setApart, report.Databases);
  report.PagesInDatabases = account.InDatabases;
  report.PagesSetApart = account.SetApart;
  report.PagesUnplaced = account.Unplaced;
  // The unplaced pages' tables read the data pages set apart by no database's own too: said
  // there, counted above as set apart.
  if (!report.Databases.empty() && report.Databases.back().Unplaced) {
    std::vector<bool> apart(entries.size(), false);
    for (const std::vector<std::size_t>& indices : setApart) {
      for (const std::size_t index : indices) apart[index] = true;
    }
    TDatabaseReport& unplacedReport = report.Databases.back();
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (entries[i].Kind == TPageKind::Data && entries[i].Owner != jet::kLvalOwner &&
          !used[i] && apart[i])
        ++unplacedReport.PagesSetApartRead;
    }
  }
  return report;
}

}  // namespace quillon::recover
