#include "recover/base_from_evidence.h"

#include <algorithm>
#include <limits>
#include <map>
#include <span>
#include <string>

#include "jet/catalog.h"
#include "jet/row_slots.h"
#include "jet/usage_map.h"
#include "jet/table_definition.h"
#include "recover/page_slots.h"
#include "recover/row_fit.h"
#include "recover/table_definition.h"

namespace quillon::recover {
namespace {

constexpr std::int64_t kPage = static_cast<std::int64_t>(kPageSize);
// Data pages of one owner value read, and live rows of each judged: a few rows that all fit
// a definition exactly say whose they are (as placement judges a page).
constexpr std::size_t kPagesReadPerOwner = 8;
constexpr std::size_t kRowsJudgedPerPage = 8;
// Definition × owner value pairs compared at most, which bounds the work on a huge source.
constexpr std::size_t kMaxPairs = 1'000'000;
// The widest gap between two pages of one run (index pages are not in the store): as
// run_placement.cpp cuts runs.
constexpr std::int64_t kMaxGapPages = 96;
// The system tables' definitions lie at pages 2 to 5: an owner value there is no user table.
constexpr std::uint32_t kLastSystemPage = 5;

// The live rows of a data page that placement would judge, byte for byte.
std::vector<std::string> JudgedRowsOf(const IPageStore& store, std::size_t index) {
  TPage page{};
  store.Read(index, page);
  std::vector<std::string> rows = LiveRowsOf(page);
  if (rows.size() > kRowsJudgedPerPage) rows.resize(kRowsJudgedPerPage);
  return rows;
}

bool AllFit(const std::vector<std::string>& rows, const TTableDefinition& definition) {
  if (rows.empty()) return false;
  return std::all_of(rows.begin(), rows.end(), [&](const std::string& row) {
    return HasExactShape(std::span(reinterpret_cast<const std::uint8_t*>(row.data()), row.size()),
                         definition);
  });
}

// A one-page definition parsed alone; nothing where the page holds none or it goes on.
std::optional<TTableDefinition> DefinitionAlone(const IPageStore& store, std::size_t index) {
  TPage page{};
  store.Read(index, page);
  if (!jet::IsDefinitionPage(page)) return std::nullopt;
  TDefinitionResult parsed = ParseTableDefinition(page);
  if (parsed.Status != TDefinitionParse::Ok) return std::nullopt;
  return std::move(parsed.Definition);
}

bool SameTable(const TTableDefinition& a, const TTableDefinition& b) {
  return std::equal(a.Columns.begin(), a.Columns.end(), b.Columns.begin(), b.Columns.end(),
                    [](const TColumn& x, const TColumn& y) {
                      return x.Name == y.Name && x.Type == y.Type && x.Number == y.Number;
                    });
}

}  // namespace

std::optional<TEvidenceBase> BaseFromEvidence(const IPageStore& store,
                                              const std::vector<TPageEntry>& entries,
                                              const std::vector<TFoundDefinition>& definitions,
                                              const std::set<std::size_t>& placed,
                                              const std::set<std::int64_t>& tried) {
  // The loose data pages by owner value, the first few of each (source order).
  std::map<std::uint32_t, std::vector<std::size_t>> pagesOf;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const TPageEntry& entry = entries[i];
    if (entry.Kind != TPageKind::Data || entry.Owner == jet::kLvalOwner ||
        entry.Owner <= kLastSystemPage || entry.SourceOffset < 0 || placed.contains(i))
      continue;
    std::vector<std::size_t>& pages = pagesOf[entry.Owner];
    if (pages.size() < kPagesReadPerOwner) pages.push_back(i);
  }
  if (pagesOf.empty()) return std::nullopt;
  // The loose one-page user definitions, parsed alone.
  std::vector<std::pair<std::size_t, TTableDefinition>> loose;
  for (const TFoundDefinition& found : definitions) {
    if (found.SystemPage != 0 || found.Offset < 0 || placed.contains(found.Index)) continue;
    if (std::optional<TTableDefinition> definition = DefinitionAlone(store, found.Index))
      loose.emplace_back(found.Index, std::move(*definition));
  }
  if (loose.empty() || loose.size() * pagesOf.size() > kMaxPairs) return std::nullopt;

  std::map<std::size_t, std::vector<std::string>> rowsOf;  // store index → judged rows
  std::map<std::int64_t, std::set<std::size_t>> agreeing;  // base → definitions
  for (const auto& [index, definition] : loose) {
    const std::int64_t offset = entries[index].SourceOffset;
    for (const auto& [owner, pages] : pagesOf) {
      const std::int64_t base = offset - kPage * static_cast<std::int64_t>(owner);
      if (base < 0 || tried.contains(base)) continue;
      for (const std::size_t page : pages) {
        auto rows = rowsOf.find(page);
        if (rows == rowsOf.end()) rows = rowsOf.emplace(page, JudgedRowsOf(store, page)).first;
        if (AllFit(rows->second, definition)) {
          agreeing[base].insert(index);
          break;
        }
      }
    }
  }
  std::optional<TEvidenceBase> best;
  for (const auto& [base, found] : agreeing) {
    if (found.size() < kMinAgreeingDefinitions) continue;
    if (best && found.size() <= best->Definitions.size()) continue;
    best = TEvidenceBase{base, 0, {found.begin(), found.end()}};
  }
  if (!best) return std::nullopt;

