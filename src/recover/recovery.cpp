#include "recover/recovery.h"

#include <algorithm>
#include <array>
#include <functional>
#include <map>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "core/errors.h"
#include "jet/catalog.h"
#include "jet/long_value.h"
#include "jet/row_slots.h"
#include "jet/usage_map.h"
#include "recover/catalog_accounting.h"
#include "recover/database_layout.h"
#include "recover/run_placement.h"
#include "recover/map_ties.h"
#include "recover/page_order.h"
#include "recover/page_versions.h"
#include "recover/recovery_report.h"
#include "recover/row_values.h"
#include "recover/table_definition.h"
#include "recover/table_output.h"
#include "recover/xlsx_writer.h"
#include "recover/untyped_tables.h"

namespace quillon::recover {
namespace {

using TPage = std::array<std::uint8_t, kPageSize>;

constexpr std::uint32_t kCatalogPage = jet::kCatalogOwner;
constexpr std::size_t kMaxDefinitionPages = 64;
constexpr std::uint16_t kSlotDeleted = jet::kRowDeleted;
constexpr std::uint16_t kSlotPointer = jet::kRowOverflowFlag;
constexpr int kNumberingRounds = 8;
constexpr std::size_t kChainPart = SIZE_MAX;
// Rows of a page judged when placing it: a few that fit exactly say whose it is.
constexpr std::size_t kRowsJudgedForPlacement = 8;  // a pointer to a chain's first part, of any length

struct TSlot {
  std::uint16_t Start = 0, End = 0, Flags = 0;
};

// The row slots of a data page; one that cannot be read (outside the page, or empty) has
// Start and End 0. None when the page's slot table does not fit it.
std::vector<TSlot> SlotsOf(std::span<const std::uint8_t, kPageSize> page) {
  std::vector<TSlot> slots;
  const std::uint16_t count = jet::StatedRowCount(page);
  if (jet::kRowTableAt + 2u * count > kPageSize) return slots;
  for (std::uint16_t i = 0; i < count; ++i) {
    const jet::TRowSlot slot = jet::RowSlotAt(page, count, i);
    slots.push_back(slot.Valid ? TSlot{slot.Start, slot.End, slot.Flags} : TSlot{0, 0, slot.Flags});
  }
  return slots;
}

// A live row: as written, or the data of a moved row (flagged 0x8000 alone, reached through
// a pointer elsewhere).
bool IsLive(const TSlot& slot) { return slot.Flags == 0 || slot.Flags == jet::kRowDeletedFlag; }

// For rows whose long values cannot be told apart from others': none is found.
class TNoLongValues : public ILongValueRows {
 public:
  std::optional<std::vector<std::uint8_t>> Row(std::uint32_t, std::uint8_t) const override {
    return std::nullopt;
  }
};

// Thrown by the reader when a stop was asked for: decoding leaves whatever it was doing.
struct TDecodingStopped {};

// Reads pages of one database by their page numbers, keeping the last few read. Every page
// read from the store first asks whether a stop was requested (TDecodingStopped, until
// QuietStops), so a stop is seen however long a walk over the pages would be.
class TDatabaseReader : public ILongValueRows {
 public:
  TDatabaseReader(const IPageStore& store, const std::vector<TPageEntry>& entries,
                  const TDatabasePages& database, IRecoveryProgress& progress)
      : store_(store), entries_(entries), database_(database), progress_(progress) {}

  const TPage* PageByNumber(std::uint32_t number) const {
    const auto found = database_.Pages.find(number);
    return found == database_.Pages.end() ? nullptr : PageByIndex(found->second);
  }

  // The page stays valid until the next few pages are read: callers that read long values
  // meanwhile keep a copy.
  const TPage* PageByIndex(std::size_t index) const {
    for (auto& cached : cache_) {
      if (cached.first == index) return &cached.second;
    }
    if (!stopSeen_ && progress_.StopRequested()) {
      stopSeen_ = true;
      if (!quietStops_) throw TDecodingStopped{};
    }
    auto& slot = cache_[next_++ % cache_.size()];
    slot.first = SIZE_MAX;  // until the read below has filled it
    store_.Read(index, slot.second);
    slot.first = index;
    return &slot.second;
  }

  std::optional<std::vector<std::uint8_t>> RowOf(std::uint32_t number, std::uint8_t row,
                                                 bool longValue) const {
    if (stopSeen_ && quietStops_) return std::nullopt;
    const auto found = database_.Pages.find(number);
    if (found == database_.Pages.end()) return std::nullopt;
    const TPageEntry& entry = entries_[found->second];
    if (entry.Kind != TPageKind::Data) return std::nullopt;
    if (longValue != (entry.Owner == kLongValueOwner)) return std::nullopt;
    const TPage* page = PageByIndex(found->second);
    const std::vector<TSlot> slots = SlotsOf(*page);
    if (row >= slots.size() || slots[row].End == 0) return std::nullopt;
    return std::vector<std::uint8_t>(page->begin() + slots[row].Start,
                                     page->begin() + slots[row].End);
  }

  std::optional<std::vector<std::uint8_t>> Row(std::uint32_t page,
                                               std::uint8_t row) const override {
    return RowOf(page, row, true);
  }

  // From now on a stop throws no more: pages are still given, rows no more, and StopSeen
  // tells the writer to end the table at the row it is on, keeping what it wrote whole.
  void QuietStops() { quietStops_ = true; }
  bool StopSeen() const { return stopSeen_; }

