#include "recover/recovery.h"

#include <algorithm>
#include <array>
#include <map>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "core/errors.h"
#include "recover/database_layout.h"
#include "recover/recovery_report.h"
#include "recover/row_values.h"
#include "recover/table_definition.h"
#include "recover/table_output.h"
#include "recover/untyped_tables.h"
#include "rows/byte_reading.h"

namespace quillon::recover {
namespace {

using TPage = std::array<std::uint8_t, kPageSize>;

constexpr std::uint32_t kCatalogPage = 2;
constexpr std::size_t kMaxDefinitionPages = 64;
constexpr std::uint16_t kSlotOffsetMask = 0x1FFF;
constexpr std::uint16_t kSlotFlagsMask = 0xC000;
constexpr std::uint16_t kSlotDeleted = 0xC000;
constexpr std::uint16_t kSlotPointer = 0x4000;
constexpr std::size_t kRowTableAt = 14;
constexpr std::size_t kRowCountAt = 12;
constexpr std::size_t kBitmapPageSpan = 8 * 4092;
constexpr int kNumberingRounds = 8;
constexpr std::size_t kChainPart = SIZE_MAX;  // a pointer to a chain's first part, of any length

struct TSlot {
  std::uint16_t Start = 0, End = 0, Flags = 0;
};

// The row slots of a data page that lie inside it, after its offset table.
std::vector<TSlot> SlotsOf(std::span<const std::uint8_t, kPageSize> page) {
  std::vector<TSlot> slots;
  const std::size_t count = LoadU16(page, kRowCountAt);
  if (kRowTableAt + 2 * count > kPageSize) return slots;
  std::size_t previousEnd = kPageSize;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint16_t entry = LoadU16(page, kRowTableAt + 2 * i);
    TSlot slot;
    slot.Start = entry & kSlotOffsetMask;
    slot.End = static_cast<std::uint16_t>(i == 0 ? kPageSize : previousEnd);
    slot.Flags = entry & kSlotFlagsMask;
    previousEnd = slot.Start;
    if (slot.Start < kRowTableAt + 2 * count || slot.Start >= slot.End || slot.End > kPageSize) {
      slot.Start = slot.End = 0;  // not a row that can be read
    }
    slots.push_back(slot);
  }
  return slots;
}

// For rows whose long values cannot be told apart from others': none is found.
class TNoLongValues : public ILongValueRows {
 public:
  std::optional<std::vector<std::uint8_t>> Row(std::uint32_t, std::uint8_t) const override {
    return std::nullopt;
  }
};

// Reads pages of one database by their page numbers, keeping the last few read.
class TDatabaseReader : public ILongValueRows {
 public:
  TDatabaseReader(const IPageStore& store, const std::vector<TPageEntry>& entries,
                  const TDatabasePages& database)
      : store_(store), entries_(entries), database_(database) {}

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
    auto& slot = cache_[next_++ % cache_.size()];
    slot.first = index;
    store_.Read(index, slot.second);
    return &slot.second;
  }

