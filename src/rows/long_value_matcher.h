#pragma once
// Matches memo and OLE heads that point into LVAL pages to the LVAL rows of the fragment
// file. A pointer names a page number of the lost database, which the file does not keep;
// a match must agree on the row number, the length, and along a chain on every next
// pointer. Each part of a chain is looked for in tiers, the likeliest first, and a wider
// tier only when the narrower ones gave no whole value:
//   1. the pages that follow the previous part in the file (pages keep their order within a
//      run of the source), nearest the distance the page numbers give first, holding the
//      end of the value or a part whose next pointer names the very next page (a long
//      value's pages are mostly allocated one after the other);
//   2. anywhere: the row whose length ends the value, or the row whose next pointer names
//      the very next page (one database has only one row that points to a given row);
//   3. the pages that follow, holding a part whose next pointer names a page a little
//      further on;
//   4. anywhere: rows whose next pointer names a page a little further on.
// The first part of a chain has no previous part: it starts at tier 2. A part found
// anywhere (tiers 2 and 4) is a jump: when several values fit, one reached without a jump
// is taken, as the order of the file vouches for it.
//
// What is matched numbers the pages it was found on (TPageAnchors). A page known to have
// another number is never a candidate; known numbers and the pages next to them decide
// between rivals only in the last rounds, as a file can hold two databases, or two
// versions of one, whose pages share numbers.

#include <cstdint>
#include <span>
#include <vector>

#include "jet/long_value.h"
#include "rows/long_value_directory.h"
#include "rows/match_status.h"
#include "rows/page_anchors.h"
#include "rows/page_catalog.h"

namespace quillon {

using jet::TLongValueKind;
using jet::TRowPointer;

struct TLongValueRef {
  TLongValueKind Kind = TLongValueKind::SingleRow;  // SingleRow or Chain
  std::uint32_t Length = 0;
  TRowPointer Where;
};

// One LVAL row of a value: its bytes after Skip (the chain pointer of a chain part).
struct TLongValuePart {
  TPageIndex Page = 0;
  std::uint16_t Slot = 0;
  std::uint16_t Skip = 0;
  bool operator==(const TLongValuePart&) const = default;
};

struct TLongValueMatch {
  TMatchStatus Status = TMatchStatus::NotFound;
  std::vector<TLongValuePart> Parts;  // the value's rows in order, when found
  std::uint32_t Candidates = 0;       // different values that fit pointer, rows and length
};

class TLongValueMatcher {
 public:
  TLongValueMatcher(const TPageCatalog& catalog, const TLongValueDirectory& directory,
                    TPageAnchors& anchors)
      : catalog_(catalog), directory_(directory), anchors_(anchors) {}

  // Matches one head with what is known now; a match numbers the pages it was found on.
  TLongValueMatch Match(const TLongValueRef& ref, TMatchRule rule);

 private:
  struct TAssembly {
    std::vector<TLongValuePart> Parts;
    std::vector<std::uint32_t> Numbers;  // the page number each part was reached by
    std::uint32_t Jumps = 0;             // later parts found anywhere, not by file order
  };
  enum class TTier : std::uint8_t { Following, NextPage, FollowingFurther, NearPages };

  TLongValueMatch MatchSingleRow(const TLongValueRef& ref, TMatchRule rule);
  std::vector<TAssembly> FindChain(const TLongValueRef& ref) const;
  std::vector<TLongValueRowId> ChainCandidates(TRowPointer where, std::uint32_t remaining,
                                               TTier tier, TPageIndex previous,
                                               std::uint32_t previousNumber) const;
  bool Unnumbered(TLongValueRowId id, std::uint32_t number) const;
  int Support(const TAssembly& assembly) const;
  bool OnNumberedPages(const TAssembly& assembly) const;
  std::size_t Choose(const std::vector<TAssembly>& found, const std::vector<std::size_t>& rivals,
                     TMatchRule rule) const;

  const TPageCatalog& catalog_;
  const TLongValueDirectory& directory_;
  TPageAnchors& anchors_;
};

// The bytes of a found value.
std::vector<std::uint8_t> AssembleLongValue(const TPageCatalog& catalog,
                                            std::span<const TLongValuePart> parts);

}  // namespace quillon