 private:
  const IPageStore& store_;
  const std::vector<TPageEntry>& entries_;
  const TDatabasePages& database_;
  IRecoveryProgress& progress_;
  bool quietStops_ = false;
  mutable bool stopSeen_ = false;
  mutable std::array<std::pair<std::size_t, TPage>, 8> cache_{{{SIZE_MAX, {}},
                                                               {SIZE_MAX, {}},
                                                               {SIZE_MAX, {}},
                                                               {SIZE_MAX, {}},
                                                               {SIZE_MAX, {}},
                                                               {SIZE_MAX, {}},
                                                               {SIZE_MAX, {}},
                                                               {SIZE_MAX, {}}}};
  mutable std::size_t next_ = 0;
};

// The definition whose first page is database page `number`, its continuation pages taken
// by their numbers; nothing when it is not there whole.
std::optional<TTableDefinition> DefinitionAt(const TDatabaseReader& reader,
                                             const std::vector<TPageEntry>& entries,
                                             const TDatabasePages& database, std::uint32_t number) {
  std::vector<std::uint8_t> bytes;
  std::uint32_t page = number;
  std::set<std::uint32_t> seen;
  for (std::size_t i = 0; i < kMaxDefinitionPages && seen.insert(page).second; ++i) {
    const auto found = database.Pages.find(page);
    if (found == database.Pages.end() || entries[found->second].Kind != TPageKind::Definition)
      return std::nullopt;
    const TPage& bytesOfPage = *reader.PageByIndex(found->second);
    if (!jet::IsDefinitionPage(bytesOfPage)) return std::nullopt;
    const auto part = jet::DefinitionBytesOf(bytesOfPage, i == 0);
    bytes.insert(bytes.end(), part.begin(), part.end());
    TDefinitionResult result = ParseTableDefinition(bytes);
    if (result.Status == TDefinitionParse::Ok) return std::move(result.Definition);
    if (result.Status == TDefinitionParse::Invalid) return std::nullopt;
    page = NextDefinitionPage(bytesOfPage);
    if (page == 0) return std::nullopt;
  }
  return std::nullopt;
}

struct TCatalogEntry {
  std::string Name;
  int Type = 0;
  std::int64_t Flags = 0;
  std::string DateUpdate;
};

// The catalog's rows (MSysObjects, owner 2): the names of tables by their definition pages.
// The rows of stale pages (numbers `stale` says are, when given) are left out: they are
// older versions of entries, or entries of tables dropped since.
std::map<std::uint32_t, TCatalogEntry> ReadCatalog(
    const TDatabaseReader& reader, const std::vector<TPageEntry>& entries,
    const TDatabasePages& database, const TTableDefinition& definition,
    const std::function<bool(std::uint32_t)>& stale = {}) {
  std::map<std::uint32_t, TCatalogEntry> catalog;
  auto columnOf = [&](const char* name) {
    for (std::size_t i = 0; i < definition.Columns.size(); ++i) {
      if (definition.Columns[i].Name == name) return i;
    }
    return SIZE_MAX;
  };
  const std::size_t id = columnOf("Id"), name = columnOf("Name"), type = columnOf("Type"),
                    flags = columnOf("Flags"), updated = columnOf("DateUpdate");
  if (id == SIZE_MAX || name == SIZE_MAX || type == SIZE_MAX) return catalog;
  std::vector<std::pair<std::uint32_t, std::size_t>> pages(database.Pages.begin(),
                                                           database.Pages.end());
  std::sort(pages.begin(), pages.end());
  for (const auto& [number, index] : pages) {
    const TPageEntry& entry = entries[index];
    if (entry.Kind != TPageKind::Data || entry.Owner != kCatalogPage) continue;
    if (stale && stale(number)) continue;
    const TPage page = *reader.PageByIndex(index);
    for (const TSlot& slot : SlotsOf(page)) {
      if (slot.End == 0 || !IsLive(slot)) continue;
      const std::optional<std::vector<TValue>> values =
          DecodeRow(std::span(page).subspan(slot.Start, slot.End - slot.Start), definition, reader);
      if (!values || (*values)[id].Kind != TValue::TKind::Integer ||
          (*values)[name].Kind != TValue::TKind::Text)
        continue;
      TCatalogEntry catalogEntry;
      catalogEntry.Name = (*values)[name].Bytes;
      catalogEntry.Type = static_cast<int>((*values)[type].Integer);
      if (flags != SIZE_MAX) catalogEntry.Flags = (*values)[flags].Integer;
      if (updated != SIZE_MAX && (*values)[updated].Kind == TValue::TKind::Text)
        catalogEntry.DateUpdate = (*values)[updated].Bytes;
      const std::uint32_t tablePage =
          jet::DefinitionPageOfId(static_cast<std::uint32_t>((*values)[id].Integer));
      if (catalogEntry.Type == jet::kLocalTableType) catalog[tablePage] = std::move(catalogEntry);
    }
  }
  return catalog;
}

// The pages a table's usage map lists, or nothing when the map cannot be read.
// The numbers of the pages it was read from go into `readFrom` when given.
std::optional<std::set<std::uint32_t>> UsageMapOf(const TDatabaseReader& reader,
                                                  const std::vector<TPageEntry>& entries,
                                                  const TDatabasePages& database,
                                                  std::uint32_t pointer,
                                                  std::vector<std::uint32_t>* readFrom = nullptr) {
  const std::uint32_t mapPage = pointer >> 8;
  if (readFrom) readFrom->push_back(mapPage);
  const auto row = static_cast<std::uint8_t>(pointer & 0xFF);
  std::optional<std::vector<std::uint8_t>> map = reader.RowOf(mapPage, row, false);
  if (!map) return std::nullopt;
  return jet::ParseUsageMap(
      *map,
      [&](std::uint32_t number) -> const std::uint8_t* {
        const auto found = database.Pages.find(number);
        if (found == database.Pages.end() || entries[found->second].Kind != TPageKind::UsageMap)
          return nullptr;
        return reader.PageByIndex(found->second)->data();
      },
      readFrom);
}

bool IsSystemName(const std::string& name) { return name.rfind("MSys", 0) == 0; }

struct TTablePlan {
  std::uint32_t Owner = 0;
  std::string Name;
  bool NamedFromCatalog = false;
  std::string DateUpdate;
  std::optional<TTableDefinition> Definition;
  std::vector<std::pair<std::uint32_t, std::size_t>> Pages;  // page number, store index
};

// Does the definition fit the table's rows, whatever column counts they were written with?
// Most of the live rows read must be rows of it that it can read; a table without live
// rows is judged by its deleted ones. Deleted rows are not asked where live ones exist: the
// space of a deleted row may since have been given to other bytes.
bool FitsRows(const TDatabaseReader& reader, const TTablePlan& plan,
              const TTableDefinition& definition) {
  for (const bool live : {true, false}) {
    std::size_t tried = 0, fitted = 0;
    for (const auto& [number, index] : plan.Pages) {
      const TPage page = *reader.PageByIndex(index);
      for (const TSlot& slot : SlotsOf(page)) {
        if (slot.End == 0 || slot.Flags == kSlotPointer || IsLive(slot) != live) continue;
        ++tried;
        if (DecodeRow(std::span(page).subspan(slot.Start, slot.End - slot.Start), definition,
                      TNoLongValues{}))
          ++fitted;
        if (tried >= 64) break;
      }
      if (tried >= 64) break;
    }
    if (tried > 0) return fitted * 10 >= tried * 9;
  }
  return true;
}

// Calls visit with the head of every long value of a row that fits definition's shape and
// lies in LVAL rows (one, or a chain).
template <class TVisit>
void ForEachLongValuePointer(std::span<const std::uint8_t> row, const TTableDefinition& definition,
                             TVisit&& visit) {
  const std::optional<jet::TRowLayout> layout = LayoutOfRow(row, definition);
  if (!layout) return;
  for (const TColumn& column : definition.Columns) {
    if ((column.Type != TColumnType::Memo && column.Type != TColumnType::Ole) || column.Fixed)
      continue;
    const jet::TColumnField field = jet::FieldOf(*layout, PlaceOf(column));
    if (field.State == jet::TFieldState::Absent) continue;
    const std::optional<jet::TLongValueHead> head = jet::ReadLongValueHead(field.Bytes);
    if (head && head->Kind != jet::TLongValueKind::Inline) visit(*head);
  }
}

// Does the row have exactly the definition's shape? The fixed part exactly as long as the
// fixed columns the row counts (all of them in a row of the definition's last column
// count), each column the row counts inside it, no variable column it does not count in
// its offset table, and fields no longer than their columns allow. Used
// to tie a definition by shape alone.
bool HasExactShape(std::span<const std::uint8_t> row, const TTableDefinition& definition) {
  const std::optional<jet::TRowLayout> layout = LayoutOfRow(row, definition);
  if (!layout) return false;
  const bool latest = layout->ColumnCount() == definition.HighestColumnCount;
  std::size_t fixedLength = 0;
  for (const TColumn& column : definition.Columns) {
    const bool counted = column.Number < layout->ColumnCount();
    const jet::TColumnField field = jet::FieldOf(*layout, PlaceOf(column));
    if (field.State == jet::TFieldState::Misfit) return false;
    if (column.Fixed) {
      if (counted && column.Type != TColumnType::YesNo)
        fixedLength = std::max<std::size_t>(fixedLength, column.FixedOffset + column.Size);
      continue;
    }
    if (!counted && column.VarIndex < layout->VarCount()) return false;
    const std::size_t length = field.Bytes.size();
    const std::uint16_t natural = NaturalSize(column.Type);
    if (length == 0) continue;
    if (natural != 0 && length != natural) return false;
    if ((column.Type == TColumnType::Text || column.Type == TColumnType::Binary) &&
        length > column.Size)
      return false;
    if ((column.Type == TColumnType::Memo || column.Type == TColumnType::Ole) && length < 12)
      return false;
  }
  return layout->Fixed().size() == (latest ? definition.FixedLength : fixedLength);
}

bool FitsExactly(const TDatabaseReader& reader, const TTablePlan& plan,
                 const TTableDefinition& definition) {
  std::size_t tried = 0;
  for (const auto& [number, index] : plan.Pages) {
    const TPage page = *reader.PageByIndex(index);
    for (const TSlot& slot : SlotsOf(page)) {
      if (slot.End == 0 || !IsLive(slot)) continue;
      if (!HasExactShape(std::span(page).subspan(slot.Start, slot.End - slot.Start), definition))
        return false;
      if (++tried >= 64) return true;
    }
  }
  return tried > 0;
}

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