  std::optional<std::vector<std::uint8_t>> RowOf(std::uint32_t number, std::uint8_t row,
                                                 bool longValue) const {
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

 private:
  const IPageStore& store_;
  const std::vector<TPageEntry>& entries_;
  const TDatabasePages& database_;
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
    if (bytesOfPage[0] != 0x02 || bytesOfPage[1] != 0x01) return std::nullopt;
    bytes.insert(bytes.end(), bytesOfPage.begin() + (i == 0 ? 0 : 8), bytesOfPage.end());
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
std::map<std::uint32_t, TCatalogEntry> ReadCatalog(const TDatabaseReader& reader,
                                                   const std::vector<TPageEntry>& entries,
                                                   const TDatabasePages& database,
                                                   const TTableDefinition& definition) {
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
    const TPage page = *reader.PageByIndex(index);
    for (const TSlot& slot : SlotsOf(page)) {
      if (slot.End == 0 || (slot.Flags != 0 && slot.Flags != 0x8000)) continue;
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
      const auto tablePage = static_cast<std::uint32_t>((*values)[id].Integer & 0x00FFFFFF);
      if (catalogEntry.Type == 1) catalog[tablePage] = std::move(catalogEntry);
    }
  }
  return catalog;
}

// The pages a table's usage map lists, or nothing when the map cannot be read.
std::optional<std::set<std::uint32_t>> UsageMapOf(const TDatabaseReader& reader,
                                                  const std::vector<TPageEntry>& entries,
                                                  const TDatabasePages& database,
                                                  std::uint32_t pointer) {
  const std::uint32_t mapPage = pointer >> 8;
  const auto row = static_cast<std::uint8_t>(pointer & 0xFF);
  std::optional<std::vector<std::uint8_t>> map = reader.RowOf(mapPage, row, false);
  if (!map || map->size() < 5) return std::nullopt;
  std::set<std::uint32_t> pages;
  const std::span<const std::uint8_t> bytes(*map);
  if (bytes[0] == 0) {
    const std::uint32_t first = LoadU32(bytes, 1);
    for (std::size_t bit = 0; bit < (bytes.size() - 5) * 8; ++bit) {
      if ((bytes[5 + bit / 8] >> (bit % 8)) & 1)
        pages.insert(first + static_cast<std::uint32_t>(bit));
    }
    return pages;
  }
  if (bytes[0] != 1) return std::nullopt;
  for (std::size_t i = 0; 1 + 4 * i + 4 <= bytes.size(); ++i) {
    const std::uint32_t bitmapPage = LoadU32(bytes, 1 + 4 * i);
    if (bitmapPage == 0) continue;
    const auto found = database.Pages.find(bitmapPage);
    if (found == database.Pages.end() || entries[found->second].Kind != TPageKind::UsageMap)
      return std::nullopt;  // a part of the map is missing: the map cannot be trusted
    const TPage& page = *reader.PageByIndex(found->second);
    for (std::size_t bit = 0; bit < kBitmapPageSpan; ++bit) {
      if ((page[4 + bit / 8] >> (bit % 8)) & 1)
        pages.insert(static_cast<std::uint32_t>(i * kBitmapPageSpan + bit));
    }
  }
  return pages;
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

// Does the definition fit the table's rows? Most of the rows read must have its shape.
bool FitsRows(const TDatabaseReader& reader, const TTablePlan& plan,
              const TTableDefinition& definition) {
  std::size_t tried = 0, fitted = 0;
  for (const auto& [number, index] : plan.Pages) {
    const TPage page = *reader.PageByIndex(index);
    for (const TSlot& slot : SlotsOf(page)) {
      if (slot.End == 0 || slot.Flags == kSlotPointer) continue;
      ++tried;
      if (ShapeOfRow(std::span(page).subspan(slot.Start, slot.End - slot.Start), definition))
        ++fitted;
      if (tried >= 64) break;
    }
    if (tried >= 64) break;
  }
  return tried == 0 || fitted * 10 >= tried * 9;
}

// A long-value pointer in a memo or OLE column of a row: its 12 bytes' head (flags in the
// top two bits, the value's length below), and the LVAL row it names.
struct TLongValuePointer {
  std::uint32_t Flags = 0;  // 0x80 inline, 0x40 one row, 0 a chain of rows
  std::size_t Length = 0;
  std::uint32_t Page = 0;
  std::uint8_t Row = 0;
};

// Calls visit with every long-value pointer of a row that fits definition's shape.
template <class TVisit>
void ForEachLongValuePointer(std::span<const std::uint8_t> row, const TTableDefinition& definition,
                             TVisit&& visit) {
  const std::optional<TRowShape> shape = ShapeOfRow(row, definition);
  if (!shape) return;
  for (const TColumn& column : definition.Columns) {
    if ((column.Type != TColumnType::Memo && column.Type != TColumnType::Ole) || column.Fixed ||
        column.VarIndex >= shape->VarCount)
      continue;
    const std::size_t start = shape->VarOffsets[column.VarIndex];
    if (shape->VarOffsets[column.VarIndex + 1] < start + 12) continue;
    const std::uint32_t head = LoadU32(row, start);
    visit(TLongValuePointer{(head >> 24) & 0xC0, head & 0x3FFFFFFF, LoadU24(row, start + 5),
                            row[start + 4]});
  }
}

// Do the rows have exactly the definition's shape? Every row sampled must: the column count
// the definition last had, the fixed part exactly as long as it describes, and fields no
// longer than their columns allow. Used to tie a definition by shape alone.
bool HasExactShape(std::span<const std::uint8_t> row, const TTableDefinition& definition) {
  const std::optional<TRowShape> shape = ShapeOfRow(row, definition);
  if (!shape || shape->ColumnCount != definition.HighestColumnCount) return false;
  if (shape->FixedEnd != 2u + definition.FixedLength) return false;
  for (const TColumn& column : definition.Columns) {
    if (column.Fixed || column.VarIndex >= shape->VarCount) continue;
    const std::size_t length =
        shape->VarOffsets[column.VarIndex + 1] - shape->VarOffsets[column.VarIndex];
    const std::uint16_t natural = NaturalSize(column.Type);
    if (length == 0) continue;
    if (natural != 0 && length != natural) return false;
    if ((column.Type == TColumnType::Text || column.Type == TColumnType::Binary) &&
        length > column.Size)
      return false;
    if ((column.Type == TColumnType::Memo || column.Type == TColumnType::Ole) && length < 12)
      return false;
  }
  return true;
}

bool FitsExactly(const TDatabaseReader& reader, const TTablePlan& plan,
                 const TTableDefinition& definition) {
  std::size_t tried = 0;
  for (const auto& [number, index] : plan.Pages) {
    const TPage page = *reader.PageByIndex(index);
    for (const TSlot& slot : SlotsOf(page)) {
      if (slot.End == 0 || (slot.Flags != 0 && slot.Flags != 0x8000)) continue;
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
        reader_(store, entries, database_),
        fileSystem_(fileSystem),
        options_(options),
        progress_(progress),
        report_(report) {}

  bool Run() {
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
      Renumber();
    }
    progress_.Progress("reading the catalog of " + report_.Name, 0, 1);
    std::optional<TTableDefinition> catalogDefinition =
        DefinitionAt(reader_, entries_, database_, kCatalogPage);
    const std::map<std::uint32_t, TCatalogEntry> catalog =
        ReadCatalog(reader_, entries_, database_,
                    catalogDefinition ? *catalogDefinition : BuiltInCatalogDefinition());
    report_.CatalogFound = !catalog.empty();
    std::vector<TTablePlan> plans = PlanTables(catalog);
    if (plans.empty()) return false;

    const std::string stem = options_.OutputDir + "/" + report_.Name;
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
    ReadUntypedTables(plans);
    std::set<std::string> used;
    std::int64_t done = 0;
    bool usageMapsRead = true;
    for (TTablePlan& plan : plans) {
      if (progress_.StopRequested()) {
        stopped_ = true;
        break;
      }
      progress_.Progress("table " + plan.Name, done++, static_cast<std::int64_t>(plans.size()));
      usageMapsRead &= WriteTable(plan, sqlite.get(), used);
    }
    report_.UsageMapsRead = usageMapsRead;
    if (sqlite) sqlite->Finish();
    for (const TTableReport& table : report_.Tables) {
      report_.LastUpdate = std::max(report_.LastUpdate, table.LastUpdate);
    }
    return true;
  }

  bool Stopped() const { return stopped_; }

  // The store indices of the pages read as this database's (its tables and long values).
  std::vector<std::size_t> PagesUsed() const {
    std::vector<std::size_t> used;
    for (const auto& [number, index] : database_.Pages) used.push_back(index);
    return used;
  }

 private:
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

  // Do the pages lie in order? Most data pages must belong to a table whose owner value
  // lands on a definition that fits its rows, and be listed by that table's usage map where
  // it can be read, as in a database whose file is whole on the source, and no page a map
  // lists may lie elsewhere. Pages of pieces moved about fail the map; pages before its
  // page 0 fail outright. The LVAL pages carry no owner or map of their own: the long-value
  // pointers of those listed rows must each find their value where its page number lies,
  // or a piece of LVAL pages moved in behind the data pages would give memos of rows that
  // happen to have the length asked for.
  bool NumberingHolds() const {
    std::size_t total = 0, good = 0, misplacedLongValues = 0;
    bool moved = false;
    for (const auto& [owner, plan] : PagesByOwner()) {
      total += plan.Pages.size();
      TTablePlan numbered = plan;
      std::erase_if(numbered.Pages, [](const auto& page) { return page.first >= kUnnumberedPage; });
      const std::optional<TTableDefinition> definition =
          DefinitionAt(reader_, entries_, database_, owner);
      if (!definition || !FitsRows(reader_, numbered.Pages.empty() ? plan : numbered, *definition))
        continue;
      const std::optional<std::set<std::uint32_t>> owned =
          UsageMapOf(reader_, entries_, database_, definition->UsageMapPointer);
      for (const auto& [number, index] : numbered.Pages) good += !owned || owned->contains(number);
      for (const auto& [number, index] : numbered.Pages) {
        if (!owned || owned->contains(number))
          misplacedLongValues += LongValuesMisplaced(index, *definition);
      }
      // Pages of the table the map does not list, or before page 0, while a page the map
      // lists has another page at its place: pieces were exchanged (the threshold above
      // allows for stale pages, not for this). A listed page missing at its place while
      // pages of the table lie before page 0: a piece moved ahead, not the remains of an
      // older copy.
      const bool before = numbered.Pages.size() < plan.Pages.size();
      const std::uint32_t tableOwner = owner;  // a structured binding cannot be captured here
      const bool unlisted =
          owned && std::any_of(numbered.Pages.begin(), numbered.Pages.end(),
                               [&](const auto& page) { return !owned->contains(page.first); });
      if (owned && (before || unlisted) &&
          std::any_of(owned->begin(), owned->end(), [&](std::uint32_t number) {
            const auto found = database_.Pages.find(number);
            if (found == database_.Pages.end()) return before;
            const TPageEntry& entry = entries_[found->second];
            return entry.Kind != TPageKind::Data || entry.Owner != tableOwner;
          }))
        moved = true;
    }
    if (misplacedLongValues > 0 || moved) return false;
    if (total == 0) return true;  // nothing to judge by, nothing to lose
    return good * 10 >= total * 8;
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
      if (slot.End == 0 || (slot.Flags != 0 && slot.Flags != 0x8000)) continue;
      const auto row =
          std::span<const std::uint8_t>(page).subspan(slot.Start, slot.End - slot.Start);
      ForEachLongValuePointer(row, definition, [&](const TLongValuePointer& pointer) {
        const std::uint32_t flags = pointer.Flags;
        const std::size_t length = pointer.Length;
        if (flags != 0 && flags != 0x40) return;
        std::uint32_t number = pointer.Page;
        std::uint8_t rowNumber = pointer.Row;
        std::optional<std::vector<std::uint8_t>> part = rowAt(number, rowNumber);
        if (!part) return;
        if (flags == 0x40) {
          misplaced += part->size() != length ? 1 : 0;
          return;
        }
        std::size_t total = 0;
        for (std::size_t parts = 0; part && parts < 1u << 16; ++parts) {
          if (part->size() < 4 || total + part->size() - 4 > length) {
            total = SIZE_MAX;
            break;
          }
          total += part->size() - 4;
          rowNumber = (*part)[0];
          number = LoadU24(*part, 1);
          if (number == 0 && rowNumber == 0) break;
          part = rowAt(number, rowNumber);
        }
        // A chain cut short by a lost page proves nothing; one that runs over or ends
        // early does.
        if (part && total != length) ++misplaced;
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
      if (page[0] != 0x02 || page[1] != 0x01) return std::nullopt;
      bytes.insert(bytes.end(), page.begin() + (i == 0 ? 0 : 8), page.end());
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
            (slot.Flags == 0 || slot.Flags == 0x8000))
          return LoadU16(page, slot.Start);
      }
    }
    return std::nullopt;
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
      if (entry.Kind == TPageKind::Header) anchors.push_back({index, 0});
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
    // count of each table's first row: only those that agree are parsed and tried.
    std::multimap<std::uint16_t, std::size_t> byColumnCount;
    for (const std::size_t index : definitionPages)
      byColumnCount.emplace(LoadU16(*reader_.PageByIndex(index), 41), index);
    for (const auto& [owner, plan] : byOwner) {
      const std::optional<std::uint16_t> columns = FirstRowColumnCount(plan);
      if (!columns) continue;
      const auto [from, to] = byColumnCount.equal_range(*columns);
      for (auto candidate = from; candidate != to; ++candidate) {
        const std::size_t index = candidate->second;
        std::optional<TTableDefinition> definition = DefinitionFromPage(index, owner);
        if (!definition || definition->System || !FitsExactly(reader_, plan, *definition)) continue;
        fitsOf[index].push_back(owner);
        fits[owner].emplace_back(index, std::move(*definition));
      }
    }
    for (auto& [owner, candidates] : fits) {
      if (candidates.size() != 1 || fitsOf[candidates[0].first].size() != 1) continue;
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
      if (round > 0 && read == 0) break;
      database_ = NumberFromAnchors(entries_, grid, anchors, agrees);
    }
    longValuesChecked_ = std::move(pointersRead);
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
        if (slot.End == 0 || slot.Flags == kSlotPointer) continue;
        const auto row =
            std::span<const std::uint8_t>(page).subspan(slot.Start, slot.End - slot.Start);
        ForEachLongValuePointer(row, definition, [&](const TLongValuePointer& pointer) {
          // A chain's first part is at least its pointer; a single row, the whole value.
          if (pointer.Flags == 0 || pointer.Flags == 0x40)
            targets.emplace(pointer.Page,
                            std::pair<std::uint8_t, std::size_t>{
                                pointer.Row, pointer.Flags == 0 ? kChainPart : pointer.Length});
          if (pointer.Flags != 0x40 || !anchors) return;
          const auto found = longValueRows.find({pointer.Row, pointer.Length});
          if (found == longValueRows.end() || found->second.size() != 1 ||
              !inDatabase_.contains(found->second[0]))
            return;
          if (anchored.insert(found->second[0]).second) {
            anchors->push_back({found->second[0], pointer.Page});
            ++added;
          }
        });
      }
    }
    return added;
  }

