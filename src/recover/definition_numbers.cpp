#include "recover/definition_numbers.h"

#include <map>

#include "jet/row_slots.h"

namespace quillon::recover {
namespace {

// The system tables' definitions lie at pages 2 to 5 in every database.
constexpr std::uint32_t kLastSystemPage = 5;
// Data pages of a table judged against a definition.
constexpr std::size_t kPagesJudged = 4;

bool IsTablePage(const TPageEntry& entry) {
  return entry.Kind == TPageKind::Data && entry.Owner != jet::kLvalOwner && entry.Owner >= 2;
}

// Do the pages fit the definition: none of them against, one at least for.
bool AllFit(const std::vector<std::size_t>& pages, std::size_t definition,
            const TExactFit& fits) {
  bool judged = false;
  for (const std::size_t page : pages) {
    const std::optional<bool> fit = fits(page, definition);
    if (fit == false) return false;
    judged |= fit.has_value();
  }
  return judged;
}

}  // namespace

bool DefinitionNumberOverruled(const std::vector<TPageEntry>& entries,
                               const TDatabasePages& database, std::size_t index,
                               std::uint32_t positionNumber, std::uint32_t evidenceNumber,
                               const TExactFit& fits,
                               const std::unordered_map<std::size_t, std::int64_t>& placedIn) {
  if (entries[index].Kind != TPageKind::Definition || positionNumber == evidenceNumber ||
      positionNumber <= kLastSystemPage || evidenceNumber <= kLastSystemPage ||
      evidenceNumber >= kUnnumberedPage)
    return false;
  std::map<std::uint32_t, std::vector<std::size_t>> pagesOf;  // owner value → a few pages
  std::vector<std::size_t> definitions;                      // the database's other ones
  for (const auto& [number, page] : database.Pages) {
    // A page that evidence placed in another database is that database's, whatever it fits.
    if (const auto placed = placedIn.find(page);
        placed != placedIn.end() && placed->second != database.Base)
      continue;
    const TPageEntry& entry = entries[page];
    if (IsTablePage(entry)) {
      std::vector<std::size_t>& pages = pagesOf[entry.Owner];
      if (pages.size() < kPagesJudged) pages.push_back(page);
    } else if (entry.Kind == TPageKind::Definition && page != index) {
      definitions.push_back(page);
    }
  }
  // Position's number names a table's pages: it is not contradicted.
  if (pagesOf.contains(positionNumber)) return false;
  const auto named = pagesOf.find(evidenceNumber);
  if (named == pagesOf.end() || !AllFit(named->second, index, fits)) return false;
  // Another definition at evidence's number: the two claim one number, and which is the
  // table's is for the table's pages to tell, not for this rule.
  if (const auto there = database.Pages.find(evidenceNumber);
      there != database.Pages.end() && there->second != index &&
      entries[there->second].Kind == TPageKind::Definition)
    return false;
  // Definitions of one shape: the rows say nothing of which is theirs.
  for (const std::size_t other : definitions) {
    if (AllFit(named->second, other, fits)) return false;
  }
  for (const auto& [owner, pages] : pagesOf) {
    if (owner != evidenceNumber && owner > kLastSystemPage && AllFit(pages, index, fits))
      return false;
  }
  return true;
}

}  // namespace quillon::recover