  // Reads the database and writes its tables; false when it gave no table, or when a stop
  // came before its first table was written (Stopped() tells).
  bool Run() {
    std::vector<TTablePlan> plans;
    try {
      plans = ReadTables();
    } catch (const TDecodingStopped&) {
      stopped_ = true;
      return false;
    }
    if (plans.empty()) return false;
    return WriteTables(plans);
  }

  bool Stopped() const { return stopped_ || reader_.StopSeen(); }

  // The store indices of the pages read as this database's (its tables and long values).
  std::vector<std::size_t> PagesUsed() const {
    std::vector<std::size_t> used;
    for (const auto& [number, index] : database_.Pages) used.push_back(index);
    return used;
  }

 private:
  // Numbers the pages, reads the catalog and plans the tables.
  std::vector<TTablePlan> ReadTables() {
    report_.BaseOffset = database_.Base;
    report_.FirstPageOffset = database_.FirstOffset;
    report_.LastPageOffset = database_.LastOffset;
    report_.Pages = static_cast<std::int64_t>(database_.Pages.size());
    if (NumberingHolds()) {
      // In order: pages before its page 0 are none of its own.
      std::erase_if(database_.Pages,
                    [](const auto& page) { return page.first >= kUnnumberedPage; });
    } else {
      outOfOrder_ = true;
      report_.InOrder = false;
      const TDatabasePages grid = database_;
      Renumber();
      inPlace_ = NumbersInPlace(grid, database_);
      versions_ = FindPageVersions(entries_, grid, database_, [&](std::size_t index) {
        return LiveRowsOf(index);
      });
      report_.PageNumbersDisputed = static_cast<std::int64_t>(versions_.NumbersDisputed);
    }
    progress_.Progress("reading the catalog of " + report_.Name, 0, 1);
    std::optional<TTableDefinition> catalogDefinition =
        DefinitionAt(reader_, entries_, database_, kCatalogPage);
    const std::optional<std::set<std::uint32_t>> catalogPages =
        catalogDefinition ? TrustedUsageMap(kCatalogPage, *catalogDefinition) : std::nullopt;
    const std::map<std::uint32_t, TCatalogEntry> catalog = ReadCatalog(
        reader_, entries_, database_,
        catalogDefinition ? *catalogDefinition : BuiltInCatalogDefinition(),
        [&](std::uint32_t number) { return IsStale(catalogPages, number); });
    report_.CatalogFound = !catalog.empty();
    catalogTables_ = CatalogTables(catalog);
    return PlanTables(catalog);
  }

  bool WriteTables(std::vector<TTablePlan>& plans) {
    const std::size_t leftOut = KeepLargest(
        plans, kMaxTablesWritten, [](const TTablePlan& plan) { return plan.Pages.size(); });
    report_.TablesLeftOut = static_cast<std::int64_t>(leftOut);
    const std::string stem = options_.OutputDir + options_.Separator + report_.Name;
    std::unique_ptr<TSqliteWriter> sqlite;
    if (options_.WriteSqlite) {
      report_.SqlitePath = stem + ".sqlite";
      sqlite = std::make_unique<TSqliteWriter>(fileSystem_, SystemPath(report_.SqlitePath),
                                               report_.SqlitePath);
    }
    if (options_.WriteCsv) {
      report_.CsvFolder = stem;
      fileSystem_.CreateFolder(SystemPath(stem));
    }
    if (options_.WriteXlsx) {
      report_.XlsxPath = stem + ".xlsx";
      xlsx_ = std::make_unique<TXlsxWriter>(fileSystem_, SystemPath(report_.XlsxPath),
                                            report_.XlsxPath);
    }
    ReadUntypedTables(plans);
    reader_.QuietStops();
    std::set<std::string> used;
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
        usageMapsRead &= WriteTable(plan, sqlite.get(), used);
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
    if (xlsx_) xlsx_->Finish();
    for (const TTableReport& table : report_.Tables) {
      report_.LastUpdate = std::max(report_.LastUpdate, table.LastUpdate);
    }
    return true;
  }

  std::map<std::uint32_t, TTablePlan> PagesByOwner() const {
    std::map<std::uint32_t, TTablePlan> byOwner;
    for (const auto& [number, index] : database_.Pages) {
      const TPageEntry& entry = entries_[index];
      if (entry.Kind != TPageKind::Data || entry.Owner == kLongValueOwner || entry.Owner <= 5)
        continue;
      byOwner[entry.Owner].Owner = entry.Owner;
      byOwner[entry.Owner].Pages.emplace_back(number, index);
    }
    return byOwner;
  }

  // The pages the usage map of the table whose definition lies at `owner` lists, where the
  // map can be trusted: in order; out of order, where the definition and the pages the map
  // is read from lie in place, and every page the map lists is there, at its number, as one
  // of the table's. Pages between two anchors on the database's own base are numbered from
  // it even where a piece among them was exchanged with another: a listed page numbered
  // wrongly so would look stale, but then its own number holds another page or none.
  std::optional<std::set<std::uint32_t>> TrustedUsageMap(std::uint32_t owner,
                                                         const TTableDefinition& definition) const {
    std::vector<std::uint32_t> mapPages;
    std::optional<std::set<std::uint32_t>> listed =
        UsageMapOf(reader_, entries_, database_, definition.UsageMapPointer, &mapPages);
    if (!outOfOrder_ || !listed) return listed;
    const auto inPlace = [&](std::uint32_t number) { return inPlace_.contains(number); };
    const auto holdsOwn = [&](std::uint32_t number) {
      const auto found = database_.Pages.find(number);
      return found != database_.Pages.end() &&
             entries_[found->second].Kind == TPageKind::Data &&
             entries_[found->second].Owner == owner;
    };
    if (!inPlace(owner) || !std::all_of(mapPages.begin(), mapPages.end(), inPlace) ||
        !std::all_of(listed->begin(), listed->end(), holdsOwn))
      listed.reset();
    return listed;
  }

  // The live rows of store page `index`, byte for byte.
  std::vector<std::string> LiveRowsOf(std::size_t index) const {
    std::vector<std::string> rows;
    const TPage page = *reader_.PageByIndex(index);
    for (const TSlot& slot : SlotsOf(page)) {
      if (slot.End == 0 || slot.Flags == kSlotPointer || slot.Flags == kSlotDeleted) continue;
      rows.emplace_back(page.begin() + slot.Start, page.begin() + slot.End);
    }
    return rows;
  }

