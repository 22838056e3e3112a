#include "recover/run_placement.h"

#include <algorithm>
#include <array>
#include <map>
#include <set>
#include <unordered_map>
#include <utility>

#include "jet/table_definition.h"
#include "jet/catalog.h"
#include "jet/row_slots.h"
#include "jet/usage_map.h"
#include "recover/page_slots.h"

namespace quillon::recover {
namespace {

struct TPlacementStopped {};

constexpr std::int64_t kPage = static_cast<std::int64_t>(kPageSize);
constexpr std::size_t kMaxDefinitionPages = 64;
// The system tables' definitions lie at pages 2 to 5: a base whose page 0 and 1 are lost
// has its home from the first of them that is left.
constexpr std::int64_t kLastSystemPage = 5;
// Pages that a database's own stretch can lack in the store (index pages are not kept): a
// run goes on over a gap this wide at most.
constexpr std::int64_t kMaxGapPages = 96;
// A base from votes alone has its home at its first page within this many pages of it.
constexpr std::int64_t kMaxVotedHomeGap = 64;
// Rounds of placing pieces: a piece placed can hold the definition or the usage map by
// which the next is placed, so the rounds go on until one places nothing more. Each round
// that goes on has placed at least one piece, which no later round moves, so the rounds end
// by themselves; the cap only bounds the work on a source of very many small pieces.
constexpr int kMaxPlacingRounds = 64;
// Page numbers a piece may start at, tried per piece: a usage map lists at most this many
// places for the piece's first page of its table (bounds the work on a huge table).
constexpr std::size_t kMaxStartsTried = 1 << 16;
// Pages judged at all the places tried for one piece, at most.
constexpr std::size_t kMaxPlacingWork = 1 << 24;
// Long values of a piece's own rows that must be found at a place to place it by them
// (see PlaceByOwnLongValues), and the places tried for one piece at most.
constexpr std::size_t kMinOwnLongValues = 2;
constexpr std::size_t kMaxOwnLongValuePlaces = 256;
constexpr std::size_t kOwnLongValueGuides = 64;
// Times a piece that no single place holds is cut at its widest gap and tried again.
constexpr int kMaxSplits = 4;
// Pages of each table in a piece whose maps give the places tried.
constexpr int kGuidesPerTable = 4;
// Pages of a table judged against a definition found beside them.
constexpr std::size_t kPagesJudged = 4;
// Loose data pages of one owner value judged against a definition lying apart: every one,
// up to this many. Loose pages of one owner value can be two databases' (a table at the
// same page number in each), and a definition must fit them all to be tied to either.
constexpr std::size_t kLoosePagesJudged = 64;
// How many more stale pages every other place for a piece must make than the one chosen,
// where that one makes some: Access leaves stale pages among a table's own, so the right
// place need not make none.
constexpr std::size_t kStaleMargin = 2;

bool IsLongValuePage(const TPageEntry& entry) {
  return entry.Kind == TPageKind::Data && entry.Owner == jet::kLvalOwner;
}

// A data page of a table (not LVAL, not the catalog's own page 0 or 1).
bool IsTablePage(const TPageEntry& entry) {
  return entry.Kind == TPageKind::Data && entry.Owner != jet::kLvalOwner && entry.Owner >= 2;
}

// What a page says of its belonging to a database.
enum class TSays : std::uint8_t {
  Nothing,  // no definition of its table there to judge by, or no live row to judge
  For,      // its owner value lands on a definition there that its rows fit exactly
  Against,  // its owner value lands on a page there that is no definition its rows fit
  Unsure,   // its rows fit the definition there, but so do they another database's
            // definition at that number (a copy, or a database of the same design)
};

struct TDatabase {
  std::int64_t Base = 0;
  std::map<std::uint32_t, std::size_t> Pages;  // page number → store index
  // Parsed definitions by page number (nothing: no whole definition there), and usage
  // maps by owner value; both forgotten when pages are added.
  std::map<std::uint32_t, std::optional<TTableDefinition>> Definitions;
  std::map<std::uint32_t, std::optional<std::set<std::uint32_t>>> Listed;
  // What its placed pages say of the numbers it has no page at yet, also forgotten when
  // pages are added: the owner value of the table whose usage map lists each (numbers
  // that two maps list are left out), and the long values its live rows point to there.
  std::optional<std::map<std::uint32_t, std::uint32_t>> ListedOwner;
  std::optional<std::multimap<std::uint32_t, TLongValueTarget>> Wanted;
  std::optional<std::set<std::uint32_t>> Catalog;  // see NamedPagesOf
  std::optional<std::multimap<std::uint32_t, TLongValueTarget>> Pointed;  // see PointedOf
  std::set<std::uint32_t> BitmapPages;  // the bitmap pages its usage maps were read from
  std::set<std::uint32_t> Tables;       // its user tables' definition pages, by its catalog
};

class TPlacer {
 public:
  TPlacer(const IPageStore& store, const std::vector<TPageEntry>& entries,
          const TPlacementReading& reading)
      : store_(store),
        entries_(entries),
        judge_(reading.Judge),
        stopRequested_(reading.StopRequested),
        homeStarts_(reading.HomeStarts) {}

  std::vector<TDatabasePages> Place(const std::vector<std::int64_t>& bases,
                                    TPlacementCounts* counts) {
    CutRuns(bases);
    if (counts) counts->Runs = runs_.size();
    std::vector<std::int64_t> sorted = bases;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    for (const std::int64_t base : sorted) {
      if (base < 0) continue;
      databases_.push_back({});
      databases_.back().Base = base;
    }
    PlaceHomes();
    PlacePieces(counts);
    return Result();
  }

