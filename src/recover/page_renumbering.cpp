#include "recover/page_renumbering.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <unordered_map>
#include <unordered_set>

#include "jet/byte_view.h"
#include "jet/long_value.h"
#include "recover/definition_chain.h"
#include "recover/map_ties.h"
#include "recover/page_order.h"
#include "recover/row_fit.h"
#include "recover/table_plan.h"
#include "recover/usage_maps.h"

namespace quillon::recover {
namespace {

constexpr int kNumberingRounds = 8;
constexpr std::size_t kChainPart = SIZE_MAX;  // a pointer to a chain's first part, of any length

// One renumbering of one database: the anchors found, the definitions tied by shape, and
// the long-value pointers read so far, over the rounds that number the pages again.
class TPageRenumbering {
 public:
  TPageRenumbering(const TDatabaseReader& reader, const std::vector<TPageEntry>& entries,
                   TDatabasePages& database, const std::unordered_set<std::size_t>& otherCopies)
      : reader_(reader), entries_(entries), database_(database), otherCopies_(otherCopies) {}

  // What Run found; the renumbering is spent.
  TRenumbering Result() { return {std::move(shapeTies_), std::move(longValuesChecked_)}; }

  // Numbers the pages again from what is certain: header and system definitions, each
  // definition that exactly one table's rows fit by shape (and that fits no other table),
  // and the LVAL pages that single-row long values point to where only one LVAL row on
  // the source has the value's length, two such rows at least putting their piece at one
  // place.
  void Run() {
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
      if (database_.Confirmed.contains(index)) confirmedAt_.emplace(index, number);
      definitionByOffset_.emplace(entry.SourceOffset, index);
      const TPage page = *reader_.PageByIndex(index);
      const TDefinitionResult alone = ParseTableDefinition(page);
      if (alone.Definition) {
        if (const std::uint32_t system = SystemDefinitionPage(*alone.Definition))
          anchors.push_back({index, system});
      }
    }
    // Ties by shape: owner → the definition pages its rows fit exactly.
    std::map<std::uint32_t, TTablePlan> byOwner = PagesByOwner(entries_, database_);
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
          std::optional<TTableDefinition> definition =
              DefinitionFromPage(reader_, entries_, definitionByOffset_, index, owner);
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
    KeepConfirmedDefinitions(byOwner, fits, fitsOf);
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
      if (entries_[index].Kind == TPageKind::Data && entries_[index].Owner == jet::kLvalOwner &&
          !otherCopies_.contains(index))
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
      const std::size_t held =
          AnchorPagesHoldingTwo(targets, lengthsOf, round > 0, anchored, anchors);
      if (round > 0 && read == 0 && tied == 0 && held == 0) break;
      database_ = NumberFromAnchors(entries_, grid, anchors, agrees);
    }
    longValuesChecked_ = std::move(pointersRead);
  }