  // Is the page at `number` stale by the usage map that lists `listed`? Out of order, only a
  // page in place can be told to be.
  bool IsStale(const std::optional<std::set<std::uint32_t>>& listed, std::uint32_t number) const {
    return listed && !listed->contains(number) && (!outOfOrder_ || inPlace_.contains(number));
  }

  // Do the pages lie in order? What each table says of it: its definition at its owner
  // value's number, its rows' fit, its usage map's places (see PagesLieInOrder). The LVAL
  // pages carry no owner or map of their own: the long-value pointers of listed rows must
  // each find their value where its page number lies, or a piece of LVAL pages moved in
  // behind the data pages would give memos of rows that happen to have the length asked for.
  // Every catalog page at the database's places is read here, those its usage map does not
  // list too: another database's pages that landed among these carry their own catalog's
  // pages, and only those name the foreign tables, whose pages must then count against the
  // order rather than pass as a dropped table's remains (which says nothing). Left unread,
  // a database with a neighbour's pieces behind its own was judged in order and the
  // neighbour's tables were lost.
  bool NumberingHolds() const {
    const std::optional<TTableDefinition> catalogDefinition =
        DefinitionAt(reader_, entries_, database_, kCatalogPage);
    const std::map<std::uint32_t, TCatalogEntry> catalog = ReadCatalog(
        reader_, entries_, database_,
        catalogDefinition ? *catalogDefinition : BuiltInCatalogDefinition());
    TOwnerAt ownerAt;
    for (const auto& [number, index] : database_.Pages) {
      const TPageEntry& entry = entries_[index];
      ownerAt.emplace(number, entry.Kind == TPageKind::Data ? entry.Owner : kNotDataPage);
    }
    std::vector<TTableOrderEvidence> tables;
    for (const auto& [owner, plan] : PagesByOwner()) {
      TTableOrderEvidence& table = tables.emplace_back();
      table.Owner = owner;
      table.Cataloged = catalog.contains(owner);
      for (const auto& [number, index] : plan.Pages) table.Numbers.push_back(number);
      TTablePlan numbered = plan;
      std::erase_if(numbered.Pages, [](const auto& page) { return page.first >= kUnnumberedPage; });
      const std::optional<TTableDefinition> definition =
          DefinitionAt(reader_, entries_, database_, owner);
      if (!definition) continue;
      table.DefinitionThere = true;
      table.DefinitionFits =
          FitsRows(reader_, numbered.Pages.empty() ? plan : numbered, *definition);
      table.Listed = UsageMapOf(reader_, entries_, database_, definition->UsageMapPointer);
      if (!table.DefinitionFits) continue;  // its long-value pointers cannot be found
      for (const auto& [number, index] : numbered.Pages) {
        if (!table.Listed || table.Listed->contains(number))
          table.LongValuesMisplaced += LongValuesMisplaced(index, *definition);
      }
    }
    return PagesLieInOrder(tables, ownerAt);
  }

  // The long values of a data page's live rows whose LVAL rows are not where their page
  // numbers say: a pointer that names a page of the database which is no LVAL page, or
  // whose row is missing, too short for a single-row value, or a chain whose parts do not
  // add up. A page that is not there at all says nothing (it may simply be lost).
  std::size_t LongValuesMisplaced(std::size_t index, const TTableDefinition& definition) const {
    const TPage page = *reader_.PageByIndex(index);
    std::size_t misplaced = 0;
    // The row of an LVAL page at `number`; nothing when no page has the number, and an
    // empty row when the page there cannot hold it.
    auto rowAt = [&](std::uint32_t number,
                     std::uint8_t row) -> std::optional<std::vector<std::uint8_t>> {
      if (!database_.Pages.contains(number)) return std::nullopt;
      return reader_.RowOf(number, row, true).value_or(std::vector<std::uint8_t>{});
    };
    for (const TSlot& slot : SlotsOf(page)) {
      if (slot.End == 0 || !IsLive(slot)) continue;
      const auto row =
          std::span<const std::uint8_t>(page).subspan(slot.Start, slot.End - slot.Start);
      ForEachLongValuePointer(row, definition, [&](const jet::TLongValueHead& head) {
        if (head.Kind == jet::TLongValueKind::SingleRow) {
          const std::optional<std::vector<std::uint8_t>> part =
              rowAt(head.Where.Page, head.Where.Row);
          misplaced += part && part->size() != head.Length ? 1 : 0;
          return;
        }
        // A chain cut short by a lost page proves nothing; one that runs over or ends
        // early does.
        const jet::TChainEnd end = jet::FollowChain(
            head.Where, head.Length,
            [&](jet::TRowPointer at) { return rowAt(at.Page, at.Row); },
            [](std::span<const std::uint8_t>) {});
        if (end == jet::TChainEnd::Broken) ++misplaced;
      });
    }
    return misplaced;
  }

  // The definitions of the database parsed without their page numbers; one that goes on
  // over further pages is parsed once per owner it might be, since its continuation is
  // found by number.
  std::optional<TTableDefinition> DefinitionFromPage(std::size_t index,
                                                     std::uint32_t assumedNumber) const {
    std::vector<std::uint8_t> bytes;
    std::size_t at = index;
    std::set<std::size_t> seen;
    const std::int64_t offset = entries_[index].SourceOffset;
    for (std::size_t i = 0; i < kMaxDefinitionPages && seen.insert(at).second; ++i) {
      const TPage page = *reader_.PageByIndex(at);
      if (!jet::IsDefinitionPage(page)) return std::nullopt;
      const auto part = jet::DefinitionBytesOf(page, i == 0);
      bytes.insert(bytes.end(), part.begin(), part.end());
      TDefinitionResult result = ParseTableDefinition(bytes);
      if (result.Status == TDefinitionParse::Ok) return std::move(result.Definition);
      if (result.Status == TDefinitionParse::Invalid) return std::nullopt;
      const std::uint32_t next = NextDefinitionPage(page);
      if (next == 0) return std::nullopt;
      const std::int64_t want =
          offset + static_cast<std::int64_t>(kPageSize) *
                       (static_cast<std::int64_t>(next) - static_cast<std::int64_t>(assumedNumber));
      const auto found = definitionByOffset_.find(want);
      at = found == definitionByOffset_.end() ? SIZE_MAX : found->second;
      if (at == SIZE_MAX) return std::nullopt;
    }
    return std::nullopt;
  }

  // The column count of the first live row of the table's pages.
  std::optional<std::uint16_t> FirstRowColumnCount(const TTablePlan& plan) const {
    for (const auto& [number, index] : plan.Pages) {
      const TPage page = *reader_.PageByIndex(index);
      for (const TSlot& slot : SlotsOf(page)) {
        if (slot.End >= slot.Start + 2 && slot.End != 0 &&
            IsLive(slot))
          return jet::TByteView(page).U16(slot.Start);
      }
    }
    return std::nullopt;
  }