 private:
  // Runs of pages on one 4096-byte grid. The store holds no index pages, so a database's
  // own pages can lie up to kMaxGapPages apart in it; what lies between two runs is then
  // something else. A header page, or a page at a base's offset, begins a run of its own
  // (nothing of a file lies just before its page 0).
  void CutRuns(const std::vector<std::int64_t>& bases) {
    const std::set<std::int64_t> baseSet(bases.begin(), bases.end());
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      if (entries_[i].SourceOffset >= 0) order.push_back(i);
    }
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      return entries_[a].SourceOffset < entries_[b].SourceOffset;
    });
    std::unordered_map<std::int64_t, std::pair<std::int64_t, std::size_t>> lastOnGrid;
    for (const std::size_t index : order) {
      const std::int64_t offset = entries_[index].SourceOffset;
      // Two pages at one offset: the first is kept; the other is placed nowhere.
      if (!byOffset_.emplace(offset, index).second) continue;
      sortedOffsets_.insert(offset);
      const auto before = lastOnGrid.find(offset % kPage);
      std::size_t run = runs_.size();
      if (before != lastOnGrid.end() && offset - before->second.first <= kMaxGapPages * kPage &&
          entries_[index].Kind != TPageKind::Header && !baseSet.contains(offset))
        run = before->second.second;
      if (run == runs_.size()) runs_.emplace_back();
      runs_[run].push_back(index);
      runPosition_.emplace(index, std::pair{run, runs_[run].size() - 1});
      runOf_.emplace(offset, run);
      lastOnGrid[offset % kPage] = {offset, run};
    }
  }

  // Pages from page `from` to page `to` of a run, on the source.
  std::uint32_t Distance(std::size_t from, std::size_t to) const {
    return static_cast<std::uint32_t>(
        (entries_[to].SourceOffset - entries_[from].SourceOffset) / kPage);
  }

  // The page of `database` at `number`, SIZE_MAX when it has none.
  static std::size_t PageAt(const TDatabase& database, std::uint32_t number) {
    const auto found = database.Pages.find(number);
    return found == database.Pages.end() ? SIZE_MAX : found->second;
  }

  TPage Read(std::size_t index) const {
    StopIfAsked();
    TPage page{};
    store_.Read(index, page);
    return page;
  }

  // Before a page is read, here or by the fit and pointer readers.
  void StopIfAsked() const {
    if (stopRequested_ && stopRequested_()) throw TPlacementStopped{};
  }

  // What data page `index` says against the definition whose first page is store page
  // `definitionIndex` (parsed as `definition`): asked once per pair, for a page is judged
  // against the same definition again as placing goes on.
  const TPageJudgement& JudgementOf(std::size_t index, std::size_t definitionIndex,
                                    const TTableDefinition& definition) {
    const auto found = judgements_.find({index, definitionIndex});
    if (found != judgements_.end()) return found->second;
    StopIfAsked();
    return judgements_[{index, definitionIndex}] = judge_(index, definition);
  }

  std::optional<bool> FitOf(std::size_t index, std::size_t definitionIndex,
                            const TTableDefinition& definition) {
    return JudgementOf(index, definitionIndex, definition).Fits;
  }

  const std::vector<TLongValueTarget>& TargetsOf(std::size_t index, std::size_t definitionIndex,
                                                 const TTableDefinition& definition) {
    return JudgementOf(index, definitionIndex, definition).Targets;
  }

  // The whole definition whose first page is `database`'s page `number`, continuation
  // pages found by their numbers; nothing when there is none.
  const std::optional<TTableDefinition>& DefinitionOf(TDatabase& database, std::uint32_t number) {
    const auto cached = database.Definitions.find(number);
    if (cached != database.Definitions.end()) return cached->second;
    std::optional<TTableDefinition>& result = database.Definitions[number];
    std::vector<std::uint8_t> bytes;
    std::set<std::uint32_t> seen;
    std::uint32_t at = number;
    for (std::size_t i = 0; i < kMaxDefinitionPages && seen.insert(at).second; ++i) {
      const std::size_t index = PageAt(database, at);
      if (index == SIZE_MAX || entries_[index].Kind != TPageKind::Definition) break;
      // A definition of one page is the same wherever its page is numbered: parsed once.
      if (i == 0) {
        if (const auto alone = wholeDefinitions_.find(index); alone != wholeDefinitions_.end()) {
          result = alone->second;
          break;
        }
      }
      const TPage page = Read(index);
      if (!jet::IsDefinitionPage(page)) break;
      const auto part = jet::DefinitionBytesOf(page, i == 0);
      bytes.insert(bytes.end(), part.begin(), part.end());
      TDefinitionResult parsed = ParseTableDefinition(bytes);
      if (parsed.Status == TDefinitionParse::Ok) {
        if (i == 0) wholeDefinitions_.emplace(index, parsed.Definition);
        result = std::move(parsed.Definition);
        break;
      }
      if (i == 0 && parsed.Status == TDefinitionParse::Invalid)
        wholeDefinitions_.emplace(index, std::nullopt);
      if (parsed.Status == TDefinitionParse::Invalid) break;
      at = jet::NextDefinitionPage(page);
      if (at == 0) break;
    }
    return result;
  }

  // The page numbers the usage map of `owner`'s table lists, read from `database`'s pages;
  // nothing when its definition or any part of its map is not there.
  const std::optional<std::set<std::uint32_t>>& ListedOf(TDatabase& database, std::uint32_t owner) {
    const auto cached = database.Listed.find(owner);
    if (cached != database.Listed.end()) return cached->second;
    std::optional<std::set<std::uint32_t>> listed;
    if (const std::optional<TTableDefinition>& definition = DefinitionOf(database, owner)) {
      const std::size_t mapIndex = PageAt(database, definition->UsageMapPointer >> 8);
      if (mapIndex != SIZE_MAX && entries_[mapIndex].Kind == TPageKind::Data) {
        const TPage page = Read(mapIndex);
        const std::uint16_t count = jet::StatedRowCount(page);
        const std::uint16_t row = definition->UsageMapPointer & 0xFF;
        if (row < count && jet::kRowTableAt + 2u * count <= kPageSize) {
          const jet::TRowSlot slot = jet::RowSlotAt(page, count, row);
          std::vector<TPage> bitmaps;
          bitmaps.reserve(64);
          std::vector<std::uint32_t> bitmapPages;
          if (slot.Valid)
            listed = jet::ParseUsageMap(
                std::span(page).subspan(slot.Start, slot.End - slot.Start),
                [&](std::uint32_t number) -> const std::uint8_t* {
                  const std::size_t index = PageAt(database, number);
                  if (index == SIZE_MAX || entries_[index].Kind != TPageKind::UsageMap) {
                    missingBitmap_ = number;
                    return nullptr;
                  }
                  if (bitmaps.size() == bitmaps.capacity()) return nullptr;
                  bitmaps.push_back(Read(index));
                  return bitmaps.back().data();
                },
                &bitmapPages);
          if (listed) database.BitmapPages.insert(bitmapPages.begin(), bitmapPages.end());
        }
      }
    }
    return database.Listed[owner] = std::move(listed);
  }

  // What data page `index` says of belonging to `database`, at page number `number` where
  // that is known: rows of a few columns can fit another table's definition by chance, so
  // where the table's usage map can be read, it must list the number too (a page it does
  // not list may be a stale one of the table's own: that says nothing).
  TSays SaysOf(TDatabase& database, std::size_t index,
               std::optional<std::uint32_t> number = std::nullopt) {
    const TPageEntry& entry = entries_[index];
    if (!IsTablePage(entry) || !database.Pages.contains(entry.Owner)) return TSays::Nothing;
    const std::optional<TTableDefinition>& definition = DefinitionOf(database, entry.Owner);
    if (!definition) return TSays::Against;
    const std::optional<bool> fit = FitOf(index, PageAt(database, entry.Owner), *definition);
    if (!fit) return TSays::Nothing;
    if (!*fit) return TSays::Against;
    // The system tables have one shape in every database: their rows say nothing of whose
    // they are. The catalog's pages alone are placed by its usage map (which every
    // database keeps at page 1, beside its header), in a database that has no catalog page
    // yet (one whose home ends before its catalog), where the tables they name do not
    // contradict the database's own pages.
    if (entry.Owner <= kLastSystemPage &&
        (entry.Owner != jet::kCatalogOwner || !CatalogFits(database, index)))
      return TSays::Nothing;
    if (number) {
      const std::optional<std::set<std::uint32_t>>& listed = ListedOf(database, entry.Owner);
      // Not listed: a stale page of the table's own, or another's. Either way it says
      // nothing of where the database's own pages end.
      if (listed) return listed->contains(*number) ? TSays::For : TSays::Nothing;
      // No map to ask: the rows must fit no other database's definition at that number (a
      // copy, or a database of the same design, has the same tables at the same pages).
      for (TDatabase& other : databases_) {
        if (&other == &database || !other.Pages.contains(entry.Owner)) continue;
        const std::optional<TTableDefinition>& twin = DefinitionOf(other, entry.Owner);
        if (twin && FitOf(index, PageAt(other, entry.Owner), *twin) == true) return TSays::Unsure;
      }
    }
    return TSays::For;
  }

  // Whether catalog page `index` can be `database`'s: its usage map for the catalog can be
  // read, and every table the page names has a definition page at its id there, or no page
  // at all yet (a catalog of another database names tables where this one keeps other
  // pages).
  bool CatalogFits(TDatabase& database, std::size_t index) {
    if (HasCatalogPage(database) || !ListedOf(database, jet::kCatalogOwner)) return false;
    const std::vector<std::uint32_t>& tables = CatalogTablesOf(index);
    if (tables.empty()) return false;
    for (const std::uint32_t table : tables) {
      const std::size_t there = PageAt(database, table);
      if (there != SIZE_MAX && entries_[there].Kind != TPageKind::Definition) return false;
    }
    return true;
  }

  // Whether `database` has a page of its catalog's rows already.
  bool HasCatalogPage(const TDatabase& database) const {
    return std::any_of(database.Pages.begin(), database.Pages.end(), [&](const auto& page) {
      const TPageEntry& entry = entries_[page.second];
      return entry.Kind == TPageKind::Data && entry.Owner == jet::kCatalogOwner;
    });
  }

  // The definition pages of the tables whose live rows catalog page `index` holds.
  const std::vector<std::uint32_t>& CatalogTablesOf(std::size_t index) {
    const auto [cached, added] = catalogTablesOf_.try_emplace(index);
    if (!added) return cached->second;
    const TPage page = Read(index);
    const std::uint16_t count = jet::StatedRowCount(page);
    if (jet::kRowTableAt + 2u * count > kPageSize) return cached->second;
    for (std::uint16_t row = 0; row < count; ++row) {
      const jet::TRowSlot slot = jet::RowSlotAt(page, count, row);
      if (!slot.Valid || (slot.Flags & jet::kRowFlagsMask) != 0) continue;
      const std::optional<jet::TCatalogObject> object =
          jet::ReadCatalogObject(std::span(page).subspan(slot.Start, slot.End - slot.Start));
      if (object && object->Type == jet::kLocalTableType)
        cached->second.push_back(object->DefinitionPage());
    }
    return cached->second;
  }

  void Add(TDatabase& database, std::uint32_t number, std::size_t index) {
    database.Pages.emplace(number, index);
    placed_.insert(index);
    placedAt_.emplace(
        index, std::pair{static_cast<std::size_t>(&database - databases_.data()), number});
    Forget(database);
  }

  // Number → owner value, for every number a readable usage map of `database` lists.
  const std::map<std::uint32_t, std::uint32_t>& ListedOwnerOf(TDatabase& database) {
    if (database.ListedOwner) return *database.ListedOwner;
    std::map<std::uint32_t, std::uint32_t> owners;
    std::set<std::uint32_t> twice;
    // The catalog's tables: a dropped table's definition can outlive it, its map listing
    // pages that other tables own since. Without a catalog, every definition there.
    NamedPagesOf(database);
    std::vector<std::uint32_t> definitions(database.Tables.begin(), database.Tables.end());
    if (definitions.empty()) {
      for (const auto& [number, index] : database.Pages) {
        if (entries_[index].Kind == TPageKind::Definition) definitions.push_back(number);
      }
    }
    for (const std::uint32_t number : definitions) {
      const std::optional<TTableDefinition>& definition = DefinitionOf(database, number);
      if (!definition || definition->System) continue;
      const std::optional<std::set<std::uint32_t>>& listed = ListedOf(database, number);
      if (!listed) continue;
      for (const std::uint32_t page : *listed) {
        if (!owners.emplace(page, number).second && owners[page] != number) twice.insert(page);
      }
    }
    for (const std::uint32_t page : twice) owners.erase(page);
    return *(database.ListedOwner = std::move(owners));
  }

  // The long values that the live rows of `database`'s placed pages point to, at numbers
  // it has no page at yet.
  const std::multimap<std::uint32_t, TLongValueTarget>& WantedOf(TDatabase& database) {
    if (database.Wanted) return *database.Wanted;
    std::multimap<std::uint32_t, TLongValueTarget> wanted;
    {
      for (const auto& [number, index] : database.Pages) {
        const TPageEntry& entry = entries_[index];
        if (!IsTablePage(entry)) continue;
        const std::optional<TTableDefinition>& definition = DefinitionOf(database, entry.Owner);
        const std::size_t at = PageAt(database, entry.Owner);
        if (!definition || definition->System || FitOf(index, at, *definition) != true) continue;
        for (const TLongValueTarget& target : TargetsOf(index, at, *definition)) {
          if (!database.Pages.contains(target.Page)) wanted.emplace(target.Page, target);
        }
      }
    }
    return *(database.Wanted = std::move(wanted));
  }

  // Whether an LVAL row that only one row in the store matches by row number and length.
  bool UniqueLongValueRow(std::uint8_t row, std::uint32_t length) {
    if (!longValueRowsCounted_) {
      longValueRowsCounted_ = true;
      for (std::size_t index = 0; index < entries_.size(); ++index) {
        if (!IsLongValuePage(entries_[index])) continue;
        for (const auto& [r, l] : LongValueRowsOf(index)) ++longValueRowCount_[{r, l}];
      }
    }
    const auto seen = longValueRowCount_.find({row, length});
    return seen != longValueRowCount_.end() && seen->second == 1;
  }

  // Does LVAL row `rows` hold what `target` asks of it: a single-row value fills its row
  // exactly; a chain's first part holds at least the pointer to the next.
  static bool Holds(const std::map<std::uint8_t, std::uint32_t>& rows,
                    const TLongValueTarget& target) {
    const auto row = rows.find(target.Row);
    if (row == rows.end()) return false;
    return target.Chain ? row->second >= 4 : row->second == target.Length;
  }

  // Does `database` bear out its pages from `first` to `last` of `run` at numbers from
  // `start` on? Every number free; each data page at a number its table's map lists
  // (where readable); each number that a map lists holding that table's data page; each
  // long value pointed to there found in an LVAL row of its length. True only where at
  // least one of these says so positively.
  struct TBearing {
    std::size_t Listed = 0;    // data pages at numbers their tables' maps list
    std::size_t Unlisted = 0;  // data pages at numbers their maps do not list (stale ones)
  };

  bool Bears(TDatabase& database, const std::vector<std::size_t>& run, std::size_t first,
             std::size_t last, std::uint32_t start) {
    const std::optional<TBearing> bearing = BearingOf(database, run, first, last, start);
    return bearing && bearing->Unlisted == 0;
  }

  std::optional<TBearing> BearingOf(TDatabase& database, const std::vector<std::size_t>& run,
                                    std::size_t first, std::size_t last, std::uint32_t start) {
    TBearing bearing;
    const std::size_t origin = run[first];
    const std::uint32_t span = Distance(origin, run[last]);
    if (start >= kUnnumberedPage || span >= kUnnumberedPage - start) return std::nullopt;
    std::unordered_map<std::uint32_t, std::size_t> at;  // distance → store index
    bool positive = false;
    for (std::size_t i = first; i <= last; ++i) {
      const std::uint32_t distance = Distance(origin, run[i]);
      const std::uint32_t number = start + distance;
      if (const std::size_t there = PageAt(database, number); there != SIZE_MAX && there != run[i])
        return std::nullopt;
      at.emplace(distance, run[i]);
      const TPageEntry& entry = entries_[run[i]];
      if (!IsTablePage(entry) || !database.Pages.contains(entry.Owner)) continue;
      // A page its table's map does not list is a stale one (or lies elsewhere: the
      // numbers that maps list are checked below).
      const std::optional<std::set<std::uint32_t>>& listed = ListedOf(database, entry.Owner);
      // The system tables' maps list few pages, and one place in them says little; the
      // catalog's pages are placed by its map (see SaysOf).
      if (!listed || (entry.Owner <= kLastSystemPage && entry.Owner != jet::kCatalogOwner))
        continue;
      if (listed->contains(number)) {
        ++bearing.Listed;
        positive = true;
      } else {
        ++bearing.Unlisted;
      }
    }
    const std::map<std::uint32_t, std::uint32_t>& owners = ListedOwnerOf(database);
    for (auto listed = owners.lower_bound(start); listed != owners.end() &&
                                                  listed->first <= start + span;
         ++listed) {
      // A number the store has no page at says nothing (an index page, or one lost).
      const auto page = at.find(listed->first - start);
      if (page == at.end() || IsLongValuePage(entries_[page->second])) continue;
      if (!IsTablePage(entries_[page->second]) || entries_[page->second].Owner != listed->second)
        return std::nullopt;
    }
    const std::multimap<std::uint32_t, TLongValueTarget>& wanted = WantedOf(database);
    std::map<std::size_t, std::map<std::uint8_t, std::uint32_t>> rowsOf;
    for (auto target = wanted.lower_bound(start);
         target != wanted.end() && target->first <= start + span; ++target) {
      const auto page = at.find(target->first - start);
      if (page == at.end() || !IsLongValuePage(entries_[page->second])) return std::nullopt;
      auto rows = rowsOf.find(page->second);
      if (rows == rowsOf.end()) rows = rowsOf.emplace(page->second, LongValueRowsOf(page->second)).first;
      if (!Holds(rows->second, target->second)) return std::nullopt;
      positive = true;
    }
    if (!positive) return std::nullopt;
    return bearing;
  }

  void Forget(TDatabase& database) {
    database.Definitions.clear();
    database.Listed.clear();
    database.ListedOwner.reset();
    database.Wanted.reset();
    database.Catalog.reset();
    database.Pointed.reset();
  }

  // What `database`'s catalog and definitions name: the definition pages of its tables
  // (first pages by the catalog's ids, then their continuations), the pages holding their
  // usage maps, and the bitmap pages those maps read.
  const std::set<std::uint32_t>& NamedPagesOf(TDatabase& database) {
    if (database.Catalog) return *database.Catalog;
    std::set<std::uint32_t> named;
    std::vector<std::uint32_t> tables;
    for (const auto& [number, index] : database.Pages) {
      const TPageEntry& entry = entries_[index];
      if (entry.Kind != TPageKind::Data || entry.Owner != jet::kCatalogOwner) continue;
      const TPage page = Read(index);
      const std::uint16_t count = jet::StatedRowCount(page);
      if (jet::kRowTableAt + 2u * count > kPageSize) continue;
      for (std::uint16_t row = 0; row < count; ++row) {
        const jet::TRowSlot slot = jet::RowSlotAt(page, count, row);
        if (!slot.Valid || (slot.Flags & jet::kRowFlagsMask) != 0) continue;
        const std::optional<jet::TCatalogObject> object =
            jet::ReadCatalogObject(std::span(page).subspan(slot.Start, slot.End - slot.Start));
        if (object && object->Type == jet::kLocalTableType)
          tables.push_back(object->DefinitionPage());
      }
    }
    database.Tables.clear();
    for (const std::uint32_t table : tables) {
      if (table > kLastSystemPage) database.Tables.insert(table);
    }
    for (std::uint32_t number = 2; number <= kLastSystemPage; ++number) tables.push_back(number);
    for (const std::uint32_t table : tables) {
      std::uint32_t at = table;
      for (std::size_t i = 0; i < kMaxDefinitionPages && at != 0 && named.insert(at).second; ++i) {
        const std::size_t index = PageAt(database, at);
        if (index == SIZE_MAX || entries_[index].Kind != TPageKind::Definition) break;
        at = jet::NextDefinitionPage(Read(index));
      }
      const std::optional<TTableDefinition>& definition = DefinitionOf(database, table);
      if (!definition) continue;
      named.insert(definition->UsageMapPointer >> 8);
      ListedOf(database, table);
    }
    named.insert(database.BitmapPages.begin(), database.BitmapPages.end());
    return *(database.Catalog = std::move(named));
  }

  // Every long value the live rows of `database`'s pages point to, by page number.
  const std::multimap<std::uint32_t, TLongValueTarget>& PointedOf(TDatabase& database) {
    if (database.Pointed) return *database.Pointed;
    std::multimap<std::uint32_t, TLongValueTarget> pointed;
    {
      for (const auto& [number, index] : database.Pages) {
        const TPageEntry& entry = entries_[index];
        if (!IsTablePage(entry) || entry.Owner <= kLastSystemPage) continue;
        const std::optional<TTableDefinition>& definition = DefinitionOf(database, entry.Owner);
        const std::size_t at = PageAt(database, entry.Owner);
        if (!definition || definition->System || FitOf(index, at, *definition) != true) continue;
        for (const TLongValueTarget& target : TargetsOf(index, at, *definition))
          pointed.emplace(target.Page, target);
      }
    }
    return *(database.Pointed = std::move(pointed));
  }

  // What a page of a home says at its number: a table's data page as SaysOf; the header
  // and the system definitions, and the pages the catalog and definitions name, are the
  // database's; an LVAL page is where the long values pointed to there are found in it
  // (every one, at least one of a single row); anything else says nothing.
  TSays SaysOfHomePage(TDatabase& database, std::size_t index, std::uint32_t number) {
    const TPageEntry& entry = entries_[index];
    if (entry.Kind == TPageKind::Header) return number == 0 ? TSays::For : TSays::Nothing;
    if (IsTablePage(entry) && entry.Owner > kLastSystemPage) return SaysOf(database, index, number);
    if (entry.Kind == TPageKind::Definition && number >= 2 && number <= kLastSystemPage)
      return TSays::For;
    if (IsLongValuePage(entry)) {
      const std::multimap<std::uint32_t, TLongValueTarget>& pointed = PointedOf(database);
      const auto [from, to] = pointed.equal_range(number);
      if (from == to) return TSays::Nothing;
      const std::map<std::uint8_t, std::uint32_t>& rows = LongValueRowsOf(index);
      bool single = false;
      for (auto at = from; at != to; ++at) {
        if (!Holds(rows, at->second)) return TSays::Nothing;
        single |= !at->second.Chain;
      }
      return single ? TSays::For : TSays::Nothing;
    }
    return NamedPagesOf(database).contains(number) ? TSays::For : TSays::Nothing;
  }

  // Each database's home: the run from its page 0 (or its first system definition left),
  // numbered from its base, as far as its pages bear it out. A run can go on into another
  // file's piece with no gap: the home ends before the first page whose table's definition
  // there it does not fit, and at the last page whose definition there it does fit.
  void PlaceHomes() {
    std::set<std::size_t> homeStarts;  // store indices where a home begins
    std::vector<std::optional<std::pair<std::size_t, std::size_t>>> starts;  // run, position
    for (const TDatabase& database : databases_) {
      std::optional<std::pair<std::size_t, std::size_t>> start;
      // A base from evidence has its home where that evidence lies: what lies at its page 0
      // to 5 is another file's.
      const auto given = homeStarts_.find(database.Base);
      if (given != homeStarts_.end()) {
        if (const auto at = byOffset_.find(given->second); at != byOffset_.end()) {
          start = runPosition_.at(at->second);
          homeStarts.insert(at->second);
          voted_.insert(static_cast<std::size_t>(&database - databases_.data()));
        }
        starts.push_back(start);
        continue;
      }
      for (std::int64_t k = 0; k <= kLastSystemPage && !start; ++k) {
        const auto run = runOf_.find(database.Base + k * kPage);
        if (run == runOf_.end()) continue;
        const std::vector<std::size_t>& pages = runs_[run->second];
        std::size_t at = 0;
        while (entries_[pages[at]].SourceOffset < database.Base) ++at;
        start = {run->second, at};
        homeStarts.insert(pages[at]);
      }
      // A base from votes alone (no header or system definition left): its home begins at
      // its first page on the grid, kept only as far as evidence bears it out.
      if (!start) {
        const auto next = sortedOffsets_.lower_bound(database.Base);
        if (next != sortedOffsets_.end() && (*next - database.Base) % kPage == 0 &&
            *next - database.Base < kPage * kMaxVotedHomeGap) {
          const std::size_t run = runOf_.at(*next);
          const std::vector<std::size_t>& pages = runs_[run];
          std::size_t at = 0;
          while (entries_[pages[at]].SourceOffset < *next) ++at;
          start = {run, at};
          homeStarts.insert(pages[at]);
          voted_.insert(static_cast<std::size_t>(&database - databases_.data()));
        }
      }
      starts.push_back(start);
    }
    // Every home at its widest first: a page that fits another database's definition as
    // well as this one's says nothing (see SaysOf).
    std::vector<std::size_t> ends(databases_.size(), 0);  // one past each home's last page
    for (std::size_t d = 0; d < databases_.size(); ++d) {
      if (!starts[d]) continue;
      TDatabase& database = databases_[d];
      const std::vector<std::size_t>& run = runs_[starts[d]->first];
      std::size_t& end = ends[d];
      end = starts[d]->second + 1;
      while (end < run.size() && !homeStarts.contains(run[end])) ++end;
      for (std::size_t i = starts[d]->second; i < end; ++i)
        database.Pages.emplace(
            static_cast<std::uint32_t>((entries_[run[i]].SourceOffset - database.Base) / kPage),
            run[i]);
    }
    for (std::size_t d = 0; d < databases_.size(); ++d) {
      if (!starts[d]) continue;
      TDatabase& database = databases_[d];
      const std::vector<std::size_t>& run = runs_[starts[d]->first];
      std::size_t end = ends[d];
      auto numberOf = [&](std::size_t index) {
        return static_cast<std::uint32_t>((entries_[index].SourceOffset - database.Base) / kPage);
      };
      // Shrinks until what is numbered bears out its own extent.
      const bool voted = voted_.contains(d);
      for (int pass = 0; pass < 4; ++pass) {
        database.Pages.clear();
        Forget(database);
        for (std::size_t i = starts[d]->second; i < end; ++i)
          database.Pages.emplace(numberOf(run[i]), run[i]);
        // Its page 0 or first system definition is its own; a voted base's first page is
        // kept only by evidence, like the rest.
        std::optional<std::size_t> lastOwn;
        if (!voted) lastOwn = starts[d]->second;
        for (std::size_t i = starts[d]->second; i < end; ++i) {
          const std::size_t index = run[i];
          const TSays says = SaysOfHomePage(database, index, numberOf(index));
          if (says == TSays::Against || says == TSays::Unsure) break;
          if (says == TSays::For) lastOwn = i;
        }
        // What lies after the last page that says it is the database's is left out: another
        // file's piece can follow with no gap, or after a gap no wider than the database's
        // own gaps (its index pages, which the store does not keep).
        const std::size_t kept = lastOwn ? *lastOwn + 1 : starts[d]->second;
        if (kept == end) break;
        end = kept;
      }
      database.Pages.clear();
      for (std::size_t i = starts[d]->second; i < end; ++i) Add(database, numberOf(run[i]), run[i]);
      homes_.push_back({d, starts[d]->first, starts[d]->second, ends[d], database.Base});
    }
  }

  // The pages of `d`'s home run that no database took, put into `trial` at their numbers
  // from its base where those are free.
  void AddHomeTails(std::size_t d, TDatabase& trial) const {
    for (const THome& home : homes_) {
      if (home.Database != d) continue;
      const std::vector<std::size_t>& run = runs_[home.Run];
      for (std::size_t i = home.First; i < home.End; ++i) {
        if (placed_.contains(run[i])) continue;
        trial.Pages.emplace(
            static_cast<std::uint32_t>((entries_[run[i]].SourceOffset - trial.Base) / kPage),
            run[i]);
      }
    }
  }

  // What a page after a placed piece says at its number: as a home's page says, but a
  // piece's run goes on into other pieces more often than a home's, so only what names the
  // page in particular counts: a table's data page its map lists, a definition at a table's
  // id in the catalog, the page holding a table's usage map, an LVAL page holding the long
  // values pointed to there.
  TSays SaysOfPiecePage(TDatabase& database, std::size_t index, std::uint32_t number) {
    const TPageEntry& entry = entries_[index];
    if (entry.Kind == TPageKind::Header) return TSays::Against;
    if (IsTablePage(entry) && entry.Owner > kLastSystemPage) return SaysOf(database, index, number);
    if (IsLongValuePage(entry)) return SaysOfHomePage(database, index, number);
    if (entry.Kind == TPageKind::Definition)
      return NamedTablesOf(database).contains(number) ? TSays::For : TSays::Nothing;
    if (entry.Kind == TPageKind::Data && entry.Owner < 2) {
      for (const std::uint32_t table : NamedTablesOf(database)) {
        const std::optional<TTableDefinition>& definition = DefinitionOf(database, table);
        if (definition && (definition->UsageMapPointer >> 8) == number) return TSays::For;
      }
    }
    return TSays::Nothing;
  }

  // Whether a usage map (`owners`, see ListedOwnerOf) lists `number` for a table that page
  // `index` is not a data page of: a map lists its own table's data pages only (no LVAL
  // page, definition or another table's page), so the page cannot lie at that number.
  bool ListedForAnother(const std::map<std::uint32_t, std::uint32_t>& owners, std::size_t index,
                        std::uint32_t number) const {
    const auto listed = owners.find(number);
    if (listed == owners.end()) return false;
    const TPageEntry& entry = entries_[index];
    return !IsTablePage(entry) || entry.Owner != listed->second;
  }

  // Do the numbers between `before` and `after` (a gap in a run, where the store has no
  // page) hold a page that a usage map of `database` lists? The store keeps every data
  // page, so the file's own gaps are its index pages: a listed number in a gap says that
  // what lies there on the source is something else, and the numbering does not go on
  // across it.
  bool GapHoldsListed(const std::map<std::uint32_t, std::uint32_t>& owners,
                      std::uint32_t before, std::uint32_t after) const {
    if (after <= before + 1) return false;
    const auto listed = owners.upper_bound(before);
    return listed != owners.end() && listed->first < after;
  }

  // Each home taken further along its run where what has been placed since bears it out:
  // the pages after it are tried at their numbers from the base again, now that pieces
  // placed elsewhere may hold their tables' definitions and maps. Returns the pages added.
  std::size_t ExtendHomes() {
    std::size_t added = 0;
    for (const THome& home : homes_) {
      TDatabase& database = databases_[home.Database];
      const std::vector<std::size_t>& run = runs_[home.Run];
      auto numberOf = [&](std::size_t index) {
        return static_cast<std::uint32_t>((entries_[index].SourceOffset - home.Origin) / kPage);
      };
      // The maps as the pages placed so far give them: pages put in for the walk could
      // give a map read through a page at a wrong number.
      const std::map<std::uint32_t, std::uint32_t> listedBefore = ListedOwnerOf(database);
      std::vector<std::size_t> tried;  // positions put in for the walk
      for (std::size_t i = home.First; i < home.End; ++i) {
        if (placed_.contains(run[i])) continue;
        if (database.Pages.emplace(numberOf(run[i]), run[i]).second) tried.push_back(i);
      }
      if (tried.empty()) continue;
      Forget(database);
      std::size_t lastOwn = home.First;
      for (std::size_t i = home.First; i < home.End; ++i) {
        const std::size_t index = run[i];
        if (PageAt(database, numberOf(index)) != index) break;  // another page has its number
        // Past the end of the piece (a run can go on over a gap into another piece of the
        // file, numbered by distance alone): a usage map lists this number for another page.
        if (ListedForAnother(listedBefore, index, numberOf(index))) break;
        if (i > home.First && GapHoldsListed(listedBefore, numberOf(run[i - 1]), numberOf(index)))
          break;
        const TSays says = home.Piece ? SaysOfPiecePage(database, index, numberOf(index))
                                      : SaysOfHomePage(database, index, numberOf(index));
        if (says == TSays::Against || says == TSays::Unsure) break;
        if (says == TSays::For) lastOwn = i;
      }
      for (const std::size_t i : tried) {
        database.Pages.erase(numberOf(run[i]));
        if (i <= lastOwn) {
          Add(database, numberOf(run[i]), run[i]);
          ++added;
        }
      }
      Forget(database);
    }
    return added;
  }

  // The number at which store page `first` lies in database `d` where the nearest placed
  // page before or after the stretch `first` to `last` in its run (no further than a run's
  // gap) is `d`'s, numbered on from it; nothing where neither is, or the two disagree.
  std::optional<std::uint32_t> StartAlong(std::size_t d, std::size_t first, std::size_t last) {
    // Plain names, not a structured binding: the lambda below uses them.
    const std::size_t run = runPosition_.at(first).first;
    const std::size_t from = runPosition_.at(first).second;
    const std::size_t to = runPosition_.at(last).second;
    const std::vector<std::size_t>& pages = runs_[run];
    std::optional<std::uint32_t> start;
    bool disagree = false;
    // The placed page at position `at` of the run, numbered `number` in `d`: the piece is
    // numbered from it unless a gap between them holds a number `d`'s maps list.
    const auto offer = [&](std::size_t at, std::uint32_t number) {
      const std::int64_t origin =
          entries_[pages[at]].SourceOffset - static_cast<std::int64_t>(number) * kPage;
      const std::int64_t first0 = (entries_[first].SourceOffset - origin) / kPage;
      if (first0 < 0 || first0 >= kUnnumberedPage) return;
      if (RunGapsHoldListed(databases_[d], pages, std::min(at, from), std::max(at, to), origin))
        return;
      disagree |= start.has_value() && *start != static_cast<std::uint32_t>(first0);
      start = static_cast<std::uint32_t>(first0);
    };
    for (std::size_t i = to + 1; i < pages.size() && Distance(last, pages[i]) <= kMaxGapPages;
         ++i) {
      const auto at = placedAt_.find(pages[i]);
      if (at == placedAt_.end()) continue;
      if (at->second.first == d) offer(i, at->second.second);
      break;
    }
    for (std::size_t i = from; i-- > 0 && Distance(pages[i], first) <= kMaxGapPages;) {
      const auto at = placedAt_.find(pages[i]);
      if (at == placedAt_.end()) continue;
      if (at->second.first == d) offer(i, at->second.second);
      break;
    }
    if (disagree) return std::nullopt;
    return start;
  }

  // Does a gap between two pages of `pages` from position `from` to `to` (numbered from
  // `origin`) hold a number a usage map of `database` lists? See GapHoldsListed.
  bool RunGapsHoldListed(TDatabase& database, const std::vector<std::size_t>& pages,
                         std::size_t from, std::size_t to, std::int64_t origin) {
    const auto numberOf = [&](std::size_t index) {
      return static_cast<std::uint32_t>((entries_[index].SourceOffset - origin) / kPage);
    };
    const std::map<std::uint32_t, std::uint32_t>& owners = ListedOwnerOf(database);
    for (std::size_t i = from; i < to; ++i) {
      if (GapHoldsListed(owners, numberOf(pages[i]), numberOf(pages[i + 1]))) return true;
    }
    return false;
  }

  // Whether the store page right after (`after`) or before store page `index`, with no
  // page between them on the source, is placed in database `d` at `number`.
  bool BesidePlacedAt(std::size_t index, bool after, std::size_t d, std::uint32_t number) const {
    const auto [run, position] = runPosition_.at(index);
    const std::vector<std::size_t>& pages = runs_[run];
    if (after ? position + 1 >= pages.size() : position == 0) return false;
    const std::size_t beside = pages[after ? position + 1 : position - 1];
    if ((after ? Distance(index, beside) : Distance(beside, index)) != 1) return false;
    const auto at = placedAt_.find(beside);
    return at != placedAt_.end() && at->second == std::pair{d, number};
  }

  // Does the piece of store pages `first` to `last` of a run, placed in database `d` with
  // `first` at number `start`, go on into pages placed in `d` already? It does where the
  // nearest placed page before or after it in its run (no further than a run's gap) is `d`'s
  // at the number the piece's own numbering gives it: one stretch of the file with them.
  bool ContinuesPlaced(std::size_t d, std::size_t first, std::size_t last,
                       std::uint32_t start) const {
    const TDatabase& database = databases_[d];
    const auto [run, from] = runPosition_.at(first);
    const auto to = runPosition_.at(last).second;
    const std::vector<std::size_t>& pages = runs_[run];
    for (std::size_t i = to + 1; i < pages.size() && Distance(last, pages[i]) <= kMaxGapPages;
         ++i) {
      if (!placed_.contains(pages[i])) continue;
      if (PageAt(database, start + Distance(first, pages[i])) == pages[i]) return true;
      break;
    }
    for (std::size_t i = from; i-- > 0 && Distance(pages[i], first) <= kMaxGapPages;) {
      if (!placed_.contains(pages[i])) continue;
      const std::uint32_t back = Distance(pages[i], first);
      if (back <= start && PageAt(database, start - back) == pages[i]) return true;
      break;
    }
    return false;
  }

  // A piece placed in database `d` from store page `index` at `number` on: the rest of its
  // run is tried after it as a home's is (see ExtendHomes).
  void FollowPiece(std::size_t d, std::size_t index, std::uint32_t number) {
    const auto [run, position] = runPosition_.at(index);
    homes_.push_back({d, run, position, runs_[run].size(),
                      entries_[index].SourceOffset - static_cast<std::int64_t>(number) * kPage,
                      true});
  }

  // The pages of the runs that no home took, as runs again (a home can end inside a run).
  std::vector<std::vector<std::size_t>> LooseRuns() const {
    std::vector<std::vector<std::size_t>> loose;
    for (const std::vector<std::size_t>& run : runs_) {
      bool open = false;
      for (const std::size_t index : run) {
        if (placed_.contains(index)) {
          open = false;
          continue;
        }
        if (!open) loose.emplace_back();
        open = true;
        loose.back().push_back(index);
      }
    }
    return loose;
  }

  // A piece of a loose run that the data pages in it say is `database`'s: from its first
  // page that says so to its last, no page in it saying so of another database only, nor
  // against it.
  struct TPiece {
    std::size_t Database = 0;
    std::size_t First = 0, Last = 0;  // positions in the run, inclusive
  };

  std::vector<TPiece> PiecesOf(const std::vector<std::size_t>& run) {
    // Per page, the databases it says it belongs to and those it says it does not.
    std::vector<std::vector<std::size_t>> forOf(run.size()), againstOf(run.size());
    for (std::size_t i = 0; i < run.size(); ++i) {
      const TPageEntry& entry = entries_[run[i]];
      if (entry.Kind != TPageKind::Data || entry.Owner == jet::kLvalOwner || entry.Owner < 2)
        continue;
      // Only databases with a page at the owner value's number can say anything.
      const auto holders = holdersOf_.find(entry.Owner);
      if (holders == holdersOf_.end()) continue;
      for (const std::size_t d : holders->second) {
        const TSays says = SaysOf(databases_[d], run[i]);
        if (says == TSays::For) forOf[i].push_back(d);
        if (says == TSays::Against) againstOf[i].push_back(d);
      }
    }
    std::vector<TPiece> pieces;
    std::optional<TPiece> open;
    for (std::size_t i = 0; i < run.size(); ++i) {
      if (forOf[i].empty() && againstOf[i].empty()) continue;
      const bool continues =
          open && std::find(forOf[i].begin(), forOf[i].end(), open->Database) != forOf[i].end();
      if (continues) {
        open->Last = i;
        continue;
      }
      if (open) pieces.push_back(*open);
      open.reset();
      if (forOf[i].size() == 1) open = TPiece{forOf[i][0], i, i};
    }
    if (open) pieces.push_back(*open);
    return pieces;
  }

  // The one page number at which the piece's first page lies in `database` (see Bears).
  // The numbers tried come from the usage map of the piece's table that lists the fewest,
  // and from the long values that point to rows of a length only one LVAL row has. Nothing
  // when no number or more than one holds.
  std::optional<std::uint32_t> StartOf(TDatabase& database, const std::vector<std::size_t>& run,
                                       const TPiece& piece) {
    const std::size_t origin = run[piece.First];
    std::set<std::uint32_t> starts;
    // Each table's first few pages in the piece (one may be stale, at a number its map no
    // longer lists), at each number its map lists.
    std::map<std::uint32_t, int> owners;
    for (std::size_t i = piece.First; i <= piece.Last && starts.size() < kMaxStartsTried; ++i) {
      const TPageEntry& entry = entries_[run[i]];
      if (!IsTablePage(entry) ||
          (entry.Owner <= kLastSystemPage && entry.Owner != jet::kCatalogOwner) ||
          !database.Pages.contains(entry.Owner) || ++owners[entry.Owner] > kGuidesPerTable)
        continue;
      const std::optional<std::set<std::uint32_t>>& listed = ListedOf(database, entry.Owner);
      if (!listed) continue;
      const std::uint32_t distance = Distance(origin, run[i]);
      for (const std::uint32_t number : *listed) {
        if (number >= distance && starts.size() < kMaxStartsTried) starts.insert(number - distance);
      }
    }
    const std::multimap<std::uint32_t, TLongValueTarget>& wanted = WantedOf(database);
    if (!wanted.empty()) {
      std::map<std::pair<std::uint8_t, std::uint32_t>, std::uint32_t> unique;  // → number
      for (const auto& [number, target] : wanted) {
        if (!target.Chain && UniqueLongValueRow(target.Row, target.Length))
          unique.emplace(std::pair{target.Row, target.Length}, number);
      }
      for (std::size_t i = piece.First; i <= piece.Last && !unique.empty(); ++i) {
        if (!IsLongValuePage(entries_[run[i]])) continue;
        const std::uint32_t distance = Distance(origin, run[i]);
        for (const auto& [row, length] : LongValueRowsOf(run[i])) {
          const auto number = unique.find({row, length});
          if (number != unique.end() && number->second >= distance &&
              starts.size() < kMaxStartsTried)
            starts.insert(number->second - distance);
        }
      }
    }
    // The place where the fewest of its pages would be stale ones, where no other place
    // comes near it: every other place has at least kStaleMargin more, and more of its
    // pages are listed there than not.
    // Each place costs a pass over the piece: a huge piece of a huge table is left alone
    // rather than tried at every place its map lists.
    if (starts.size() * (piece.Last - piece.First + 1) > kMaxPlacingWork) return std::nullopt;
    std::optional<std::uint32_t> found;
    std::optional<TBearing> best;
    std::size_t secondUnlisted = SIZE_MAX;
    for (const std::uint32_t start : starts) {
      const std::optional<TBearing> bearing =
          BearingOf(database, run, piece.First, piece.Last, start);
      if (!bearing) continue;
      if (!best || bearing->Unlisted < best->Unlisted) {
        if (best) secondUnlisted = best->Unlisted;
        best = bearing;
        found = start;
      } else {
        secondUnlisted = std::min(secondUnlisted, bearing->Unlisted);
      }
    }
    if (!best || best->Listed <= best->Unlisted) return std::nullopt;
    // A piece beside a page placed in the database in its run, at the numbers that page's
    // numbering gives it, is one stretch of the file with it where its own pages bear that
    // out as well as any other place: a table's pages a few at a time in a piece say little
    // of where it lies (its map lists many places), the run says which.
    const auto d = static_cast<std::size_t>(&database - databases_.data());
    if (const std::optional<std::uint32_t> along =
            StartAlong(d, run[piece.First], run[piece.Last])) {
      const std::optional<TBearing> bearing =
          BearingOf(database, run, piece.First, piece.Last, *along);
      if (bearing && bearing->Listed > bearing->Unlisted && bearing->Unlisted <= best->Unlisted)
        return along;
    }
    // A place where none is stale stands apart from any where one is.
    const std::size_t margin = best->Unlisted == 0 ? 1 : kStaleMargin;
    if (secondUnlisted != SIZE_MAX && secondUnlisted < best->Unlisted + margin)
      return std::nullopt;
    return found;
  }

  void IndexHolders() {
    holdersOf_.clear();
    for (std::size_t d = 0; d < databases_.size(); ++d) {
      for (const auto& [number, index] : databases_[d].Pages) {
        if (entries_[index].Kind == TPageKind::Definition) holdersOf_[number].push_back(d);
      }
    }
  }

  // A piece to place: its pages from positions First to Last of loose run Run, the first
  // at page number Start of its database.
  struct TPlan {
    std::size_t Run = 0;
    TPiece Piece;
    std::uint32_t Start = 0;
  };

  // A piece that its tables' maps cannot place (unreadable, or listing the piece's pages at
  // too many places), placed by its own rows' long values: the
  // rows point to LVAL rows by page number, row and length, and the LVAL pages of the
  // same run hold them at one place only. The place tried for each pointer is where an
  // LVAL page of the run holding a row of that number and length would lie at the number
  // pointed to; it holds where every pointer whose number lies in the piece, widened to
  // the LVAL pages it names, finds its row there (at least kMinOwnLongValues of them),
  // the numbers are free, no map lists one of them for another table, and, where a map of
  // the piece's tables can be read, the database bears the place out (see Bears). Nothing
  // when no place or more than one holds.
  // Does the stretch first..last of `run`, numbered from `origin` (where the database's page
  // 0 would lie on the source), hold in `database`: each number free or this very page, none
  // that a usage map lists for another table's pages, and no page in it that says it is not
  // the database's?
  bool StretchHolds(TDatabase& database, const std::vector<std::size_t>& run, std::size_t first,
                    std::size_t last, std::int64_t origin) {
    const std::map<std::uint32_t, std::uint32_t>& owners = ListedOwnerOf(database);
    for (std::size_t j = first; j <= last; ++j) {
      const std::uint32_t number =
          static_cast<std::uint32_t>((entries_[run[j]].SourceOffset - origin) / kPage);
      const std::size_t there = PageAt(database, number);
      if (there != SIZE_MAX && there != run[j]) return false;
      const bool tablePage = IsTablePage(entries_[run[j]]);
      if (const auto listed = owners.find(number);
          listed != owners.end() && (!tablePage || entries_[run[j]].Owner != listed->second))
        return false;
      if (tablePage && SaysOf(database, run[j]) == TSays::Against) return false;
    }
    return true;
  }

  std::optional<TPlan> PlaceByOwnLongValues(std::size_t r, const std::vector<std::size_t>& run,
                                            const TPiece& piece) {
    TDatabase& database = databases_[piece.Database];
    struct TPointer {
      std::size_t From = 0;  // position of the data page
      TLongValueTarget Target;
    };
    std::vector<TPointer> pointers;
    bool mapped = false;  // a table of the piece has a usage map that can be read
    for (std::size_t i = piece.First; i <= piece.Last; ++i) {
      const TPageEntry& entry = entries_[run[i]];
      if (!IsTablePage(entry) || entry.Owner <= kLastSystemPage) continue;
      mapped |= ListedOf(database, entry.Owner).has_value();
      const std::optional<TTableDefinition>& definition = DefinitionOf(database, entry.Owner);
      const std::size_t at = PageAt(database, entry.Owner);
      if (!definition || FitOf(run[i], at, *definition) != true) continue;
      for (const TLongValueTarget& target : TargetsOf(run[i], at, *definition))
        pointers.push_back({i, target});
    }
    if (pointers.empty()) return std::nullopt;
    // Positions of the run's LVAL pages near the piece (a file's long values lie near
    // its rows), by the numbers a place would give them.
    const std::size_t from = piece.First > kMaxGapPages ? piece.First - kMaxGapPages : 0;
    const std::size_t to =
        std::min<std::size_t>(run.size(), piece.Last + static_cast<std::size_t>(kMaxGapPages) + 1);
    const std::int64_t firstOffset = entries_[run[piece.First]].SourceOffset;
    std::set<std::int64_t> origins;  // where number 0 would lie on the source
    std::size_t guides = 0;
    for (const TPointer& pointer : pointers) {
      if (pointer.Target.Chain) continue;
      // The first pointers guide, each to the LVAL pages near its own row's page.
      if (++guides > kOwnLongValueGuides) break;
      const std::size_t near = pointer.From > kMaxGapPages ? pointer.From - kMaxGapPages : 0;
      const std::size_t end =
          std::min<std::size_t>(to, pointer.From + static_cast<std::size_t>(kMaxGapPages) + 1);
      for (std::size_t j = near; j < end; ++j) {
        if (!IsLongValuePage(entries_[run[j]])) continue;
        if (!Holds(LongValueRowsOf(run[j]), pointer.Target)) continue;
        origins.insert(entries_[run[j]].SourceOffset -
                       static_cast<std::int64_t>(pointer.Target.Page) * kPage);
      }
      if (origins.size() > kMaxOwnLongValuePlaces) return std::nullopt;
    }
    // Each place costs a pass over the piece and the pages around it.
    if (origins.size() * (to - from) > kMaxPlacingWork) return std::nullopt;
    std::optional<TPlan> found;
    for (const std::int64_t origin : origins) {
      if (origin > firstOffset) continue;
      std::unordered_map<std::uint32_t, std::size_t> byNumber;  // number → position
      for (std::size_t j = from; j < to; ++j) {
        const std::int64_t offset = entries_[run[j]].SourceOffset;
        if (offset >= origin) byNumber.emplace(static_cast<std::uint32_t>((offset - origin) / kPage), j);
      }
      std::size_t first = piece.First, last = piece.Last, matched = 0;
      bool holds = true;
      for (const TPointer& pointer : pointers) {
        const auto page = byNumber.find(pointer.Target.Page);
        if (page == byNumber.end()) continue;  // lies elsewhere
        if (!IsLongValuePage(entries_[run[page->second]]) ||
            !Holds(LongValueRowsOf(run[page->second]), pointer.Target)) {
          holds = false;
          break;
        }
        ++matched;
        first = std::min(first, page->second);
        last = std::max(last, page->second);
      }
      if (!holds || matched < kMinOwnLongValues) continue;
      // The widened piece: its numbers free, none that a map lists for a table of other
      // pages, and no page in it that says it is not the database's.
      const auto numberAt = [&](std::size_t j) {
        return static_cast<std::uint32_t>((entries_[run[j]].SourceOffset - origin) / kPage);
      };
      if (!StretchHolds(database, run, first, last, origin)) continue;
      // A piece whose map can be read (though it lists the piece's pages at too many places
      // for StartOf to choose one) must be borne out there as a mapped piece is: its data
      // pages listed, and the long values the database's placed rows point to there found.
      if (mapped && !Bears(database, run, first, last, numberAt(first))) continue;
      if (found) return std::nullopt;  // two places hold
      found = TPlan{r, {piece.Database, first, last}, numberAt(first)};
    }
    return found;
  }

  // A piece whose table's map is kept on a bitmap page the database lacks, where a bitmap
  // page lies among its pages or just beside them: numbered so that page is at the number the map
  // names, the map it completes lists every page of that table in the piece at its number
  // and every one the database has (two at least). The piece, widened to the bitmap page, must then hold
  // as in PlaceByOwnLongValues; nothing when no place or more than one holds.
  std::optional<TPlan> PlaceByBitmapInRun(std::size_t r, const std::vector<std::size_t>& run,
                                          const TPiece& piece) {
    TDatabase& database = databases_[piece.Database];
    std::optional<std::uint32_t> owner;
    for (std::size_t i = piece.First; i <= piece.Last && !owner; ++i) {
      if (IsTablePage(entries_[run[i]]) && entries_[run[i]].Owner > kLastSystemPage)
        owner = entries_[run[i]].Owner;
    }
    if (!owner || !DefinitionOf(database, *owner)) return std::nullopt;
    database.Listed.erase(*owner);
    missingBitmap_.reset();
    if (ListedOf(database, *owner) || !missingBitmap_ ||
        database.Pages.contains(*missingBitmap_))
      return std::nullopt;
    const std::uint32_t bitmap = *missingBitmap_;
    // Within the piece or just beside it: widened further, it would take pages that say
    // nothing at numbers their own database may need.
    const std::size_t from = piece.First > 0 ? piece.First - 1 : 0;
    const std::size_t to = std::min(run.size(), piece.Last + 2);
    std::optional<TPlan> found;
    for (std::size_t j = from; j < to; ++j) {
      if (entries_[run[j]].Kind != TPageKind::UsageMap) continue;
      const std::int64_t origin =
          entries_[run[j]].SourceOffset - static_cast<std::int64_t>(bitmap) * kPage;
      if (origin > entries_[run[std::min(j, piece.First)]].SourceOffset) continue;
      const auto numberAt = [&](std::size_t k) {
        return static_cast<std::uint32_t>((entries_[run[k]].SourceOffset - origin) / kPage);
      };
      // The map with this page, tried in place (the database as it was after).
      database.Pages.emplace(bitmap, run[j]);
      database.Listed.erase(*owner);
      const std::optional<std::set<std::uint32_t>> listed = ListedOf(database, *owner);
      database.Pages.erase(bitmap);
      database.Listed.erase(*owner);
      if (!listed) continue;
      std::size_t in = 0, out = 0;
      for (std::size_t i = piece.First; i <= piece.Last; ++i) {
        if (IsTablePage(entries_[run[i]]) && entries_[run[i]].Owner == *owner)
          (listed->contains(numberAt(i)) ? in : out) += 1;
      }
      // The pages of the table placed already are listed too: a map of another table or
      // another database's would leave some of them out.
      for (const auto& [number, index] : database.Pages) {
        if (IsTablePage(entries_[index]) && entries_[index].Owner == *owner)
          (listed->contains(number) ? in : out) += 1;
      }
      if (in < 2 || out > 0) continue;
      const std::size_t first = std::min(piece.First, j), last = std::max(piece.Last, j);
      if (!StretchHolds(database, run, first, last, origin)) continue;
      if (found) return std::nullopt;  // two places hold
      found = TPlan{r, {piece.Database, first, last}, numberAt(first)};
    }
    return found;
  }

  // Pieces placed by a bitmap page among them (see PlaceByBitmapInRun), once nothing else
  // places any: a map completed so can leave another piece's pages unlisted that other
  // evidence would have placed. Two plans that would take one number place neither.
  std::size_t PlaceBitmapPieces() {
    IndexHolders();
    const std::vector<std::vector<std::size_t>> loose = LooseRuns();
    std::vector<TPlan> plans;
    for (std::size_t r = 0; r < loose.size(); ++r) {
      for (const TPiece& piece : PiecesOf(loose[r])) {
        if (const std::optional<TPlan> plan = PlaceByBitmapInRun(r, loose[r], piece))
          plans.push_back(*plan);
      }
    }
    std::map<std::pair<std::size_t, std::uint32_t>, int> claims;
    std::map<std::size_t, int> pagesClaimed;
    const auto numberOf = [&](const TPlan& plan, std::size_t i) {
      return plan.Start + Distance(loose[plan.Run][plan.Piece.First], loose[plan.Run][i]);
    };
    for (const TPlan& plan : plans) {
      for (std::size_t i = plan.Piece.First; i <= plan.Piece.Last; ++i) {
        ++claims[{plan.Piece.Database, numberOf(plan, i)}];
        ++pagesClaimed[loose[plan.Run][i]];
      }
    }
    std::size_t placedNow = 0;
    for (const TPlan& plan : plans) {
      bool alone = true;
      for (std::size_t i = plan.Piece.First; i <= plan.Piece.Last && alone; ++i)
        alone = claims[{plan.Piece.Database, numberOf(plan, i)}] == 1 &&
                pagesClaimed[loose[plan.Run][i]] == 1;
      if (!alone) continue;
      TDatabase& database = databases_[plan.Piece.Database];
      for (std::size_t i = plan.Piece.First; i <= plan.Piece.Last; ++i)
        Add(database, numberOf(plan, i), loose[plan.Run][i]);
      FollowPiece(plan.Piece.Database, loose[plan.Run][plan.Piece.First], plan.Start);
      ++placedNow;
    }
    return placedNow;
  }

  // Plans for `piece`: one where a single place holds for it; else, where it spans a gap in
  // the store (two pieces of the file that happen to lie near each other), the plans for
  // its two parts either side of its widest gap, each from its first page that says it is
  // the database's to its last.
  void PlanPiece(std::size_t r, const std::vector<std::size_t>& run, const TPiece& piece,
                 int depth, std::vector<TPlan>& plans) {
    TDatabase& database = databases_[piece.Database];
    if (const std::optional<std::uint32_t> start = StartOf(database, run, piece)) {
      plans.push_back({r, piece, *start});
      return;
    }
    if (const std::optional<TPlan> plan = PlaceByOwnLongValues(r, run, piece)) {
      plans.push_back(*plan);
      return;
    }
    if (depth >= kMaxSplits || piece.First == piece.Last) return;
    std::size_t cut = piece.First;  // the last page before the widest gap
    std::uint32_t widest = 0;
    for (std::size_t i = piece.First; i < piece.Last; ++i) {
      const std::uint32_t gap = Distance(run[i], run[i + 1]);
      if (gap > widest) {
        widest = gap;
        cut = i;
      }
    }
    if (widest <= 1) return;
    const auto says = [&](std::size_t i) {
      return SaysOf(database, run[i]) == TSays::For;
    };
    for (const auto& [from, to] : {std::pair{piece.First, cut}, std::pair{cut + 1, piece.Last}}) {
      std::size_t first = from, last = to;
      while (first <= last && !says(first)) ++first;
      while (last > first && !says(last)) --last;
      if (first <= last && says(first))
        PlanPiece(r, run, {piece.Database, first, last}, depth + 1, plans);
    }
  }

  // Pieces outside the homes, placed where their tables' definitions and usage maps say.
  // Two pieces that would take one number in one database are two copies: neither is
  // placed by that round.
  void PlacePieces(TPlacementCounts* counts) {
    for (int round = 0; round < kMaxPlacingRounds; ++round) {
      // A source whose databases each lie whole in their homes has nothing more to place.
      if (LooseRuns().empty()) break;
      const std::size_t homesExtended = round > 0 ? ExtendHomes() + PlaceLooseBitmaps() : 0;
      IndexHolders();
      const std::vector<std::vector<std::size_t>> loose = LooseRuns();
      std::vector<TPlan> plans;
      for (std::size_t r = 0; r < loose.size(); ++r) {
        for (const TPiece& piece : PiecesOf(loose[r])) PlanPiece(r, loose[r], piece, 0, plans);
      }
      const auto numberOf = [&](const TPlan& plan, std::size_t i) {
        return plan.Start + Distance(loose[plan.Run][plan.Piece.First], loose[plan.Run][i]);
      };
      // Numbers claimed by more than one plan.
      std::map<std::pair<std::size_t, std::uint32_t>, int> claims;
      for (const TPlan& plan : plans) {
        for (std::size_t i = plan.Piece.First; i <= plan.Piece.Last; ++i)
          ++claims[{plan.Piece.Database, numberOf(plan, i)}];
      }
      std::size_t placedNow = 0;
      for (const TPlan& plan : plans) {
        bool alone = true;
        for (std::size_t i = plan.Piece.First; i <= plan.Piece.Last && alone; ++i)
          alone = claims[{plan.Piece.Database, numberOf(plan, i)}] == 1;
        if (!alone) continue;
        TDatabase& database = databases_[plan.Piece.Database];
        for (std::size_t i = plan.Piece.First; i <= plan.Piece.Last; ++i)
          Add(database, numberOf(plan, i), loose[plan.Run][i]);
        FollowPiece(plan.Piece.Database, loose[plan.Run][plan.Piece.First], plan.Start);
        ++placedNow;
      }
      if (placedNow == 0) placedNow = PlaceDefinitionPieces();
      if (placedNow == 0) placedNow = PlaceLooseDefinitions();
      if (placedNow == 0) placedNow = PlaceBitmapPieces();
      if (placedNow == 0) placedNow = PlaceLongValuePieces();
      if (counts) counts->PiecesPlaced += placedNow;
      if (placedNow == 0 && homesExtended == 0 && round > 0) break;
    }
    if (counts) {
      for (const std::vector<std::size_t>& run : LooseRuns())
        counts->PiecesLeftApart += PiecesOf(run).size();
    }
  }

  // Pieces that carry their own table's definition: a definition page of a loose run whose
  // table's data pages lie in the same run, rows fitting it exactly, where one database's
  // catalog names that table (its id is the definition's page number, the pages' owner
  // value) and has no page at that number yet. The piece from the definition to the table's
  // pages is placed with the definition at that number where the database bears it out
  // there (its map lists more of the pages than not, nothing contradicts), and nothing else
  // would take any of its pages. Returns how many pieces were placed.
  std::size_t PlaceDefinitionPieces() {
    struct TCandidate {
      std::size_t Database = 0, Run = 0;
      std::size_t First = 0, Last = 0;
      std::uint32_t Start = 0;  // the number of position First
      // The bitmap page of the table's map found in another loose piece: number, page.
      std::optional<std::pair<std::uint32_t, std::size_t>> Bitmap;
    };
    std::map<std::uint32_t, std::vector<std::size_t>> catalogs;  // table → databases naming it
    for (std::size_t d = 0; d < databases_.size(); ++d) {
      for (const std::uint32_t table : NamedTablesOf(databases_[d])) {
        if (!databases_[d].Pages.contains(table)) catalogs[table].push_back(d);
      }
    }
    if (catalogs.empty()) return 0;
    const std::vector<std::vector<std::size_t>> loose = LooseRuns();
    std::vector<TCandidate> candidates;
    for (std::size_t r = 0; r < loose.size(); ++r) {
      const std::vector<std::size_t>& run = loose[r];
      std::map<std::uint32_t, std::vector<std::size_t>> pagesOf;  // owner → positions
      for (std::size_t i = 0; i < run.size(); ++i) {
        const TPageEntry& entry = entries_[run[i]];
        // Only where one database's catalog names the table: ids repeat across databases.
        const auto named = catalogs.find(entry.Owner);
        if (IsTablePage(entry) && entry.Owner > kLastSystemPage && named != catalogs.end() &&
            named->second.size() == 1)
          pagesOf[entry.Owner].push_back(i);
      }
      if (pagesOf.empty()) continue;
      std::unordered_map<std::int64_t, std::size_t> at;  // source offset → position
      for (std::size_t i = 0; i < run.size(); ++i) at.emplace(entries_[run[i]].SourceOffset, i);
      for (std::size_t p = 0; p < run.size(); ++p) {
        if (entries_[run[p]].Kind != TPageKind::Definition) continue;
        const TPage page = Read(run[p]);
        if (!jet::IsDefinitionPage(page)) continue;
        const TDefinitionResult alone = ParseTableDefinition(page);
        if (alone.Status == TDefinitionParse::Invalid) continue;
        for (const auto& [owner, all] : pagesOf) {
          // Numbered from the definition at `owner`: a loose run can hold other pieces
          // before it, at no number of this numbering (before its page 0).
          const std::int64_t zero =
              entries_[run[p]].SourceOffset - static_cast<std::int64_t>(owner) * kPage;
          const auto numberAt = [&](std::size_t i) {
            return static_cast<std::uint32_t>((entries_[run[i]].SourceOffset - zero) / kPage);
          };
          std::size_t lo = 0;  // the first position at a number
          while (entries_[run[lo]].SourceOffset < zero) ++lo;
          std::vector<std::size_t> positions;
          for (const std::size_t i : all) {
            if (i >= lo) positions.push_back(i);
          }
          if (positions.empty()) continue;
          // A definition longer than a page goes on at the pages its chain names, found in
          // the run at their distances from it were it at `owner`.
          std::optional<TTableDefinition> definition = alone.Definition;
          if (alone.Status == TDefinitionParse::NeedsMore) {
            std::vector<std::uint8_t> bytes(page.begin(), page.end());
            std::uint32_t next = jet::NextDefinitionPage(page);
            for (std::size_t k = 1; k < kMaxDefinitionPages && next != 0; ++k) {
              const auto found = at.find(zero + static_cast<std::int64_t>(next) * kPage);
              if (found == at.end() || entries_[run[found->second]].Kind != TPageKind::Definition)
                break;
              const TPage part = Read(run[found->second]);
              if (!jet::IsDefinitionPage(part)) break;
              const auto more = jet::DefinitionBytesOf(part, false);
              bytes.insert(bytes.end(), more.begin(), more.end());
              TDefinitionResult parsed = ParseTableDefinition(bytes);
              if (parsed.Status == TDefinitionParse::Ok) definition = std::move(parsed.Definition);
              if (parsed.Status != TDefinitionParse::NeedsMore) break;
              next = jet::NextDefinitionPage(part);
            }
          }
          if (!definition || definition->System) continue;
          const std::optional<TTableDefinition> parsed = definition;
          // Its rows fit the definition exactly, on every page judged.
          bool fit = false, misfit = false;
          for (std::size_t k = 0; k < positions.size() && k < kPagesJudged && !misfit; ++k) {
            const std::optional<bool> fits = FitOf(run[positions[k]], run[p], *parsed);
            fit |= fits == true;
            misfit |= fits == false;
          }
          if (!fit || misfit) continue;
          // The table's pages nearest the definition on either side, as far as its map
          // lists them at their numbers here: a loose run can go on into other pieces,
          // where its pages lie at other numbers.
          const auto nearListed = [&](const std::set<std::uint32_t>& listed) {
            std::vector<std::size_t> near;
            for (auto i = std::lower_bound(positions.begin(), positions.end(), p);
                 i != positions.begin() && listed.contains(numberAt(*(i - 1))); --i)
              near.insert(near.begin(), *(i - 1));
            for (auto i = std::upper_bound(positions.begin(), positions.end(), p);
                 i != positions.end() && listed.contains(numberAt(*i)); ++i)
              near.push_back(*i);
            return near;
          };
          for (const std::size_t d : catalogs.at(owner)) {
            // The database with the definition at its number: the map is read there.
            // The run at the numbers this gives it, where those are free (it can hold other
            // files' pieces too): the table's map (which Access keeps beside its definition,
            // so in the run) may list none of the database's pages but its own.
            const TDatabase& database = databases_[d];
            TDatabase trial = database;
            Forget(trial);
            for (std::size_t i = lo; i < run.size(); ++i) trial.Pages.emplace(numberAt(i), run[i]);
            missingBitmap_.reset();
            std::optional<std::set<std::uint32_t>> listed = ListedOf(trial, owner);
            // A map kept on a bitmap page of its own: that page can lie in another loose
            // piece. It is the one loose bitmap page whose listing holds the table's pages
            // nearest the definition at their numbers here.
            std::optional<std::pair<std::uint32_t, std::size_t>> bitmap;
            if (!listed && missingBitmap_ && !trial.Pages.contains(*missingBitmap_)) {
              const std::uint32_t number = *missingBitmap_;
              for (const std::size_t u : LooseBitmapPages()) {
                TDatabase withBitmap = trial;
                withBitmap.Listed.clear();
                withBitmap.Pages.emplace(number, u);
                const std::optional<std::set<std::uint32_t>>& found = ListedOf(withBitmap, owner);
                if (!found) continue;
                if (nearListed(*found).empty()) continue;
                if (bitmap) {  // two would do: neither is known to be the table's
                  bitmap.reset();
                  listed.reset();
                  break;
                }
                bitmap = {number, u};
                listed = found;
              }
              if (bitmap) {
                trial.Pages.emplace(bitmap->first, bitmap->second);
                Forget(trial);  // its map was read without the bitmap page
              }
            }
            if (!listed) continue;
            const std::vector<std::size_t> near = nearListed(*listed);
            if (near.empty()) continue;
            std::size_t first = std::min(p, near.front());
            std::size_t last = std::max(p, near.back());
            // Not across a gap whose numbers the maps list (see GapHoldsListed).
            const std::map<std::uint32_t, std::uint32_t>& owners = ListedOwnerOf(trial);
            for (std::size_t i = p; i < last; ++i) {
              if (GapHoldsListed(owners, numberAt(i), numberAt(i + 1))) last = i;
            }
            for (std::size_t i = p; i > first; --i) {
              if (GapHoldsListed(owners, numberAt(i - 1), numberAt(i))) first = i;
            }
            const std::uint32_t start = numberAt(first);
            bool foreign = false;
            for (const std::uint32_t number : *listed) {
              const std::size_t there = PageAt(database, number);
              foreign |= there != SIZE_MAX && (!IsTablePage(entries_[there]) ||
                                               entries_[there].Owner != owner);
            }
            if (foreign) continue;
            // Every definition page in the piece at a number the catalog names (a table's
            // first page, or one its definition goes on to): definitions of one shape fit
            // more than one table, and only one numbering names them all.
            const std::set<std::uint32_t>& named = NamedPagesOf(trial);
            bool unnamed = false;
            for (std::size_t i = first; i <= last && !unnamed; ++i) {
              unnamed = entries_[run[i]].Kind == TPageKind::Definition &&
                        !named.contains(start + Distance(run[first], run[i]));
            }
            if (unnamed) continue;
            const std::optional<TBearing> bearing = BearingOf(trial, run, first, last, start);
            if (bearing && bearing->Listed > bearing->Unlisted)
              candidates.push_back({d, r, first, last, start, bitmap});
          }
        }
      }
    }
    // Of candidates that would take one number or one page, one that goes on into a piece
    // of that database placed before it, at its own numbering, is that stretch of the file;
    // the others give way to it.
    {
      std::vector<bool> continues(candidates.size());
      std::map<std::pair<std::size_t, std::uint32_t>, std::vector<std::size_t>> wanting;
      std::map<std::size_t, std::vector<std::size_t>> wantingPage;
      for (std::size_t c = 0; c < candidates.size(); ++c) {
        const TCandidate& candidate = candidates[c];
        const std::vector<std::size_t>& run = loose[candidate.Run];
        continues[c] = ContinuesPlaced(candidate.Database, run[candidate.First],
                                       run[candidate.Last], candidate.Start);
        for (std::size_t j = candidate.First; j <= candidate.Last; ++j) {
          wanting[{candidate.Database,
                   candidate.Start + Distance(run[candidate.First], run[j])}].push_back(c);
          wantingPage[run[j]].push_back(c);
        }
      }
      std::vector<bool> givesWay(candidates.size());
      const auto yield = [&](const std::vector<std::size_t>& rivals) {
        const bool anyContinues = std::any_of(rivals.begin(), rivals.end(),
                                              [&](std::size_t c) { return continues[c]; });
        for (const std::size_t c : rivals) givesWay[c] = givesWay[c] || (anyContinues && !continues[c]);
      };
      for (const auto& [number, rivals] : wanting) yield(rivals);
      for (const auto& [page, rivals] : wantingPage) yield(rivals);
      std::vector<TCandidate> kept;
      for (std::size_t c = 0; c < candidates.size(); ++c) {
        if (!givesWay[c]) kept.push_back(candidates[c]);
      }
      candidates = std::move(kept);
    }
    // A page that more than one candidate would place, or a number that two would take,
    // stays as it is.
    std::map<std::size_t, std::set<std::pair<std::size_t, std::uint32_t>>> claims;
    std::map<std::pair<std::size_t, std::uint32_t>, std::set<std::size_t>> taken;
    for (const TCandidate& candidate : candidates) {
      const std::vector<std::size_t>& run = loose[candidate.Run];
      for (std::size_t j = candidate.First; j <= candidate.Last; ++j) {
        const std::uint32_t number = candidate.Start + Distance(run[candidate.First], run[j]);
        claims[run[j]].insert({candidate.Database, number});
        taken[{candidate.Database, number}].insert(run[j]);
      }
      if (candidate.Bitmap) {
        claims[candidate.Bitmap->second].insert({candidate.Database, candidate.Bitmap->first});
        taken[{candidate.Database, candidate.Bitmap->first}].insert(candidate.Bitmap->second);
      }
    }
    std::size_t placedNow = 0;
    std::set<std::size_t> done;
    for (const TCandidate& candidate : candidates) {
      const std::vector<std::size_t>& run = loose[candidate.Run];
      bool alone = true;
      for (std::size_t j = candidate.First; j <= candidate.Last && alone; ++j)
        alone = claims[run[j]].size() == 1 && !done.contains(run[j]) &&
                taken[{candidate.Database,
                       candidate.Start + Distance(run[candidate.First], run[j])}].size() == 1;
      if (candidate.Bitmap)
        alone = alone && claims[candidate.Bitmap->second].size() == 1 &&
                !done.contains(candidate.Bitmap->second) &&
                taken[{candidate.Database, candidate.Bitmap->first}].size() == 1 &&
                !databases_[candidate.Database].Pages.contains(candidate.Bitmap->first);
      if (!alone) continue;
      TDatabase& database = databases_[candidate.Database];
      for (std::size_t j = candidate.First; j <= candidate.Last; ++j) {
        Add(database, candidate.Start + Distance(run[candidate.First], run[j]), run[j]);
        done.insert(run[j]);
      }
      if (candidate.Bitmap) {
        Add(database, candidate.Bitmap->first, candidate.Bitmap->second);
        done.insert(candidate.Bitmap->second);
      }
      FollowPiece(candidate.Database, run[candidate.First], candidate.Start);
      ++placedNow;
    }
    return placedNow;
  }

  // Bitmap pages of the usage maps of each database's tables found in loose pieces: for a
  // table whose map names a bitmap page the database has no page at, the one loose bitmap
  // page whose listing holds more of the table's placed data pages at their numbers than
  // not (at least one). Returns the pages placed.
  std::size_t PlaceLooseBitmaps() {
    std::size_t added = 0;
    for (TDatabase& database : databases_) {
      for (const std::uint32_t table : std::set<std::uint32_t>(NamedTablesOf(database))) {
        if (const auto cached = database.Listed.find(table);
            cached != database.Listed.end() && cached->second)
          continue;
        database.Listed.erase(table);  // read again, to learn which bitmap page is missing
        missingBitmap_.reset();
        if (ListedOf(database, table) || !missingBitmap_ ||
            database.Pages.contains(*missingBitmap_))
          continue;
        const std::uint32_t number = *missingBitmap_;
        std::vector<std::uint32_t> own;  // the numbers of the table's placed data pages
        for (const auto& [at, index] : database.Pages) {
          if (IsTablePage(entries_[index]) && entries_[index].Owner == table) own.push_back(at);
        }
        if (own.empty()) continue;
        std::optional<std::size_t> found;
        bool twice = false;
        for (const std::size_t u : LooseBitmapPages()) {
          // Tried in place, the database as it was after (no copy of a large database).
          database.Pages.emplace(number, u);
          database.Listed.erase(table);
          const std::optional<std::set<std::uint32_t>> listed = ListedOf(database, table);
          database.Pages.erase(number);
          database.Listed.erase(table);
          if (!listed) continue;
          std::size_t in = 0;
          for (const std::uint32_t at : own) in += listed->contains(at) ? 1 : 0;
          if (in == 0 || in * 2 <= own.size()) continue;
          twice = found.has_value();
          found = u;
          if (twice) break;
        }
        if (!found || twice) continue;
        Add(database, number, *found);
        ++added;
      }
    }
    return added;
  }

  // Definitions that lie apart from their tables' pages: a table that one database's
  // catalog names (its id, the owner value of its pages) and no other's, at whose number the
  // database has no page yet, takes the one loose definition page (whole alone) whose shape
  // the table's data pages (loose, or already placed in that database) fit exactly, each
  // loose one judged (up to kLoosePagesJudged), one row of them at least counting all its columns, where
  // no other loose definition fits them. The piece then
  // follows from it along its run.
  // Returns the definitions placed.
  std::size_t PlaceLooseDefinitions() {
    std::map<std::uint32_t, std::vector<std::size_t>> catalogs;  // table → databases naming it
    for (std::size_t d = 0; d < databases_.size(); ++d) {
      for (const std::uint32_t table : NamedTablesOf(databases_[d])) catalogs[table].push_back(d);
    }
    std::map<std::uint32_t, std::vector<std::size_t>> pagesOf;  // owner → loose data pages
    std::vector<std::size_t> definitions;                      // loose first definition pages
    for (const auto& [offset, index] : byOffset_) {
      if (placed_.contains(index)) continue;
      const TPageEntry& entry = entries_[index];
      if (IsTablePage(entry) && entry.Owner > kLastSystemPage) {
        const auto named = catalogs.find(entry.Owner);
        if (named != catalogs.end() && named->second.size() == 1 &&
            !databases_[named->second.front()].Pages.contains(entry.Owner) &&
            pagesOf[entry.Owner].size() < kLoosePagesJudged)
          pagesOf[entry.Owner].push_back(index);
      }
      if (entry.Kind == TPageKind::Definition) definitions.push_back(index);
    }
    // The table's pages that evidence already placed in the database naming it count as
    // well: a home can hold a table's data pages while its definition, written later, lies
    // in a piece of the file that nothing else in it places (its other pages say nothing).
    for (const auto& [table, named] : catalogs) {
      if (table <= kLastSystemPage || named.size() != 1) continue;
      const TDatabase& database = databases_[named.front()];
      if (database.Pages.contains(table)) continue;
      for (const auto& [number, index] : database.Pages) {
        const TPageEntry& entry = entries_[index];
        if (!IsTablePage(entry) || entry.Owner != table) continue;
        if (pagesOf[table].size() < kPagesJudged) pagesOf[table].push_back(index);
      }
    }
    if (pagesOf.empty() || definitions.empty()) return 0;
    std::size_t placedNow = 0;
    std::set<std::size_t> taken;
    for (const auto& [owner, pages] : pagesOf) {
      std::optional<std::size_t> found;
      bool twice = false;
      for (const std::size_t index : definitions) {
        if (taken.contains(index)) continue;
        const auto parsed = wholeDefinitions_.find(index);
        std::optional<TTableDefinition> definition;
        if (parsed != wholeDefinitions_.end()) {
          definition = parsed->second;
        } else {
          const TPage page = Read(index);
          if (!jet::IsDefinitionPage(page)) continue;
          TDefinitionResult result = ParseTableDefinition(page);
          if (result.Status == TDefinitionParse::Ok) definition = std::move(result.Definition);
          if (result.Status != TDefinitionParse::NeedsMore)
            wholeDefinitions_.emplace(index, definition);
        }
        if (!definition || definition->System) continue;
        bool fit = true;
        bool judged = false;
        bool whole = false;
        for (const std::size_t page : pages) {
          const TPageJudgement& judgement = JudgementOf(page, index, *definition);
          if (judgement.Fits == false) fit = false;
          judged |= judgement.Fits.has_value();
          whole |= judgement.Fits == true && judgement.Whole;
        }
        // Its shape must be seen whole in a row: a row written under an older definition
        // counts only its first columns, and a few columns fit any definition that begins
        // with columns of their types.
        if (!fit || !judged || !whole) continue;
        twice = found.has_value();
        found = index;
        if (twice) break;
      }
      if (!found || twice) continue;
      const std::size_t d = catalogs.at(owner).front();
      Add(databases_[d], owner, *found);
      taken.insert(*found);
      FollowPiece(d, *found, owner);
      ++placedNow;
    }
    return placedNow;
  }

  // The usage-map bitmap pages (type 0x05) that no database took.
  std::vector<std::size_t> LooseBitmapPages() const {
    std::vector<std::size_t> loose;
    for (const auto& [offset, index] : byOffset_) {
      if (entries_[index].Kind == TPageKind::UsageMap && !placed_.contains(index))
        loose.push_back(index);
    }
    std::sort(loose.begin(), loose.end());
    return loose;
  }

  // The user tables `database`'s catalog names, by their definitions' page numbers.
  const std::set<std::uint32_t>& NamedTablesOf(TDatabase& database) {
    NamedPagesOf(database);
    return database.Tables;
  }

  // The LVAL rows of a page: row number → length (0 for a row that cannot be read).
  const std::map<std::uint8_t, std::uint32_t>& LongValueRowsOf(std::size_t index) const {
    const auto [cached, added] = longValueRowsOf_.try_emplace(index);
    if (!added) return cached->second;
    std::map<std::uint8_t, std::uint32_t>& rows = cached->second;
    const TPage page = Read(index);
    const std::uint16_t count = jet::StatedRowCount(page);
    if (jet::kRowTableAt + 2u * count > kPageSize) return rows;
    for (std::uint16_t row = 0; row < count && row < 256; ++row) {
      const jet::TRowSlot slot = jet::RowSlotAt(page, count, row);
      if (slot.Valid) rows[static_cast<std::uint8_t>(row)] = slot.End - slot.Start;
    }
    return rows;
  }

  // Pieces of LVAL pages placed by the long values of each database's placed rows: a
  // stretch of LVAL pages of a loose run, from a page holding a row of a length only one
  // LVAL row has (pointed to by a row of the database) as far as the pages go on being LVAL
  // pages, cut back to the last page pointed to, where the database bears it out (see
  // Bears) at one place only, and no other database or place would take any of its pages.
  // Returns how many pieces were placed.
  std::size_t PlaceLongValuePieces() {
    struct TCandidate {
      std::size_t Database = 0, Run = 0;
      std::size_t First = 0, Last = 0;  // positions in the run
      std::uint32_t Start = 0;          // the number of position First
    };
    const std::vector<std::vector<std::size_t>> loose = LooseRuns();
    std::vector<TCandidate> candidates;
    for (std::size_t d = 0; d < databases_.size(); ++d) {
      TDatabase& database = databases_[d];
      const std::multimap<std::uint32_t, TLongValueTarget>& wanted = WantedOf(database);
      if (wanted.empty()) continue;
      std::map<std::pair<std::uint8_t, std::uint32_t>, std::uint32_t> unique;  // → number
      for (const auto& [number, target] : wanted) {
        if (!target.Chain && UniqueLongValueRow(target.Row, target.Length))
          unique.emplace(std::pair{target.Row, target.Length}, number);
      }
      if (unique.empty()) continue;
      for (std::size_t r = 0; r < loose.size(); ++r) {
        const std::vector<std::size_t>& run = loose[r];
        for (std::size_t i = 0; i < run.size(); ++i) {
          if (!IsLongValuePage(entries_[run[i]])) continue;
          for (const auto& [row, length] : LongValueRowsOf(run[i])) {
            const auto number = unique.find({row, length});
            if (number == unique.end()) continue;
            // The stretch of LVAL pages around page i, numbered from it.
            std::size_t first = i, last = i;
            while (first > 0 && IsLongValuePage(entries_[run[first - 1]]) &&
                   Distance(run[first - 1], run[i]) <= number->second)
              --first;
            while (last + 1 < run.size() && IsLongValuePage(entries_[run[last + 1]])) ++last;
            // Numbered from page i, which holds the row pointed to.
            const auto numberAt = [&](std::size_t j) {
              return j <= i ? number->second - Distance(run[j], run[i])
                            : number->second + Distance(run[i], run[j]);
            };
            // Cut back to the pages pointed to: the rest says nothing of where it lies,
            // unless the page right beside the stretch is placed in the database at the
            // number that follows on: the stretch then lies between the database's own
            // pages, with no page missing, and is that part of the file.
            if (numberAt(first) == 0 || !BesidePlacedAt(run[first], false, d, numberAt(first) - 1)) {
              while (first < i && !wanted.contains(numberAt(first))) ++first;
            }
            if (!BesidePlacedAt(run[last], true, d, numberAt(last) + 1)) {
              while (last > i && !wanted.contains(numberAt(last))) --last;
            }
            const std::uint32_t numberOfFirst = numberAt(first);
            if (Bears(database, run, first, last, numberOfFirst))
              candidates.push_back({d, r, first, last, numberOfFirst});
          }
        }
      }
    }
    // A page that more than one candidate would place, or one candidate at two places,
    // stays where it is.
    std::map<std::size_t, std::set<std::pair<std::size_t, std::uint32_t>>> claims;
    for (const TCandidate& candidate : candidates) {
      const std::vector<std::size_t>& run = loose[candidate.Run];
      for (std::size_t j = candidate.First; j <= candidate.Last; ++j)
        claims[run[j]].insert(
            {candidate.Database, candidate.Start + Distance(run[candidate.First], run[j])});
    }
    std::size_t placedNow = 0;
    std::set<std::size_t> done;
    for (const TCandidate& candidate : candidates) {
      const std::vector<std::size_t>& run = loose[candidate.Run];
      bool alone = true;
      for (std::size_t j = candidate.First; j <= candidate.Last && alone; ++j)
        alone = claims[run[j]].size() == 1 && !done.contains(run[j]);
      if (!alone) continue;
      TDatabase& database = databases_[candidate.Database];
      for (std::size_t j = candidate.First; j <= candidate.Last; ++j) {
        Add(database, candidate.Start + Distance(run[candidate.First], run[j]), run[j]);
        done.insert(run[j]);
      }
      ++placedNow;
    }
    return placedNow;
  }

  std::vector<TDatabasePages> Result() const {
    std::vector<TDatabasePages> result;
    for (const TDatabase& database : databases_) {
      if (database.Pages.empty()) continue;
      TDatabasePages& pages = result.emplace_back();
      pages.Base = database.Base;
      for (const auto& [number, index] : database.Pages) {
        pages.Pages.emplace(number, index);
        const std::int64_t offset = entries_[index].SourceOffset;
        if (pages.FirstOffset < 0 || offset < pages.FirstOffset) pages.FirstOffset = offset;
        pages.LastOffset = std::max(pages.LastOffset, offset);
      }
    }
    std::sort(result.begin(), result.end(), [](const TDatabasePages& a, const TDatabasePages& b) {
      return a.FirstOffset < b.FirstOffset;
    });
    return result;
  }

  const IPageStore& store_;
  const std::vector<TPageEntry>& entries_;
  const std::function<TPageJudgement(std::size_t, const TTableDefinition&)> judge_;
  const std::function<bool()> stopRequested_;
  std::vector<std::vector<std::size_t>> runs_;  // store indices, by offset within each
  std::unordered_map<std::int64_t, std::size_t> runOf_;     // offset → run
  std::unordered_map<std::int64_t, std::size_t> byOffset_;  // offset → store index
  std::vector<TDatabase> databases_;
  // (row number, length) → how many LVAL rows of the store have it.
  std::map<std::pair<std::uint8_t, std::uint32_t>, std::size_t> longValueRowCount_;
  bool longValueRowsCounted_ = false;
  // Where each home lies: its database, its run, and its first and one-past-last position
  // there at the widest.
  // A piece placed outside a home is taken further along its run the same way, numbered
  // as it was placed. Origin: where the database's page 0 would lie on the source.
  struct THome {
    std::size_t Database = 0, Run = 0, First = 0, End = 0;
    std::int64_t Origin = 0;
    bool Piece = false;
  };
  std::vector<THome> homes_;
  // Store index → its run and its position there.
  std::unordered_map<std::size_t, std::pair<std::size_t, std::size_t>> runPosition_;
  // First definition pages that are a whole definition alone (or none at all), parsed.
  std::unordered_map<std::size_t, std::optional<TTableDefinition>> wholeDefinitions_;
  std::map<std::pair<std::size_t, std::size_t>, TPageJudgement> judgements_;  // see JudgementOf
  mutable std::unordered_map<std::size_t, std::map<std::uint8_t, std::uint32_t>> longValueRowsOf_;
  std::unordered_map<std::size_t, std::vector<std::uint32_t>> catalogTablesOf_;  // see CatalogTablesOf
  // The number of the last bitmap page a usage map asked for that was not there.
  std::optional<std::uint32_t> missingBitmap_;
  std::set<std::int64_t> sortedOffsets_;  // offsets of the pages in runs
  std::set<std::size_t> voted_;           // databases whose base came from votes alone
  const std::map<std::int64_t, std::int64_t> homeStarts_;  // see TPlacementReading
  std::set<std::size_t> placed_;          // store indices given to a database
  // Store index → the database and number it was given (pages placed for good only).
  std::unordered_map<std::size_t, std::pair<std::size_t, std::uint32_t>> placedAt_;
  // Page number → the databases with a definition page at it: only they can say anything
  // of a data page whose owner value is that number.
  std::unordered_map<std::uint32_t, std::vector<std::size_t>> holdersOf_;
};

}  // namespace

std::vector<TDatabasePages> PlaceRuns(const IPageStore& store,
                                      const std::vector<TPageEntry>& entries,
                                      const std::vector<std::int64_t>& bases,
                                      const TPlacementReading& reading,
                                      TPlacementCounts* counts) {
  TPlacer placer(store, entries, reading);
  try {
    return placer.Place(bases, counts);
  } catch (const TPlacementStopped&) {
    return {};
  }
}

}  // namespace quillon::recover