  // Its home: from the earliest agreeing definition back over the pages on its grid that
  // lie no farther apart than a run's, not before its page 6 (what lies at its header and
  // system pages is another file's: had they been there, they would have given the base).
  std::int64_t start = std::numeric_limits<std::int64_t>::max();
  for (const std::size_t index : best->Definitions)
    start = std::min(start, entries[index].SourceOffset);
  std::set<std::int64_t> onGrid;
  for (const TPageEntry& entry : entries) {
    if (entry.SourceOffset >= best->Base + kPage * (kLastSystemPage + 1) &&
        entry.SourceOffset < start &&
        (entry.SourceOffset - best->Base) % kPage == 0)
      onGrid.insert(entry.SourceOffset);
  }
  for (auto at = onGrid.rbegin(); at != onGrid.rend() && start - *at <= kMaxGapPages * kPage; ++at)
    start = *at;
  best->HomeStart = start;
  return best;
}

bool CopiesAPlacedDatabase(const IPageStore& store, const std::vector<TPageEntry>& entries,
                           const TEvidenceBase& found, const std::vector<TDatabasePages>& placed) {
  std::map<std::size_t, std::size_t> same;  // placed database → definitions of one table
  for (const std::size_t index : found.Definitions) {
    const auto number =
        static_cast<std::uint32_t>((entries[index].SourceOffset - found.Base) / kPage);
    std::optional<TTableDefinition> ours;
    for (std::size_t d = 0; d < placed.size(); ++d) {
      const auto there = placed[d].Pages.find(number);
      if (there == placed[d].Pages.end() || entries[there->second].Kind != TPageKind::Definition)
        continue;
      if (!ours) ours = DefinitionAlone(store, index);
      if (!ours) break;
      const std::optional<TTableDefinition> theirs = DefinitionAlone(store, there->second);
      if (theirs && SameTable(*ours, *theirs)) ++same[d];
    }
  }
  return std::any_of(same.begin(), same.end(), [&](const auto& count) {
    return 2 * count.second > found.Definitions.size();
  });
}

std::set<std::uint32_t> TablesItsCatalogNames(const IPageStore& store,
                                              const std::vector<TPageEntry>& entries,
                                              const TDatabasePages& database) {
  std::set<std::uint32_t> named;
  for (const auto& [number, index] : database.Pages) {
    const TPageEntry& entry = entries[index];
    if (entry.Kind != TPageKind::Data || entry.Owner != jet::kCatalogOwner) continue;
    TPage page{};
    store.Read(index, page);
    for (const std::string& row : LiveRowsOf(page)) {
      const std::optional<jet::TCatalogObject> object = jet::ReadCatalogObject(
          std::span(reinterpret_cast<const std::uint8_t*>(row.data()), row.size()));
      if (object && object->Type == jet::kLocalTableType) named.insert(object->DefinitionPage());
    }
  }
  return named;
}

std::size_t NamedByItsCatalog(const IPageStore& store, const std::vector<TPageEntry>& entries,
                              const TEvidenceBase& found, const TDatabasePages& database) {
  const std::set<std::uint32_t> named = TablesItsCatalogNames(store, entries, database);
  return static_cast<std::size_t>(std::count_if(
      found.Definitions.begin(), found.Definitions.end(), [&](std::size_t index) {
        return named.contains(
            static_cast<std::uint32_t>((entries[index].SourceOffset - found.Base) / kPage));
      }));
}

bool HoldsCatalogPageListedBy(const IPageStore& store, const std::vector<TPageEntry>& entries,
                              const TDatabasePages& database, const TDatabasePages& other) {
  std::map<std::uint32_t, TPage> read;  // other's pages by number, as asked for
  const auto pageOf = [&](std::uint32_t number) -> const TPage* {
    const auto there = other.Pages.find(number);
    if (there == other.Pages.end()) return nullptr;
    const auto [at, added] = read.try_emplace(number);
    if (added) store.Read(there->second, at->second);
    return &at->second;
  };
  const TPage* catalogDefinition = pageOf(jet::kCatalogOwner);
  if (!catalogDefinition || !jet::IsDefinitionPage(*catalogDefinition)) return false;
  const TDefinitionResult parsed = ParseTableDefinition(*catalogDefinition);
  if (!parsed.Definition) return false;
  const std::uint32_t pointer = parsed.Definition->UsageMapPointer;
  const TPage* mapPage = pageOf(pointer >> 8);
  if (!mapPage) return false;
  const std::vector<TSlot> slots = SlotsOf(*mapPage);
  const std::size_t row = pointer & 0xFF;
  if (row >= slots.size() || slots[row].End <= slots[row].Start) return false;
  const std::optional<std::set<std::uint32_t>> listed = jet::ParseUsageMap(
      std::span<const std::uint8_t>(*mapPage).subspan(slots[row].Start,
                                                      slots[row].End - slots[row].Start),
      [&](std::uint32_t number) -> const std::uint8_t* {
        const TPage* page = pageOf(number);
        return page ? page->data() : nullptr;
      });
  if (!listed) return false;
  for (const auto& [number, index] : database.Pages) {
    const TPageEntry& entry = entries[index];
    if (entry.Kind == TPageKind::Data && entry.Owner == jet::kCatalogOwner &&
        listed->contains(number) && !other.Pages.contains(number))
      return true;
  }
  return false;
}

}  // namespace quillon::recover