  // Definitions of one shape: the rows of several tables fit each of them exactly. Where
  // the pages around such a definition agree with its lying at one owner's number, and at
  // no other's, it is that owner's: its usage map, read from the page at the map pointer's
  // distance from it, lists pages that at their distances from it are all that owner's.
  // Every other pair of them is dropped from `fits` and `fitsOf`.
  void TieSameShapesByTheirPieces(
      std::map<std::uint32_t, std::vector<std::pair<std::size_t, TTableDefinition>>>& fits,
      std::map<std::size_t, std::vector<std::uint32_t>>& fitsOf) const {
    std::unordered_map<std::int64_t, std::size_t> byOffset;  // this database's pages
    for (const auto& [number, index] : database_.Pages)
      byOffset.emplace(entries_[index].SourceOffset, index);
    std::map<std::size_t, std::vector<std::uint32_t>> agreesWith;  // definition → owners
    std::map<std::uint32_t, std::vector<std::size_t>> agreeing;    // owner → definitions
    for (const auto& [owner, candidates] : fits) {
      const bool ambiguous =
          candidates.size() > 1 ||
          (candidates.size() == 1 && fitsOf[candidates[0].first].size() > 1);
      if (!ambiguous) continue;
      for (const auto& [index, definition] : candidates) {
        if (!PieceAgrees(byOffset, index, owner, definition)) continue;
        agreesWith[index].push_back(owner);
        agreeing[owner].push_back(index);
      }
    }
    for (const auto& [owner, indices] : agreeing) {
      if (indices.size() != 1 || agreesWith[indices[0]].size() != 1) continue;
      const std::size_t index = indices[0];
      auto& candidates = fits[owner];
      std::erase_if(candidates, [&](const auto& candidate) { return candidate.first != index; });
      for (auto& [other, owners] : fitsOf) {
        if (other != index) std::erase(owners, owner);
      }
      fitsOf[index] = {owner};
      for (auto& [otherOwner, otherCandidates] : fits) {
        if (otherOwner != owner)
          std::erase_if(otherCandidates,
                        [&](const auto& candidate) { return candidate.first == index; });
      }
    }
  }

  // Do the pages around definition page `index` agree with its lying at number `owner`?
  bool PieceAgrees(const std::unordered_map<std::int64_t, std::size_t>& byOffset,
                   std::size_t index, std::uint32_t owner,
                   const TTableDefinition& definition) const {
    const std::int64_t offset = entries_[index].SourceOffset;
    auto pageAt = [&](std::uint32_t number) -> std::optional<std::size_t> {
      const std::int64_t at =
          offset + static_cast<std::int64_t>(kPageSize) *
                       (static_cast<std::int64_t>(number) - static_cast<std::int64_t>(owner));
      const auto found = byOffset.find(at);
      if (found == byOffset.end()) return std::nullopt;
      return found->second;
    };
    const std::optional<std::size_t> mapPage = pageAt(definition.UsageMapPointer >> 8);
    if (!mapPage || entries_[*mapPage].Kind != TPageKind::Data ||
        entries_[*mapPage].Owner == kLongValueOwner)
      return false;
    const TPage page = *reader_.PageByIndex(*mapPage);
    const std::vector<TSlot> slots = SlotsOf(page);
    const std::size_t row = definition.UsageMapPointer & 0xFF;
    if (row >= slots.size() || slots[row].End == 0) return false;
    const std::vector<std::uint8_t> map(page.begin() + slots[row].Start,
                                        page.begin() + slots[row].End);
    const std::optional<std::set<std::uint32_t>> listed =
        jet::ParseUsageMap(map, [&](std::uint32_t number) -> const std::uint8_t* {
          const std::optional<std::size_t> bitmap = pageAt(number);
          if (!bitmap || entries_[*bitmap].Kind != TPageKind::UsageMap) return nullptr;
          return reader_.PageByIndex(*bitmap)->data();
        });
    if (!listed || listed->empty()) return false;
    return std::all_of(listed->begin(), listed->end(), [&](std::uint32_t number) {
      const std::optional<std::size_t> data = pageAt(number);
      return data && entries_[*data].Kind == TPageKind::Data && entries_[*data].Owner == owner;
    });
  }

  // Numbers the pages again from what is certain: header and system definitions, each
  // definition that exactly one table's rows fit by shape (and that fits no other table),
  // and the LVAL pages that single-row long values point to where only one LVAL row on
  // the source has the value's length.
  void Renumber() {
    std::vector<TPageAnchor> anchors;
    std::vector<std::size_t> definitionPages;
    for (const auto& [number, index] : database_.Pages) {
      inDatabase_.insert(index);
      const TPageEntry& entry = entries_[index];
      // A page moved here by evidence (run_placement.h) is an anchor at its number.
      if (database_.Certain.contains(number)) anchors.push_back({index, number});
      else if (entry.Kind == TPageKind::Header) anchors.push_back({index, 0});
      if (entry.Kind != TPageKind::Definition) continue;
      definitionPages.push_back(index);
      definitionByOffset_.emplace(entry.SourceOffset, index);
      const TPage page = *reader_.PageByIndex(index);
      const TDefinitionResult alone = ParseTableDefinition(page);
      if (alone.Definition) {
        if (const std::uint32_t system = SystemDefinitionPage(*alone.Definition))
          anchors.push_back({index, system});
      }
    }
    // Ties by shape: owner → the definition pages its rows fit exactly.
    std::map<std::uint32_t, TTablePlan> byOwner = PagesByOwner();
    std::map<std::size_t, std::vector<std::uint32_t>> fitsOf;  // definition page → owners
    std::map<std::uint32_t, std::vector<std::pair<std::size_t, TTableDefinition>>> fits;
    // Each definition's highest column count, from its first page, against the column
    // count of each table's first row: those that agree are parsed and tried first; only
    // where none fits, those with more columns (columns added after the row was written).
    std::multimap<std::uint16_t, std::size_t> byColumnCount;
    for (const std::size_t index : definitionPages)
      byColumnCount.emplace(
          jet::TByteView(*reader_.PageByIndex(index)).U16(kHighestColumnCountAt).value_or(0),
          index);
    for (const auto& ownerAndPlan : byOwner) {
      // Named outside the lambda below: clang 14 does not let a lambda capture a structured
      // binding.
      const std::uint32_t owner = ownerAndPlan.first;
      const TTablePlan& plan = ownerAndPlan.second;
      const std::optional<std::uint16_t> columns = FirstRowColumnCount(plan);
      if (!columns) continue;
      const auto tryFrom = [&](auto from, auto to) {
        for (auto candidate = from; candidate != to; ++candidate) {
          const std::size_t index = candidate->second;
          std::optional<TTableDefinition> definition = DefinitionFromPage(index, owner);
          if (!definition || definition->System || !FitsExactly(reader_, plan, *definition))
            continue;
          fitsOf[index].push_back(owner);
          fits[owner].emplace_back(index, std::move(*definition));
        }
      };
      const auto [from, to] = byColumnCount.equal_range(*columns);
      tryFrom(from, to);
      if (!fits.contains(owner)) tryFrom(to, byColumnCount.end());
    }
    TieSameShapesByTheirPieces(fits, fitsOf);
    // Definitions still of one shape with others: each (definition, owner) it may be, told
    // apart later by their usage maps once pieces around them are numbered.
    std::vector<TShapeCandidate> sameShapes;
    for (auto& [owner, candidates] : fits) {
      if (candidates.size() != 1 || fitsOf[candidates[0].first].size() != 1) {
        for (auto& [index, definition] : candidates)
          sameShapes.push_back({index, owner, std::move(definition)});
        continue;
      }
      anchors.push_back({candidates[0].first, owner});
      shapeTies_.emplace(owner, std::move(candidates[0].second));
    }
    // Long-value rows by (row number, length), to find the one a pointer means. Unique
    // must mean unique on the whole source: a file moved about in pieces can be told apart
    // as more than one database (a piece holding system definitions gives a base of its
    // own), and the row a pointer means may lie among the other one's pages.
    std::vector<std::size_t> longValuePages;
    for (std::size_t index = 0; index < entries_.size(); ++index) {
      if (entries_[index].Kind == TPageKind::Data && entries_[index].Owner == kLongValueOwner)
        longValuePages.push_back(index);
    }
    std::map<std::pair<std::uint8_t, std::size_t>, std::vector<std::size_t>> longValueRows;
    for (const std::size_t index : longValuePages) {
      const std::vector<TSlot> slots = SlotsOf(*reader_.PageByIndex(index));
      for (std::size_t row = 0; row < slots.size() && row < 256; ++row) {
        if (slots[row].End != 0)
          longValueRows[{static_cast<std::uint8_t>(row), slots[row].End - slots[row].Start}]
              .push_back(index);
      }
    }
    // Each round numbers the pieces of the anchors found so far; the definitions that then
    // lie at their owners' numbers give the pointers of further long values.
    const TDatabasePages grid = database_;
    std::set<std::size_t> anchored;
    std::set<std::uint32_t> pointersRead;
    // Where the long-value pointers of tied tables say their rows are: a piece is numbered
    // only where its pages hold them.
    std::map<std::size_t, std::map<std::uint8_t, std::size_t>> lengthsOf;  // page → row → length
    for (const auto& [rowAndLength, pages] : longValueRows) {
      for (const std::size_t index : pages) lengthsOf[index][rowAndLength.first] = rowAndLength.second;
    }
    std::multimap<std::uint32_t, std::pair<std::uint8_t, std::size_t>> targets;
    const TNumberCheck agrees = [&](std::size_t index, std::uint32_t number) {
      for (auto [at, end] = targets.equal_range(number); at != end; ++at) {
        const auto rows = lengthsOf.find(index);
        if (rows == lengthsOf.end()) return false;
        const auto row = rows->second.find(at->second.first);
        if (row == rows->second.end()) return false;
        // A single-row value fills its row exactly; a chain's first part holds at least the
        // pointer to the next.
        if (at->second.second == kChainPart ? row->second < 4 : row->second != at->second.second)
          return false;
      }
      return true;
    };
    // Every table whose rows will be decoded adds its pointers to what a numbering must
    // agree with, including those whose definitions fit too loosely to give anchors: the
    // rounds end when a numbering has taken all of them into account.
    for (int round = 0; round < kNumberingRounds; ++round) {
      std::size_t read = 0;
      for (const auto& [owner, plan] : byOwner) {
        if (pointersRead.contains(owner)) continue;
        std::optional<TTableDefinition> definition;
        bool exact = false;
        if (const auto tied = shapeTies_.find(owner); tied != shapeTies_.end()) {
          definition = tied->second;
          exact = true;
        } else if (round > 0) {
          definition = DefinitionAt(reader_, entries_, database_, owner);
          if (definition && definition->System) definition.reset();
          exact = definition && FitsExactly(reader_, plan, *definition);
          if (definition && !exact && !FitsRows(reader_, plan, *definition)) definition.reset();
        }
        if (!definition) continue;
        pointersRead.insert(owner);
        ++read;
        LongValueAnchors(plan, *definition, longValueRows, anchored,
                         exact ? &anchors : nullptr, targets);
      }
      // Only from the second round on are the numbers certain ones (the first numbering
      // comes from anchors; before it, pages carry their places on the grid).
      const std::size_t tied = round > 0 ? TieSameShapesByMaps(sameShapes, anchors) : 0;
      if (round > 0 && read == 0 && tied == 0) break;
      database_ = NumberFromAnchors(entries_, grid, anchors, agrees);
    }
    longValuesChecked_ = std::move(pointersRead);
  }