  // The tables no definition fits, read as `rows` reads them: their data pages and the
  // database's LVAL pages, in the order the store holds them.
  void ReadUntypedTables(const std::vector<TTablePlan>& plans) {
    std::set<std::size_t> pages;
    for (const TTablePlan& plan : plans) {
      if (plan.Definition) continue;
      for (const auto& [number, index] : plan.Pages) pages.insert(index);
    }
    if (pages.empty()) return;
    for (const auto& [number, index] : database_.Pages) {
      if (entries_[index].Kind == TPageKind::Data && entries_[index].Owner == kLongValueOwner)
        pages.insert(index);
    }
    progress_.Progress("reading the untyped tables of " + report_.Name, 0, 1);
    untyped_ = std::make_unique<TUntypedRows>(
        store_, std::vector<std::size_t>(pages.begin(), pages.end()), fileSystem_,
        options_.OutputDir + "/" + report_.Name + ".pages.tmp");
  }

  std::string SystemPath(const std::string& displayPath) {
    std::optional<std::string> path = fileSystem_.FromDisplayText(displayPath);
    if (!path)
      throw EQuillonError("Cannot create file \"" + displayPath +
                          "\". The system's code page cannot hold its name.");
    return *path;
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
        if (IsSystemName(named->second.Name) || (named->second.Flags & 0x80000002) != 0) continue;
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
      const std::optional<std::size_t> read =
          untyped_ ? untyped_->TableOf(plan.Owner) : std::nullopt;
      if (!read) {  // no row left: the table's columns are not known either
        const std::vector<TOutputColumn> columns = UntypedColumns(0);
        table.Columns = columns.size();
        for (const TOutputColumn& column : columns)
          table.ColumnList.push_back({column.Name, column.DeclaredType});
        TBegunPart part;
        part.Name = UniqueName(plan.Name, used);
        bool begun = false;
        Begin(part, begun, columns, sqlite);
        if (part.Csv) part.Csv->Finish();
        table.Parts.push_back({part.Name, part.CsvPath, 0});
      } else {
        WriteUntypedTable(
            *untyped_, *read, plan.Name, sqlite,
            [&](const std::string& name, const std::vector<TOutputColumn>& columns) {
              TBegunPart part;
              part.Name = UniqueName(name, used);
              bool begun = false;
              Begin(part, begun, columns, sqlite);
              return part;
            },
            table);
      }
      report_.Tables.push_back(std::move(table));
      return true;
    }
    std::vector<TOutputColumn> columns;
    for (const TColumn& column : plan.Definition->Columns) {
      const bool text = column.Type == TColumnType::Text || column.Type == TColumnType::Memo;
      columns.push_back({column.Name, DeclaredTypeOf(column), text});
    }
    table.Columns = columns.size();
    for (const TOutputColumn& column : columns)
      table.ColumnList.push_back({column.Name, column.DeclaredType});

