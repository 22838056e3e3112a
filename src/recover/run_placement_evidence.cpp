// What a database's placed pages say (definitions, usage maps, catalog, long values), what
// a page says of its belonging there, and whether a stretch of a run holds at a place.

#include "recover/run_placement_internal.h"

namespace quillon::recover::placement {

// The page of `database` at `number`, SIZE_MAX when it has none.
std::size_t TPlacer::PageAt(const TDatabase& database, std::uint32_t number) {
  const auto found = database.Pages.find(number);
  return found == database.Pages.end() ? SIZE_MAX : found->second;
}

TPage TPlacer::Read(std::size_t index) const {
  StopIfAsked();
  TPage page{};
  store_.Read(index, page);
  return page;
}

// Before a page is read, here or by the fit and pointer readers.
void TPlacer::StopIfAsked() const {
  if (stopRequested_ && stopRequested_()) throw TPlacementStopped{};
}

// What data page `index` says against the definition whose first page is store page
// `definitionIndex` (parsed as `definition`): asked once per pair, for a page is judged
// against the same definition again as placing goes on.
const TPageJudgement& TPlacer::JudgementOf(std::size_t index, std::size_t definitionIndex,
                                           const TTableDefinition& definition) {
  const auto found = judgements_.find({index, definitionIndex});
  if (found != judgements_.end()) return found->second;
  StopIfAsked();
  return judgements_[{index, definitionIndex}] = judge_(index, definition);
}

std::optional<bool> TPlacer::FitOf(std::size_t index, std::size_t definitionIndex,
                                   const TTableDefinition& definition) {
  return JudgementOf(index, definitionIndex, definition).Fits;
}

const std::vector<TLongValueTarget>& TPlacer::TargetsOf(std::size_t index,
                                                        std::size_t definitionIndex,
                                                        const TTableDefinition& definition) {
  return JudgementOf(index, definitionIndex, definition).Targets;
}

// The whole definition whose first page is `database`'s page `number`, continuation
// pages found by their numbers; nothing when there is none.
const std::optional<TTableDefinition>& TPlacer::DefinitionOf(TDatabase& database,
                                                             std::uint32_t number) {
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
const std::optional<std::set<std::uint32_t>>& TPlacer::ListedOf(TDatabase& database,
                                                                std::uint32_t owner) {
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
TSays TPlacer::SaysOf(TDatabase& database, std::size_t index,
                      std::optional<std::uint32_t> number) {
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
  // yet (one whose home ends before its catalog) or holds the definition of a table the
  // page names, where the tables they name do not contradict the database's own pages.
  if (entry.Owner <= kLastSystemPage &&
      (entry.Owner != jet::kCatalogOwner || !CatalogFits(database, index, number)))
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
// pages). Where the database has a catalog page already, the page goes at `number` only
// where a table it names has its definition there in the page's own run, at that run's
// numbering: a catalog's later page lies in a later piece of the file, beside the tables
// it names, while an older copy's catalog page names the same tables at the same ids and
// lies beside its own copy's definitions, not the database's.
bool TPlacer::CatalogFits(TDatabase& database, std::size_t index,
                          std::optional<std::uint32_t> number) {
  if (!ListedOf(database, jet::kCatalogOwner)) return false;
  const std::vector<std::uint32_t>& tables = CatalogTablesOf(index);
  if (tables.empty()) return false;
  const bool further = HasCatalogPage(database);
  bool defined = false;  // a table it names has its definition there
  bool beside = false;   // ... in the page's run, in step with `number`
  for (const std::uint32_t table : tables) {
    const std::size_t there = PageAt(database, table);
    if (there != SIZE_MAX && entries_[there].Kind != TPageKind::Definition) return false;
    defined |= there != SIZE_MAX;
    if (number && there != SIZE_MAX &&
        runPosition_.at(there).first == runPosition_.at(index).first &&
        entries_[there].SourceOffset - entries_[index].SourceOffset ==
            (static_cast<std::int64_t>(table) - static_cast<std::int64_t>(*number)) * kPage)
      beside = true;
  }
  // Asked without a number (which database a piece's pages speak for), a definition of a
  // table it names is enough; the number it is placed at must then bear it out.
  return !further || (number ? beside : defined);
}

// What catalog page `index` says of lying at `number` in `database`, as a page along a run
// from pages placed there: a catalog holds rows on several pages, and the ones after its
// first lie wherever Access found room, often far from the database's home. The page is
// the database's where its catalog's usage map lists the number, its rows fit the catalog's
// definition, every table it names has its definition page at that id there or no page yet
// (its definition can lie in a piece not placed yet), at least one of them a user table's
// (the system tables' lie at the same pages in every database), and none of them is named
// by another catalog page of the database (a copy's catalog names the same tables).
// Where another database's pages say the same (a copy, or one of the same design), it says
// nothing: a home or piece walks on past it as past any page that names no one.
TSays TPlacer::SaysOfFurtherCatalogPage(TDatabase& database, std::size_t index,
                                        std::uint32_t number) {
  if (!NamesItsTables(database, index, number)) return TSays::Nothing;
  for (TDatabase& other : databases_) {
    if (&other != &database && NamesItsTables(other, index, number)) return TSays::Nothing;
  }
  return TSays::For;
}

// See SaysOfFurtherCatalogPage: whether `database` bears out catalog page `index` at `number`.
bool TPlacer::NamesItsTables(TDatabase& database, std::size_t index, std::uint32_t number) {
  const std::optional<std::set<std::uint32_t>>& listed = ListedOf(database, jet::kCatalogOwner);
  if (!listed || !listed->contains(number)) return false;
  const std::optional<TTableDefinition>& definition = DefinitionOf(database, jet::kCatalogOwner);
  if (!definition ||
      FitOf(index, PageAt(database, jet::kCatalogOwner), *definition) != true)
    return false;
  const std::vector<std::uint32_t> tables = CatalogTablesOf(index);
  if (tables.empty()) return false;
  bool defined = false;
  for (const std::uint32_t table : tables) {
    const std::size_t there = PageAt(database, table);
    if (there == SIZE_MAX) continue;
    if (entries_[there].Kind != TPageKind::Definition) return false;
    // The system tables' definitions lie at the same pages in every database.
    defined |= table > kLastSystemPage;
  }
  if (!defined) return false;
  for (const auto& [other, otherIndex] : database.Pages) {
    const TPageEntry& entry = entries_[otherIndex];
    if (other == number || entry.Kind != TPageKind::Data || entry.Owner != jet::kCatalogOwner)
      continue;
    for (const std::uint32_t table : CatalogTablesOf(otherIndex)) {
      if (std::find(tables.begin(), tables.end(), table) != tables.end()) return false;
    }
  }
  return true;
}

// Whether `database` has a page of its catalog's rows already.
bool TPlacer::HasCatalogPage(const TDatabase& database) const {
  return std::any_of(database.Pages.begin(), database.Pages.end(), [&](const auto& page) {
    const TPageEntry& entry = entries_[page.second];
    return entry.Kind == TPageKind::Data && entry.Owner == jet::kCatalogOwner;
  });
}

// The definition pages of the tables whose live rows catalog page `index` holds.
const std::vector<std::uint32_t>& TPlacer::CatalogTablesOf(std::size_t index) {
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

void TPlacer::Add(TDatabase& database, std::uint32_t number, std::size_t index) {
  database.Pages.emplace(number, index);
  placed_.insert(index);
  placedAt_.emplace(
      index, std::pair{static_cast<std::size_t>(&database - databases_.data()), number});
  Forget(database);
}

// Number → owner value, for every number a readable usage map of `database` lists.
const std::map<std::uint32_t, std::uint32_t>& TPlacer::ListedOwnerOf(TDatabase& database) {
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
const std::multimap<std::uint32_t, TLongValueTarget>& TPlacer::WantedOf(TDatabase& database) {
  if (database.Wanted) return *database.Wanted;
  std::multimap<std::uint32_t, TLongValueTarget> wanted = PointersOf(database, 2);
  std::erase_if(wanted,
                [&](const auto& pointer) { return database.Pages.contains(pointer.first); });
  return *(database.Wanted = std::move(wanted));
}

// Does LVAL row `rows` hold what `target` asks of it: a single-row value fills its row
// exactly; a chain's first part holds at least the pointer to the next.
bool TPlacer::Holds(const std::map<std::uint8_t, std::uint32_t>& rows,
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
bool TPlacer::Bears(TDatabase& database, const std::vector<std::size_t>& run, std::size_t first,
                    std::size_t last, std::uint32_t start) {
  const std::optional<TBearing> bearing = BearingOf(database, run, first, last, start);
  return bearing && bearing->Unlisted == 0;
}

std::optional<TPlacer::TBearing> TPlacer::BearingOf(TDatabase& database,
                                                    const std::vector<std::size_t>& run,
                                                    std::size_t first, std::size_t last,
                                                    std::uint32_t start) {
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
    // A chain's first part is told by its row alone (any length of 4 bytes or more): only
    // a single-row value, whose row has its exact length, counts as found.
    if (!target->second.Chain) ++bearing.LongValues;
    positive = true;
  }
  if (!positive) return std::nullopt;
  return bearing;
}

void TPlacer::Forget(TDatabase& database) {
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
const std::set<std::uint32_t>& TPlacer::NamedPagesOf(TDatabase& database) {
  if (database.Catalog) return *database.Catalog;
  std::set<std::uint32_t> named;
  std::vector<std::uint32_t> tables;
  for (const auto& [number, index] : database.Pages) {
    const TPageEntry& entry = entries_[index];
    if (entry.Kind != TPageKind::Data || entry.Owner != jet::kCatalogOwner) continue;
    const std::vector<std::uint32_t>& listed = CatalogTablesOf(index);
    tables.insert(tables.end(), listed.begin(), listed.end());
  }
  database.Tables.clear();
  for (const std::uint32_t table : tables) {
    if (table > kLastSystemPage) database.Tables.insert(table);
  }
  for (std::uint32_t number = 2; number <= kLastSystemPage; ++number) tables.push_back(number);
  database.DefinitionNumbers.clear();
  for (const std::uint32_t table : tables) {
    std::uint32_t at = table;
    for (std::size_t i = 0; i < kMaxDefinitionPages && at != 0 && named.insert(at).second; ++i) {
      database.DefinitionNumbers.insert(at);
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
const std::multimap<std::uint32_t, TLongValueTarget>& TPlacer::PointedOf(TDatabase& database) {
  if (database.Pointed) return *database.Pointed;
  return *(database.Pointed = PointersOf(database, kLastSystemPage + 1));
}

// The long values that the live rows of `database`'s table pages of owner values from
// `firstOwner` point to, by page number: only rows of pages that fit a definition of a
// user table exactly are read, so a pointer is never taken from bytes it only resembles.
std::multimap<std::uint32_t, TLongValueTarget> TPlacer::PointersOf(TDatabase& database,
                                                                   std::int64_t firstOwner) {
  std::multimap<std::uint32_t, TLongValueTarget> pointers;
  for (const auto& [number, index] : database.Pages) {
    const TPageEntry& entry = entries_[index];
    if (!IsTablePage(entry) || entry.Owner < firstOwner) continue;
    const std::optional<TTableDefinition>& definition = DefinitionOf(database, entry.Owner);
    const std::size_t at = PageAt(database, entry.Owner);
    if (!definition || definition->System || FitOf(index, at, *definition) != true) continue;
    for (const TLongValueTarget& target : TargetsOf(index, at, *definition))
      pointers.emplace(target.Page, target);
  }
  return pointers;
}

// The one page number at which the piece's first page lies in `database` (see Bears).
// The numbers tried come from the usage map of the piece's table that lists the fewest,
// and from the long values that point to rows of a length only one LVAL row has. Nothing
// when no number or more than one holds.
std::optional<std::uint32_t> TPlacer::StartOf(TDatabase& database,
                                              const std::vector<std::size_t>& run,
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
bool TPlacer::StretchHolds(TDatabase& database, const std::vector<std::size_t>& run,
                           std::size_t first, std::size_t last, std::int64_t origin) {
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

// The user tables `database`'s catalog names, by their definitions' page numbers.
const std::set<std::uint32_t>& TPlacer::NamedTablesOf(TDatabase& database) {
  NamedPagesOf(database);
  return database.Tables;
}

}  // namespace quillon::recover::placement