  // A definition that may be any of several tables' (definitions of one shape), and one
  // table it may be.
  struct TShapeCandidate {
    std::size_t Definition = 0;  // store index of its first page
    std::uint32_t Owner = 0;
    TTableDefinition Parsed;
  };

  // Ties definitions of one shape to their tables by their usage maps, read against the
  // pages numbered so far (see TieByUsageMaps); each tie anchors the definition at its
  // owner's number. Tied candidates, and the others of their definition or owner, leave
  // `open`. Returns how many were tied.
  std::size_t TieSameShapesByMaps(std::vector<TShapeCandidate>& open,
                                  std::vector<TPageAnchor>& anchors) {
    if (open.empty()) return 0;
    TOwnerAt numbered;
    std::unordered_map<std::size_t, std::uint32_t> numberOf;  // store index → certain number
    std::unordered_map<std::int64_t, std::size_t> byOffset;
    for (const auto& [number, index] : database_.Pages) {
      byOffset.emplace(entries_[index].SourceOffset, index);
      if (number >= kUnnumberedPage) continue;
      const TPageEntry& entry = entries_[index];
      numbered.emplace(number, entry.Kind == TPageKind::Data ? entry.Owner : kNotDataPage);
      numberOf.emplace(index, number);
    }
    std::vector<TMapHypothesis> hypotheses;
    std::vector<std::size_t> from;  // hypothesis → index into `open`
    for (std::size_t i = 0; i < open.size(); ++i) {
      const TShapeCandidate& candidate = open[i];
      // A definition already numbered is tied, or not, by its number.
      if (numberOf.contains(candidate.Definition)) continue;
      const std::int64_t offset = entries_[candidate.Definition].SourceOffset;
      // The page at `number` if the definition lay at its owner's number: the page numbered
      // so where that is certain, else the one at its distance from the definition, unless
      // that one is numbered otherwise.
      const auto pageAt = [&](std::uint32_t number) -> std::optional<std::size_t> {
        if (const auto found = database_.Pages.find(number);
            number < kUnnumberedPage && found != database_.Pages.end())
          return found->second;
        const std::int64_t at =
            offset + static_cast<std::int64_t>(kPageSize) *
                         (static_cast<std::int64_t>(number) -
                          static_cast<std::int64_t>(candidate.Owner));
        const auto found = byOffset.find(at);
        if (found == byOffset.end() || numberOf.contains(found->second)) return std::nullopt;
        return found->second;
      };
      TMapHypothesis& hypothesis = hypotheses.emplace_back();
      from.push_back(i);
      hypothesis.Definition = candidate.Definition;
      hypothesis.Owner = candidate.Owner;
      const std::optional<std::size_t> mapPage = pageAt(candidate.Parsed.UsageMapPointer >> 8);
      if (!mapPage || entries_[*mapPage].Kind != TPageKind::Data ||
          entries_[*mapPage].Owner == kLongValueOwner)
        continue;
      const TPage page = *reader_.PageByIndex(*mapPage);
      const std::vector<TSlot> slots = SlotsOf(page);
      const std::size_t row = candidate.Parsed.UsageMapPointer & 0xFF;
      if (row >= slots.size() || slots[row].End == 0) continue;
      const std::vector<std::uint8_t> map(page.begin() + slots[row].Start,
                                          page.begin() + slots[row].End);
      hypothesis.Listed =
          jet::ParseUsageMap(map, [&](std::uint32_t number) -> const std::uint8_t* {
            const std::optional<std::size_t> bitmap = pageAt(number);
            if (!bitmap || entries_[*bitmap].Kind != TPageKind::UsageMap) return nullptr;
            return reader_.PageByIndex(*bitmap)->data();
          });
      if (!hypothesis.Listed) continue;
      for (const std::uint32_t number : *hypothesis.Listed) {
        if (numbered.contains(number)) continue;
        const std::optional<std::size_t> data = pageAt(number);
        if (data && entries_[*data].Kind == TPageKind::Data &&
            entries_[*data].Owner == candidate.Owner)
          hypothesis.HeldNearby.insert(number);
      }
    }
    const std::vector<std::size_t> tied = TieByUsageMaps(hypotheses, numbered);
    std::set<std::size_t> tiedDefinitions;
    std::set<std::uint32_t> tiedOwners;
    for (const std::size_t h : tied) {
      TShapeCandidate& candidate = open[from[h]];
      anchors.push_back({candidate.Definition, candidate.Owner});
      tiedDefinitions.insert(candidate.Definition);
      tiedOwners.insert(candidate.Owner);
      shapeTies_.emplace(candidate.Owner, std::move(candidate.Parsed));
    }
    std::erase_if(open, [&](const TShapeCandidate& candidate) {
      return tiedDefinitions.contains(candidate.Definition) ||
             tiedOwners.contains(candidate.Owner);
    });
    return tied.size();
  }