    std::optional<std::set<std::uint32_t>> owned;
    // Out of order, a page's number is not always known, nor always right where a piece
    // ends short of the window its anchor numbers (the file's last piece: the next piece's
    // pages get numbers past the file's end, which no map lists). No page is called stale
    // then; the report says so.
    if (!outOfOrder_)
      owned = UsageMapOf(reader_, entries_, database_, plan.Definition->UsageMapPointer);

    // Live rows first, then each companion: one pass over the pages per kind, so that
    // each SQLite table is written whole before the next begins.
    struct TPart {
      std::string Name;
      std::unique_ptr<TCsvWriter> Csv;
      std::string CsvPath;
      std::int64_t Rows = 0;
    };
    std::array<TPart, 3> parts;
    parts[0].Name = UniqueName(plan.Name, used);
    parts[1].Name = UniqueName(plan.Name + " (deleted)", used);
    parts[2].Name = UniqueName(plan.Name + " (stale)", used);
    for (std::size_t part = 0; part < parts.size(); ++part) {
      bool begun = false;
      if (part == 0) Begin(parts[0], begun, columns, sqlite);
      for (const auto& [number, index] : plan.Pages) {
        const TPage page = *reader_.PageByIndex(index);
        const bool stale = owned && !owned->contains(number);
        for (const TSlot& slot : SlotsOf(page)) {
          if (slot.End == 0 || slot.Flags == kSlotPointer) continue;
          const std::size_t kind = slot.Flags == kSlotDeleted ? 1 : stale ? 2 : 0;
          if (kind != part) continue;
          const auto bytes =
              std::span<const std::uint8_t>(page).subspan(slot.Start, slot.End - slot.Start);
          std::optional<std::vector<TValue>> decoded = DecodeRow(
              bytes, *plan.Definition,
              outOfOrder_ && !longValuesChecked_.contains(plan.Owner)
                  ? static_cast<const ILongValueRows&>(noLongValues_)
                  : static_cast<const ILongValueRows&>(reader_));
          if (!decoded) {
            if (part == 0) ++table.UnreadableRows;
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
          if (!begun) Begin(parts[part], begun, columns, sqlite);
          ++parts[part].Rows;
          if (sqlite) sqlite->Insert(values);
          if (parts[part].Csv) parts[part].Csv->Row(values);
        }
      }
      if (parts[part].Csv) parts[part].Csv->Finish();
      if (begun) table.Parts.push_back({parts[part].Name, parts[part].CsvPath, parts[part].Rows});
    }
    report_.Tables.push_back(std::move(table));
    return owned.has_value();
  }

  template <class TPart>
  void Begin(TPart& part, bool& begun, const std::vector<TOutputColumn>& columns,
             TSqliteWriter* sqlite) {
    begun = true;
    if (sqlite) sqlite->BeginTable(part.Name, columns);
    if (options_.WriteCsv) {
      part.CsvPath =
          report_.CsvFolder + "/" + UniqueName(FileNameOf(part.Name), csvNames_) + ".csv";
      part.Csv = std::make_unique<TCsvWriter>(fileSystem_, SystemPath(part.CsvPath), part.CsvPath,
                                              columns);
    }
  }

  const IPageStore& store_;
  const std::vector<TPageEntry>& entries_;
  TDatabasePages database_;  // renumbered from anchors when its pages lie out of order
  TDatabaseReader reader_;
  bool outOfOrder_ = false;
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
  std::unique_ptr<TUntypedRows> untyped_;  // the tables no definition fits
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
  const std::vector<TDatabasePages> databases = TellDatabasesApart(entries, definitions);
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
    if (!recovery.Run()) continue;  // no table in it: nothing to give
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