 private:
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
    const std::optional<std::set<std::uint32_t>> listed =
        UsageMapAtPlaces(reader_, entries_, definition.UsageMapPointer, pageAt);
    if (!listed || listed->empty()) return false;
    return std::all_of(listed->begin(), listed->end(), [&](std::uint32_t number) {
      const std::optional<std::size_t> data = pageAt(number);
      return data && entries_[*data].Kind == TPageKind::Data && entries_[*data].Owner == owner;
    });
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
      hypothesis.Listed =
          UsageMapAtPlaces(reader_, entries_, candidate.Parsed.UsageMapPointer, pageAt);
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
  // LVAL row on the source has the value's row number and length (see SecondLongValueMatch).
  std::size_t LongValueAnchors(
      const TTablePlan& plan, const TTableDefinition& definition,
      const std::map<std::pair<std::uint8_t, std::size_t>, std::vector<std::size_t>>& longValueRows,
      std::set<std::size_t>& anchored, std::vector<TPageAnchor>* anchors,
      std::multimap<std::uint32_t, std::pair<std::uint8_t, std::size_t>>& targets) {
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
          if (chain) chainLengths_.emplace(std::pair{head.Where.Page, head.Where.Row}, head.Length);
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
          added += SecondLongValueMatch(found->second[0], head, anchored, *anchors);
        });
      }
    }
    return added;
  }

  // One long value's row of a unique row number and length is one coincidence away from
  // another database's row, or another page of this one, where its own page was lost: it
  // anchors its page only once a second such row (another row, on that page or on another
  // lying at the same distance from its number) puts its piece at the same place, or a
  // second long value is found in it or beside it there (see AnchorPagesHoldingTwo). Returns
  // how many anchors that added.
  std::size_t SecondLongValueMatch(std::size_t index, const jet::TLongValueHead& head,
                                   std::set<std::size_t>& anchored,
                                   std::vector<TPageAnchor>& anchors) {
    const std::int64_t shift = entries_[index].SourceOffset -
                               static_cast<std::int64_t>(head.Where.Page) *
                                   static_cast<std::int64_t>(kPageSize);
    TLongValueMatches& matches = longValueMatches_[shift];
    if (!matches.Rows.insert({index, head.Where.Row}).second) return 0;
    matches.Pages.emplace(index, head.Where.Page);
    if (matches.Rows.size() < kLongValueMatchesToAnchor) return 0;
    std::size_t added = 0;
    for (const auto& [page, number] : matches.Pages) {
      if (anchored.insert(page).second) {
        anchors.push_back({page, number});
        ++added;
      }
    }
    return added;
  }

  // The pages that one long value of a unique row number and length names (see
  // SecondLongValueMatch) whose place the pages beside it bear out: from the page on, page
  // by page at the same distance from their numbers while each holds every long value
  // pointed to its number (a piece of the file goes on there), two single-row values at
  // least are found, each in a row of its exact length. Returns how many anchors that added.
  std::size_t AnchorPagesHoldingTwo(
      const std::multimap<std::uint32_t, std::pair<std::uint8_t, std::size_t>>& targets,
      const std::map<std::size_t, std::map<std::uint8_t, std::size_t>>& lengthsOf,
      bool mapsCertain, std::set<std::size_t>& anchored, std::vector<TPageAnchor>& anchors) {
    if (longValueMatches_.empty()) return 0;
    // Owner value → the pages its table's usage map lists, read at the numbers certain so
    // far (nothing: no definition or map there to read).
    std::map<std::uint32_t, std::optional<std::set<std::uint32_t>>> listedOf;
    const auto listed = [&](std::uint32_t owner) -> const std::optional<std::set<std::uint32_t>>& {
      const auto [known, added] = listedOf.try_emplace(owner);
      if (!added) return known->second;
      const std::optional<TTableDefinition> definition =
          DefinitionAt(reader_, entries_, database_, owner);
      if (definition && !definition->System)
        known->second = UsageMapOf(reader_, entries_, database_, definition->UsageMapPointer);
      return known->second;
    };
    std::unordered_map<std::int64_t, std::size_t> byOffset;  // this database's pages
    for (const std::size_t index : inDatabase_) byOffset.emplace(entries_[index].SourceOffset, index);
    // The single-row values found at `number` in page `index`; nothing when the page lacks
    // one of the values pointed there.
    std::int64_t shift = 0;  // of the place being looked at
    const auto foundAt = [&](std::size_t index, std::uint32_t number) -> std::optional<std::size_t> {
      // A table's data page at a number its table's map lists bears the place out; at one
      // the map does not list, the piece has ended (or the page is a stale one).
      const TPageEntry& entry = entries_[index];
      if (entry.Kind == TPageKind::Data && entry.Owner != jet::kLvalOwner) {
        if (!mapsCertain || entry.Owner <= kLastSystemDefinition) return 0;
        const std::optional<std::set<std::uint32_t>>& pages = listed(entry.Owner);
        if (!pages) return 0;
        if (!pages->contains(number)) return std::nullopt;
        return 1;
      }
      const auto rows = lengthsOf.find(index);
      std::size_t exact = PartPointsInPlace(byOffset, shift, index, number) ? 1 : 0;
      for (auto [at, end] = targets.equal_range(number); at != end; ++at) {
        if (rows == lengthsOf.end()) return std::nullopt;
        const auto row = rows->second.find(at->second.first);
        const bool chain = at->second.second == kChainPart;
        if (row == rows->second.end() ||
            (chain ? row->second < 4 : row->second != at->second.second))
          return std::nullopt;
        if (!chain) ++exact;
        else if (ChainAddsUp(byOffset, shift, number, at->second.first)) ++exact;
      }
      return exact;
    };
    constexpr std::int64_t kPage = static_cast<std::int64_t>(kPageSize);
    std::size_t added = 0;
    for (const auto& [placeShift, matches] : longValueMatches_) {
      shift = placeShift;
      for (const auto& [index, number] : matches.Pages) {
        if (anchored.contains(index)) continue;
        const std::optional<std::size_t> own = foundAt(index, number);
        if (!own) continue;
        // A page that holds nothing but what the database's rows point to there is borne
        // out by itself: a page of another file, standing in for a lost one, holds rows of
        // its own besides the one of the pointed length.
        std::size_t found = HoldsOnlyPointed(targets, index, number) ? kLongValueMatchesToAnchor
                                                                     : *own;
        for (const int step : {-1, 1}) {
          for (std::int64_t k = 1; k <= kPagesWalked && found < kLongValueMatchesToAnchor; ++k) {
            const std::int64_t at = static_cast<std::int64_t>(number) + step * k;
            if (at < 0) break;
            const auto page = byOffset.find(shift + at * kPage);
            if (page == byOffset.end()) break;
            const std::optional<std::size_t> there =
                foundAt(page->second, static_cast<std::uint32_t>(at));
            if (!there) break;
            found += *there;
          }
        }
        if (found < kLongValueMatchesToAnchor) continue;
        anchored.insert(index);
        anchors.push_back({index, number});
        ++added;
      }
    }
    return added;
  }

  // Whether every live row of LVAL page `index` is one that a long value pointed to
  // `number` names.
  bool HoldsOnlyPointed(
      const std::multimap<std::uint32_t, std::pair<std::uint8_t, std::size_t>>& targets,
      std::size_t index, std::uint32_t number) const {
    std::set<std::uint8_t> pointed;
    for (auto [at, end] = targets.equal_range(number); at != end; ++at)
      pointed.insert(at->second.first);
    const std::vector<TSlot> slots = SlotsOf(*reader_.PageByIndex(index));
    bool any = false;
    for (std::size_t row = 0; row < slots.size(); ++row) {
      if (slots[row].End == 0 || !IsLive(slots[row])) continue;
      if (row > 255 || !pointed.contains(static_cast<std::uint8_t>(row))) return false;
      any = true;
    }
    return any;
  }

  // Whether a part of a chain on LVAL page `index`, at `number`, points to its next part on
  // a page beside it that, at `shift` from its number, holds that row: the page numbers the
  // file itself wrote in its chains agree with the place (a page of another file, or of
  // another place, names its own numbers).
  bool PartPointsInPlace(const std::unordered_map<std::int64_t, std::size_t>& byOffset,
                         std::int64_t shift, std::size_t index, std::uint32_t number) const {
    const TPageEntry& entry = entries_[index];
    if (entry.Kind != TPageKind::Data || entry.Owner != jet::kLvalOwner) return false;
    std::vector<jet::TRowPointer> nexts;
    {
      const TPage& bytes = *reader_.PageByIndex(index);
      for (const TSlot& slot : SlotsOf(bytes)) {
        if (slot.End < slot.Start + 4u || !IsLive(slot)) continue;
        const auto next = jet::RowPointerAt(
            std::span<const std::uint8_t>(bytes).subspan(slot.Start, slot.End - slot.Start), 0);
        if (next && next->Page != number && next->Page + kPagesWalked >= number &&
            next->Page <= number + kPagesWalked)
          nexts.push_back(*next);
      }
    }
    for (const jet::TRowPointer& next : nexts) {
      const auto page = byOffset.find(shift + static_cast<std::int64_t>(next.Page) *
                                                  static_cast<std::int64_t>(kPageSize));
      if (page == byOffset.end()) continue;
      const TPageEntry& there = entries_[page->second];
      if (there.Kind != TPageKind::Data || there.Owner != jet::kLvalOwner) continue;
      const std::vector<TSlot> slots = SlotsOf(*reader_.PageByIndex(page->second));
      if (next.Row < slots.size() && slots[next.Row].End >= slots[next.Row].Start + 4u)
        return true;
    }
    return false;
  }

  // Whether the chain of LVAL rows whose first part is row `row` of number `number`, read
  // from the pages at `shift` from their numbers, holds what its head says: parts that end
  // and add up to the value's length exactly, on other pages than the first's too (a chain
  // that leaves the place, or loops, does not; one on its first page alone says nothing of
  // the place).
  bool ChainAddsUp(const std::unordered_map<std::int64_t, std::size_t>& byOffset,
                   std::int64_t shift, std::uint32_t number, std::uint8_t row) const {
    const auto stated = chainLengths_.find({number, row});
    if (stated == chainLengths_.end()) return false;
    std::uint64_t length = 0;
    bool left = false;  // a part lies on another page: only then does the place count
    jet::TRowPointer at{number, row};
    for (std::size_t part = 0; part < kMaxChainParts; ++part) {
      const auto page = byOffset.find(shift + static_cast<std::int64_t>(at.Page) *
                                                  static_cast<std::int64_t>(kPageSize));
      if (page == byOffset.end()) return false;
      const TPageEntry& entry = entries_[page->second];
      if (entry.Kind != TPageKind::Data || entry.Owner != jet::kLvalOwner) return false;
      const TPage& bytes = *reader_.PageByIndex(page->second);
      const std::vector<TSlot> slots = SlotsOf(bytes);
      if (at.Row >= slots.size() || slots[at.Row].End < slots[at.Row].Start + 4u) return false;
      const auto part_bytes = std::span<const std::uint8_t>(bytes).subspan(
          slots[at.Row].Start, slots[at.Row].End - slots[at.Row].Start);
      length += part_bytes.size() - 4;
      const std::optional<jet::TRowPointer> next = jet::RowPointerAt(part_bytes, 0);
      if (!next) return false;
      if (next->Page == 0 && next->Row == 0) return left && length == stated->second;
      left |= next->Page != number;
      at = *next;
    }
    return false;
  }

  // The long values of unique row number and length found at one place of their piece
  // (the offset its page 0 would have): the LVAL rows met, and their pages' numbers.
  struct TLongValueMatches {
    std::set<std::pair<std::size_t, std::uint8_t>> Rows;  // (store index, row)
    std::map<std::size_t, std::uint32_t> Pages;            // store index → number
  };
  static constexpr std::size_t kLongValueMatchesToAnchor = 2;
  // Pages beside a long value's page looked at on each side (see AnchorPagesHoldingTwo).
  static constexpr std::int64_t kPagesWalked = 16;
  // The system tables' definitions lie at pages 2 to 5: their data pages are not judged by
  // their maps here (few pages, listed anywhere).
  static constexpr std::uint32_t kLastSystemDefinition = 5;
  // Parts of a chain followed at most (a value of 1 GiB has about 260,000; a chain that
  // leaves the pages beside its first part says nothing of them anyway).
  static constexpr std::size_t kMaxChainParts = 64;

  // A definition that evidence placed at the number position gave it, where its table's
  // pages that evidence placed fit it exactly, is that table's there: rows of its shape
  // under another owner value are another table's (another file's pages given by position,
  // a table of the same design), and tie it nowhere else. Evidence alone is no proof (a
  // home followed along its run numbers by position too); its own table's rows are.
  void KeepConfirmedDefinitions(
      const std::map<std::uint32_t, TTablePlan>& byOwner,
      std::map<std::uint32_t, std::vector<std::pair<std::size_t, TTableDefinition>>>& fits,
      std::map<std::size_t, std::vector<std::uint32_t>>& fitsOf) const {
    for (const auto& confirmed : confirmedAt_) {
      // Named apart from the pair: the lambdas below capture them, which a structured binding
      // allows only from C++20 compilers onward that not every toolchain here is.
      const std::size_t index = confirmed.first;
      const std::uint32_t number = confirmed.second;
      const auto own = byOwner.find(number);
      if (own == byOwner.end()) continue;
      TTablePlan evidenced = own->second;
      std::erase_if(evidenced.Pages,
                    [&](const auto& page) { return !database_.Evidenced.contains(page.second); });
      if (evidenced.Pages.empty()) continue;
      const std::optional<TTableDefinition> definition =
          DefinitionFromPage(reader_, entries_, definitionByOffset_, index, number);
      if (!definition || definition->System || !FitsExactly(reader_, evidenced, *definition))
        continue;
      for (auto at = fits.begin(); at != fits.end();) {
        if (at->first != number)
          std::erase_if(at->second, [&](const auto& fit) { return fit.first == index; });
        at = at->second.empty() ? fits.erase(at) : std::next(at);
      }
      if (const auto of = fitsOf.find(index); of != fitsOf.end())
        std::erase_if(of->second, [&](std::uint32_t owner) { return owner != number; });
    }
  }

  const TDatabaseReader& reader_;
  const std::vector<TPageEntry>& entries_;
  TDatabasePages& database_;  // the reader's: renumbered in place
  const std::unordered_set<std::size_t>& otherCopies_;  // see Renumber
  std::map<std::int64_t, TLongValueMatches> longValueMatches_;  // by place (see above)
  // (number, row) → the stated length of the chain whose first part a live row points to.
  std::map<std::pair<std::uint32_t, std::uint8_t>, std::uint32_t> chainLengths_;
  std::map<std::uint32_t, TTableDefinition> shapeTies_;  // owner → definition tied by shape
  // The tables whose long-value pointers the numbering agrees with.
  std::set<std::uint32_t> longValuesChecked_;
  std::unordered_map<std::int64_t, std::size_t> definitionByOffset_;
  std::unordered_set<std::size_t> inDatabase_;  // store indices of this database's pages
  // Definition pages that evidence placed at the number position gave them: that number.
  std::unordered_map<std::size_t, std::uint32_t> confirmedAt_;
};

}  // namespace

TRenumbering Renumber(const TDatabaseReader& reader, const std::vector<TPageEntry>& entries,
                      TDatabasePages& database,
                      const std::unordered_set<std::size_t>& otherCopies) {
  TPageRenumbering renumbering(reader, entries, database, otherCopies);
  renumbering.Run();
  return renumbering.Result();
}

}  // namespace quillon::recover