  // Where the long-value pointers of a table's rows say their rows are (into `targets`) and,
  // given `anchors`, anchors from them: the LVAL page of a single-row value where only one
  // LVAL row on the source has the value's row number and length.
  std::size_t LongValueAnchors(
      const TTablePlan& plan, const TTableDefinition& definition,
      const std::map<std::pair<std::uint8_t, std::size_t>, std::vector<std::size_t>>& longValueRows,
      std::set<std::size_t>& anchored, std::vector<TPageAnchor>* anchors,
      std::multimap<std::uint32_t, std::pair<std::uint8_t, std::size_t>>& targets) const {
    std::size_t added = 0;
    for (const auto& [number, index] : plan.Pages) {
      const TPage page = *reader_.PageByIndex(index);
      for (const TSlot& slot : SlotsOf(page)) {
        // Live rows only: a deleted row's long value was freed with it, and its LVAL row (or
        // the whole page) may since hold something else, so its pointer says nothing of
        // where a page lies.
        if (slot.End == 0 || !IsLive(slot)) continue;
        const auto row =
            std::span<const std::uint8_t>(page).subspan(slot.Start, slot.End - slot.Start);
        ForEachLongValuePointer(row, definition, [&](const jet::TLongValueHead& head) {
          const bool chain = head.Kind == jet::TLongValueKind::Chain;
          // A chain's first part is at least its pointer; a single row, the whole value.
          targets.emplace(head.Where.Page,
                          std::pair<std::uint8_t, std::size_t>{
                              head.Where.Row, chain ? kChainPart : head.Length});
          if (chain || !anchors) return;
          const auto found =
              longValueRows.find({head.Where.Row, static_cast<std::size_t>(head.Length)});
          if (found == longValueRows.end() || found->second.size() != 1 ||
              !inDatabase_.contains(found->second[0]))
            return;
          if (anchored.insert(found->second[0]).second) {
            anchors->push_back({found->second[0], head.Where.Page});
            ++added;
          }
        });
      }
    }
    return added;
  }

  // The tables no definition fits, read as `rows` reads them: their data pages and the
  // database's LVAL pages, in the order the store holds them. Pages found in two versions
  // are left out as they are from typed tables.
  void ReadUntypedTables(const std::vector<TTablePlan>& plans) {
    std::set<std::size_t> pages;
    for (const TTablePlan& plan : plans) {
      if (plan.Definition) continue;
      for (const auto& [number, index] : plan.Pages) {
        if (versions_.Disputed.contains(index)) {
          untypedRowsOfTwoVersions_[plan.Owner] +=
              static_cast<std::int64_t>(LiveRowsOf(index).size());
          continue;
        }
        if (!versions_.Repeated.contains(index)) pages.insert(index);
      }
    }
    if (pages.empty()) return;
    for (const auto& [number, index] : database_.Pages) {
      if (entries_[index].Kind == TPageKind::Data && entries_[index].Owner == kLongValueOwner)
        pages.insert(index);
    }
    progress_.Progress("reading the untyped tables of " + report_.Name, 0, 1);
    untyped_ = std::make_unique<TUntypedRows>(
        store_, std::vector<std::size_t>(pages.begin(), pages.end()), fileSystem_,
        options_.OutputDir + options_.Separator + report_.Name + ".pages.tmp");
  }

  std::string SystemPath(const std::string& displayPath) {
    std::optional<std::string> path = fileSystem_.FromDisplayText(displayPath);
    if (!path)
      throw EQuillonError("Cannot create file \"" + displayPath +
                          "\". The system's code page cannot hold its name.");
    return *path;
  }

  // The user tables the catalog lists: those PlanTables gives, by the same rules.
  static std::vector<TCatalogTable> CatalogTables(
      const std::map<std::uint32_t, TCatalogEntry>& catalog) {
    std::vector<TCatalogTable> tables;
    for (const auto& [page, entry] : catalog) {
      if (IsSystemName(entry.Name) || (entry.Flags & jet::kSystemOrHiddenFlags) != 0) continue;
      tables.push_back({page, entry.Name, entry.DateUpdate});
    }
    return tables;
  }

  std::vector<TTablePlan> PlanTables(const std::map<std::uint32_t, TCatalogEntry>& catalog) {
    std::map<std::uint32_t, TTablePlan> byOwner = PagesByOwner();
    // Tables the catalog names with a definition but no data page left: empty tables.
    for (const auto& [page, entry] : catalog) {
      if (!byOwner.contains(page) && database_.Pages.contains(page)) byOwner[page];
    }
    std::vector<TTablePlan> plans;
    for (auto& [owner, plan] : byOwner) {
      plan.Owner = owner;
      std::sort(plan.Pages.begin(), plan.Pages.end());
      const auto named = catalog.find(owner);
      if (named != catalog.end()) {
        if (IsSystemName(named->second.Name) ||
            (named->second.Flags & jet::kSystemOrHiddenFlags) != 0)
          continue;
        plan.Name = named->second.Name;
        plan.NamedFromCatalog = true;
        plan.DateUpdate = named->second.DateUpdate;
      }
      std::optional<TTableDefinition> definition;
      if (const auto tied = shapeTies_.find(owner); tied != shapeTies_.end()) {
        definition = tied->second;
      } else {
        definition = DefinitionAt(reader_, entries_, database_, owner);
      }
      if (definition && definition->System) continue;
      if (definition && FitsRows(reader_, plan, *definition))
        plan.Definition = std::move(definition);
      if (!plan.NamedFromCatalog) {
        if (!plan.Definition && report_.CatalogFound) continue;  // pages of a dropped table
        plan.Name = "table-" + std::to_string(owner);
      }
      plans.push_back(std::move(plan));
    }
    return plans;
  }

  // Writes a table and its companions; false when its usage map could not be read.
  bool WriteTable(const TTablePlan& plan, TSqliteWriter* sqlite, std::set<std::string>& used) {
    TTableReport table;
    table.Name = plan.Name;
    table.DefinitionPage = plan.Owner;
    table.Typed = plan.Definition.has_value();
    table.NamedFromCatalog = plan.NamedFromCatalog;
    table.LastUpdate = plan.DateUpdate;

    if (!plan.Definition) {
      // Untyped: the columns `rows` shows, its rows read as it reads them.
      if (const auto left = untypedRowsOfTwoVersions_.find(plan.Owner);
          left != untypedRowsOfTwoVersions_.end())
        table.RowsOfTwoVersions = left->second;
      const std::optional<std::size_t> read =
          untyped_ ? untyped_->TableOf(plan.Owner) : std::nullopt;
      if (!read) {  // no row left: the table's columns are not known either
        const std::vector<TOutputColumn> columns = UntypedColumns(0);
        table.Columns = columns.size();
        for (const TOutputColumn& column : columns)
          table.ColumnList.push_back({column.Name, column.DeclaredType});
        TBegunPart part;
        part.Name = UniqueName(SqliteTableName(plan.Name), used);
        bool begun = false;
        Begin(part, begun, columns, sqlite, table);
        if (part.Csv) part.Csv->Finish();
        table.Parts.push_back({part.Name, part.CsvPath, 0});
      } else {
        WriteUntypedTable(
            *untyped_, *read, plan.Name, sqlite,
            [&](const std::string& name, const std::vector<TOutputColumn>& columns) {
              TBegunPart part;
              part.Name = UniqueName(SqliteTableName(name), used);
              bool begun = false;
              Begin(part, begun, columns, sqlite, table);
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
    owned = TrustedUsageMap(plan.Owner, *plan.Definition);

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
    parts[0].Name = UniqueName(sqliteName, used);
    parts[1].Name = UniqueName(sqliteName + " (deleted)", used);
    parts[2].Name = UniqueName(sqliteName + " (stale)", used);
    for (std::size_t part = 0; part < parts.size(); ++part) {
      bool begun = false;
      if (part == 0) Begin(parts[0], begun, columns, sqlite, table);
      for (const auto& [number, index] : plan.Pages) {
        if (reader_.StopSeen()) break;
        const TPage page = *reader_.PageByIndex(index);
        const bool stale = IsStale(owned, number);
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
              outOfOrder_ && !longValuesChecked_.contains(plan.Owner)
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
          if (!begun) Begin(parts[part], begun, columns, sqlite, table);
          ++parts[part].Rows;
          if (sqlite) sqlite->Insert(values);
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

  template <class TPart>
  void Begin(TPart& part, bool& begun, const std::vector<TOutputColumn>& columns,
             TSqliteWriter* sqlite, TTableReport& table) {
    begun = true;
    if (sqlite) sqlite->BeginTable(part.Name, columns);
    if (xlsx_) xlsx_->BeginTable(part.Name, columns);
    if constexpr (requires { part.Xlsx; }) part.Xlsx = xlsx_.get();
    if (options_.WriteCsv) {
      // Unique also where the folder's file system folds case in ways FileNameKey does not.
      std::string file = UniqueFileName(FileNameOf(part.Name), csvNames_);
      while (fileSystem_.Facts(SystemPath(report_.CsvFolder + options_.Separator + file + ".csv")).Kind !=
             TPathKind::Missing)
        file = UniqueFileName(file, csvNames_);
      if (file != part.Name) table.NameChanges.push_back({"file", part.Name, file + ".csv"});
      part.CsvPath = report_.CsvFolder + options_.Separator + file + ".csv";
      part.Csv = std::make_unique<TCsvWriter>(fileSystem_, SystemPath(part.CsvPath), part.CsvPath,
                                              columns);
    }
  }

  const IPageStore& store_;
  const std::vector<TPageEntry>& entries_;
  TDatabasePages database_;  // renumbered from anchors when its pages lie out of order
  TDatabaseReader reader_;
  bool outOfOrder_ = false;
  // Out of order: the page numbers whose pages lie at their places all the same.
  std::set<std::uint32_t> inPlace_;
  // Out of order: pages of which another version was found (an older copy's), left unread.
  TPageVersions versions_;
  std::map<std::uint32_t, std::int64_t> untypedRowsOfTwoVersions_;  // owner → rows left out
  std::map<std::uint32_t, TTableDefinition> shapeTies_;  // owner → definition tied by shape
  // Out of order: the tables whose long-value pointers the numbering agrees with. Another
  // table's pointers could land on a page numbered without them: its long values are not
  // looked for.
  std::set<std::uint32_t> longValuesChecked_;
  TNoLongValues noLongValues_;
  std::unordered_map<std::int64_t, std::size_t> definitionByOffset_;  // out of order only
  std::unordered_set<std::size_t> inDatabase_;  // store indices of this database's pages
  // CSV file names given (two table names can become one file name: "a/b" and "a_b")
  std::set<std::string> csvNames_;
  IFileSystem& fileSystem_;
  const TRecoveryOptions& options_;
  IRecoveryProgress& progress_;
  TDatabaseReport& report_;
  bool stopped_ = false;
  // The user tables the catalog lists, read with the tables' plans, accounted for at the end.
  std::vector<TCatalogTable> catalogTables_;
  std::unique_ptr<TUntypedRows> untyped_;  // the tables no definition fits
  std::unique_ptr<TXlsxWriter> xlsx_;       // the workbook, where one is written
};

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
  // Pages go to a database by what they say: their rows fit its definitions exactly, and
  // their long values' pointers find their rows.
  const auto judge = [&](std::size_t index, const TTableDefinition& definition) {
    TPageJudgement judgement;
    pages.Read(index, page);
    std::size_t tried = 0;
    for (const TSlot& slot : SlotsOf(page)) {
      // Live rows only: a deleted row's long value was freed with it.
      if (slot.End == 0 || !IsLive(slot)) continue;
      const auto row = std::span<const std::uint8_t>(page).subspan(slot.Start, slot.End - slot.Start);
      if (tried++ < kRowsJudgedForPlacement && !HasExactShape(row, definition)) {
        judgement.Fits = false;
        judgement.Targets.clear();
        return judgement;
      }
      ForEachLongValuePointer(row, definition, [&](const jet::TLongValueHead& head) {
        judgement.Targets.push_back({head.Where.Page, head.Where.Row, head.Length,
                                     head.Kind == jet::TLongValueKind::Chain});
      });
    }
    if (tried > 0) judgement.Fits = true;
    return judgement;
  };
  const std::vector<std::int64_t> bases = FindDatabaseBases(entries, definitions);
  std::vector<TDatabasePages> databases = TellDatabasesApart(entries, bases);
  MovePlacedPages(databases,
                  PlaceRuns(pages, entries, bases,
                            {judge, [&progress] { return progress.StopRequested(); }}),
                  entries);
  std::int64_t placed = 0;
  std::vector<bool> used(entries.size(), false);  // pages a database was written from
  for (const TDatabasePages& database : databases) {
    if (progress.StopRequested()) {
      report.Stopped = true;
      break;
    }
    TDatabaseReport databaseReport;
    databaseReport.Number = static_cast<int>(report.Databases.size()) + 1;
    databaseReport.Name = "database-" + std::to_string(databaseReport.Number);
    TDatabaseRecovery recovery(pages, entries, database, fileSystem, options, progress,
                               databaseReport);
    if (!recovery.Run()) {
      if (!recovery.Stopped()) continue;  // no table in it: nothing to give
      report.Stopped = true;
      break;
    }
    placed += databaseReport.Pages;
    for (const std::size_t index : recovery.PagesUsed()) used[index] = true;
    report.Stopped |= recovery.Stopped();
    report.Databases.push_back(std::move(databaseReport));
  }
  report.PagesUnplaced = report.PagesInStore - placed;
  // The data pages no database was written from still come out, untyped.
  if (!report.Stopped && !progress.StopRequested()) {
    std::vector<std::size_t> unplaced;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (entries[i].Kind == TPageKind::Data &&
          (!used[i] || entries[i].Owner == kLongValueOwner))
        unplaced.push_back(i);
    }
    TDatabaseReport unplacedReport;
    if (RecoverUnplacedPages(pages, unplaced, fileSystem, options, progress, unplacedReport))
      report.Databases.push_back(std::move(unplacedReport));
    report.Stopped |= progress.StopRequested();
  } else {
    report.Stopped = true;
  }
  return report;
}

}  // namespace quillon::recover
