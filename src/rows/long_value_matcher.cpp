#include "rows/long_value_matcher.h"

#include <algorithm>
#include <array>
#include <optional>
#include <unordered_set>

namespace quillon {
namespace {

constexpr std::uint32_t kChainWindow = 64;  // how far ahead a chain's next page is looked for
constexpr std::size_t kMaxAssemblies = 8;   // enough to know that a pointer is ambiguous
constexpr std::uint16_t kChainPointerSize = 4;

// Rows tried for one value: a chain of n parts needs about n, wrong turns a few more.
std::size_t SearchBudget(std::uint32_t length) { return 4096 + length / 512; }

// A list of rows without repeats, in the order first added: copies of a database put
// thousands of rows in one list, so membership is looked up, not searched for.
class TUniqueRows {
 public:
  explicit TUniqueRows(std::vector<TLongValueRowId>& list) : list_(list) {
    seen_.insert(list.begin(), list.end());
  }
  void Add(TLongValueRowId id) {
    if (seen_.insert(id).second) list_.push_back(id);
  }

 private:
  std::vector<TLongValueRowId>& list_;
  std::unordered_set<TLongValueRowId> seen_;
};

}  // namespace

const char* MatchStatusName(TMatchStatus status) {
  switch (status) {
    case TMatchStatus::Found: return "found";
    case TMatchStatus::NotFound: return "not found";
    case TMatchStatus::Ambiguous: return "ambiguous";
  }
  return "not found";
}

std::vector<std::uint8_t> AssembleLongValue(const TPageCatalog& catalog,
                                            std::span<const TLongValuePart> parts) {
  std::vector<std::uint8_t> bytes;
  for (const TLongValuePart& part : parts) {
    const auto row = catalog.RowBytes(part.Page, part.Slot);
    if (row.size() > part.Skip) bytes.insert(bytes.end(), row.begin() + part.Skip, row.end());
  }
  return bytes;
}

bool TLongValueMatcher::Unnumbered(TLongValueRowId id, std::uint32_t number) const {
  const auto known = anchors_.NumberOf(directory_.Row(id).Page);
  return !known || *known == number;
}

// Candidates for the chain part `where` with `remaining` bytes of the value still to come;
// previous/previousNumber: the part before, for the tiers that follow it in the file.
std::vector<TLongValueRowId> TLongValueMatcher::ChainCandidates(
    TRowPointer where, std::uint32_t remaining, TTier tier, TPageIndex previous,
    std::uint32_t previousNumber) const {
  std::vector<TLongValueRowId> rows;
  TUniqueRows unique(rows);
  const auto continues = [&](const TLongValueRow& row) {
    return row.HasPointer && row.Next.Page != 0 &&
           static_cast<std::uint32_t>(row.Length - kChainPointerSize) < remaining;
  };
  const auto addPointing = [&](std::uint32_t first, std::uint32_t last) {
    directory_.ForSlotAndNextPage(where.Row, first, last, [&](TLongValueRowId id) {
      if (continues(directory_.Row(id)) && Unnumbered(id, where.Page)) unique.Add(id);
    });
  };
  switch (tier) {
    case TTier::Following:
    case TTier::FollowingFurther: {
      if (where.Page <= previousNumber) break;
      const std::uint32_t distance = std::min(where.Page - previousNumber, kChainWindow);
      for (std::uint32_t k = distance; k >= 1; --k) {
        if (previous + k >= catalog_.PageCount()) continue;
        const auto id = directory_.RowAt(previous + k, where.Row);
        if (!id || !Unnumbered(*id, where.Page)) continue;
        // A later part points forward, as its pages were allocated: first to the very next
        // page, else a little further. The part of another value met across a run boundary
        // seldom does.
        const TLongValueRow& row = directory_.Row(*id);
        if (row.HasPointer && row.Next.Page != 0) {
          const bool nextPage = row.Next.Page == where.Page + 1;
          const bool further =
              row.Next.Page > where.Page + 1 && row.Next.Page <= where.Page + kChainWindow;
          if (tier == TTier::Following ? !nextPage : !further) continue;
        } else if (tier == TTier::FollowingFurther) {
          continue;  // an end was a candidate of the Following tier already
        }
        unique.Add(*id);
      }
      break;
    }
    case TTier::NextPage:
      if (remaining + kChainPointerSize <= 0xFFFF) {
        const auto length = static_cast<std::uint16_t>(remaining + kChainPointerSize);
        for (const TLongValueRowId id : directory_.WithSlotAndLength(where.Row, length)) {
          const TLongValueRow& row = directory_.Row(id);
          if (row.HasPointer && row.Next.Page == 0 && Unnumbered(id, where.Page)) {
            unique.Add(id);
          }
        }
      }
      addPointing(where.Page + 1, where.Page + 1);
      break;
    case TTier::NearPages: addPointing(where.Page + 2, where.Page + kChainWindow); break;
  }
  return rows;
}

// Depth first over the possible parts, without recursion: a hostile chain can be as long
// as the file. Each frame chooses the part for one position of the chain and widens to
// the next tier only when its narrower tiers led to no whole value.
std::vector<TLongValueMatcher::TAssembly> TLongValueMatcher::FindChain(
    const TLongValueRef& ref) const {
  struct TFrame {
    std::vector<TLongValueRowId> Candidates;
    std::size_t Next = 0;
    TRowPointer Where;
    std::uint32_t Remaining = 0;
    TTier Tier = TTier::NextPage;
    bool HasPrevious = false;
    TPageIndex Previous = 0;
    std::uint32_t PreviousNumber = 0;
    std::size_t FoundBefore = 0;
  };
  std::vector<TAssembly> found;
  TAssembly current;
  std::vector<TLongValueRowId> currentIds;  // the rows of current.Parts
  std::vector<bool> currentJumps;           // whether each was a jump
  std::unordered_set<TLongValueRowId> inChain;
  std::size_t budget = SearchBudget(ref.Length);

  const auto makeFrame = [&](TRowPointer where, std::uint32_t remaining, bool following,
                             TPageIndex previous, std::uint32_t previousNumber) {
    TFrame frame;
    frame.Where = where;
    frame.Remaining = remaining;
    frame.HasPrevious = following;
    frame.Previous = previous;
    frame.PreviousNumber = previousNumber;
    frame.FoundBefore = found.size();
    frame.Tier = following ? TTier::Following : TTier::NextPage;
    frame.Candidates = ChainCandidates(where, remaining, frame.Tier, previous, previousNumber);
    return frame;
  };

  std::vector<TFrame> stack;
  stack.push_back(makeFrame(ref.Where, ref.Length, false, 0, 0));
  while (!stack.empty() && found.size() < kMaxAssemblies && budget > 0) {
    TFrame& frame = stack.back();
    if (frame.Next == frame.Candidates.size()) {
      if (frame.Tier != TTier::NearPages && found.size() == frame.FoundBefore) {
        frame.Tier = static_cast<TTier>(static_cast<int>(frame.Tier) + 1);
        // The first part has no previous part to follow.
        if (!frame.HasPrevious && frame.Tier == TTier::FollowingFurther) {
          frame.Tier = TTier::NearPages;
        }
        TUniqueRows unique(frame.Candidates);
        for (const TLongValueRowId id : ChainCandidates(frame.Where, frame.Remaining, frame.Tier,
                                                        frame.Previous, frame.PreviousNumber)) {
          unique.Add(id);
        }
        continue;
      }
      stack.pop_back();
      if (!current.Parts.empty()) {
        inChain.erase(currentIds.back());
        currentIds.pop_back();
        current.Jumps -= currentJumps.back() ? 1 : 0;
        currentJumps.pop_back();
        current.Parts.pop_back();
        current.Numbers.pop_back();
      }
      continue;
    }
    const TLongValueRowId id = frame.Candidates[frame.Next++];
    --budget;
    const TLongValueRow& row = directory_.Row(id);
    if (!row.HasPointer || inChain.count(id) != 0) continue;
    const std::uint32_t data = row.Length - kChainPointerSize;
    const TLongValuePart part{row.Page, row.Slot, kChainPointerSize};
    const bool jump = frame.HasPrevious &&
                      (frame.Tier == TTier::NextPage || frame.Tier == TTier::NearPages);
    if (row.Next.Page == 0) {
      if (data == frame.Remaining) {
        found.push_back(current);
        found.back().Parts.push_back(part);
        found.back().Numbers.push_back(frame.Where.Page);
        found.back().Jumps += jump ? 1 : 0;
      }
      continue;
    }
    if (data >= frame.Remaining) continue;
    current.Parts.push_back(part);
    current.Numbers.push_back(frame.Where.Page);
    current.Jumps += jump ? 1 : 0;
    currentJumps.push_back(jump);
    currentIds.push_back(id);
    inChain.insert(id);
    // `frame` is not used past this point: the push may move it.
    const std::uint32_t number = frame.Where.Page;
    const std::uint32_t remaining = frame.Remaining - data;
    stack.push_back(makeFrame(row.Next, remaining, true, row.Page, number));
  }
  return found;
}

int TLongValueMatcher::Support(const TAssembly& assembly) const {
  int support = 0;
  for (std::size_t i = 0; i < assembly.Parts.size(); ++i) {
    support += anchors_.NeighbourSupport(assembly.Parts[i].Page, assembly.Numbers[i]);
  }
  return support;
}

bool TLongValueMatcher::OnNumberedPages(const TAssembly& assembly) const {
  for (std::size_t i = 0; i < assembly.Parts.size(); ++i) {
    if (anchors_.NumberOf(assembly.Parts[i].Page) != assembly.Numbers[i]) return false;
  }
  return true;
}

// The one of several rivals (different bytes) to take, or found.size() for none. Each
// test narrows the rivals to those that pass it and decides when one is left.
std::size_t TLongValueMatcher::Choose(const std::vector<TAssembly>& found,
                                      const std::vector<std::size_t>& rivals,
                                      TMatchRule rule) const {
  std::uint32_t fewestJumps = UINT32_MAX;
  for (const std::size_t i : rivals) fewestJumps = std::min(fewestJumps, found[i].Jumps);
  std::vector<std::size_t> left;
  for (const std::size_t i : rivals) {
    if (found[i].Jumps == fewestJumps) left.push_back(i);
  }
  if (left.size() == 1 && (fewestJumps == 0 || rule == TMatchRule::Neighbours)) return left[0];
  if (rule != TMatchRule::Neighbours) return found.size();

  std::vector<std::size_t> numbered;
  for (const std::size_t i : left) {
    if (OnNumberedPages(found[i])) numbered.push_back(i);
  }
  if (numbered.size() == 1) return numbered[0];

  int best = 0;
  std::size_t chosen = found.size();
  for (const std::size_t i : left) {
    const int support = Support(found[i]);
    if (support > best) {
      best = support;
      chosen = i;
    } else if (support == best) {
      chosen = found.size();
    }
  }
  return chosen;
}

// A value in one row: the rows with its row number and length, without building an
// assembly per candidate (copies of a database make this the commonest match by far, and
// its candidates mostly lie on one stored copy of a page).
TLongValueMatch TLongValueMatcher::MatchSingleRow(const TLongValueRef& ref, TMatchRule rule) {
  TLongValueMatch match;
  if (ref.Length > 0xFFFF) return match;
  std::array<TLongValueRowId, kMaxAssemblies> found{};
  std::size_t count = 0;
  for (const TLongValueRowId id :
       directory_.WithSlotAndLength(ref.Where.Row, static_cast<std::uint16_t>(ref.Length))) {
    if (!Unnumbered(id, ref.Where.Page)) continue;
    found[count++] = id;
    if (count == kMaxAssemblies) break;
  }
  if (count == 0) return match;
  // Per distinct content, the first candidate with it; rows on one stored copy are the same
  // bytes without reading them.
  std::array<std::size_t, kMaxAssemblies> rivals{};
  std::size_t rivalCount = 0;
  std::vector<std::vector<std::uint8_t>> contents;  // of the rivals, read when compared
  const auto rowOf = [&](std::size_t i) -> const TLongValueRow& {
    return directory_.Row(found[i]);
  };
  const auto bytesOf = [&](std::size_t i) {
    const auto bytes = catalog_.RowBytes(rowOf(i).Page, rowOf(i).Slot);
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
  };
  for (std::size_t i = 0; i < count; ++i) {
    bool same = false;
    for (std::size_t r = 0; r < rivalCount && !same; ++r) {
      same = rowOf(rivals[r]).Slot == rowOf(i).Slot &&
             catalog_.StoredCopyOf(rowOf(rivals[r]).Page) == catalog_.StoredCopyOf(rowOf(i).Page);
    }
    if (!same && rivalCount > 0) {
      const std::vector<std::uint8_t> bytes = bytesOf(i);
      for (std::size_t r = 0; r < rivalCount && !same; ++r) {
        if (contents.size() <= r) contents.push_back(bytesOf(rivals[r]));
        same = contents[r] == bytes;
      }
    }
    if (!same) rivals[rivalCount++] = i;
  }
  match.Candidates = static_cast<std::uint32_t>(rivalCount);
  std::size_t chosen = rivals[0];
  if (rivalCount > 1) {
    // Rivals with different bytes: as rare as it is, decided as any other match.
    std::vector<TAssembly> assemblies;
    std::vector<std::size_t> rivalIndexes;
    for (std::size_t i = 0; i < count; ++i) {
      assemblies.push_back({{{rowOf(i).Page, rowOf(i).Slot, 0}}, {ref.Where.Page}, 0});
    }
    for (std::size_t r = 0; r < rivalCount; ++r) rivalIndexes.push_back(rivals[r]);
    chosen = Choose(assemblies, rivalIndexes, rule);
    if (chosen == assemblies.size()) {
      match.Status = TMatchStatus::Ambiguous;
      return match;
    }
  }
  match.Status = TMatchStatus::Found;
  match.Parts = {{rowOf(chosen).Page, rowOf(chosen).Slot, 0}};
  // A value in one row vouches for its page only when nothing else fit or it was chosen
  // over rivals: its row number and length alone are shared by one text stored in many rows.
  if (rivalCount > 1 || count == 1) anchors_.Add(rowOf(chosen).Page, ref.Where.Page);
  return match;
}

TLongValueMatch TLongValueMatcher::Match(const TLongValueRef& ref, TMatchRule rule) {
  if (ref.Kind != TLongValueKind::Chain) return MatchSingleRow(ref, rule);
  const std::vector<TAssembly> found = FindChain(ref);
  TLongValueMatch match;
  if (found.empty()) return match;

  // Copies of the same pages hold the same bytes: then it does not matter which is taken.
  // Parts on pages stored as one copy are the same bytes without reading them; only other
  // assemblies are put together and compared.
  const auto sameCopies = [&](const TAssembly& a, const TAssembly& b) {
    if (a.Parts.size() != b.Parts.size()) return false;
    for (std::size_t k = 0; k < a.Parts.size(); ++k) {
      const TLongValuePart& x = a.Parts[k];
      const TLongValuePart& y = b.Parts[k];
      if (x.Slot != y.Slot || x.Skip != y.Skip ||
          catalog_.StoredCopyOf(x.Page) != catalog_.StoredCopyOf(y.Page)) {
        return false;
      }
    }
    return true;
  };
  std::vector<std::optional<std::vector<std::uint8_t>>> contents;  // assembled when compared
  std::vector<std::size_t> contentOf;  // per assembly, its index in contents
  std::vector<std::size_t> rivals;     // per distinct content the assembly with fewest jumps
  std::vector<std::size_t> firstOf;    // per distinct content the first assembly with it
  for (std::size_t i = 0; i < found.size(); ++i) {
    std::size_t same = contents.size();
    for (std::size_t c = 0; c < contents.size() && same == contents.size(); ++c) {
      if (sameCopies(found[firstOf[c]], found[i])) same = c;
    }
    std::optional<std::vector<std::uint8_t>> bytes;
    if (same == contents.size() && !contents.empty()) {
      bytes = AssembleLongValue(catalog_, found[i].Parts);
      for (std::size_t c = 0; c < contents.size() && same == contents.size(); ++c) {
        if (!contents[c]) contents[c] = AssembleLongValue(catalog_, found[firstOf[c]].Parts);
        if (*contents[c] == *bytes) same = c;
      }
    }
    contentOf.push_back(same);
    if (same == contents.size()) {
      contents.push_back(std::move(bytes));
      rivals.push_back(i);
      firstOf.push_back(i);
    } else {
      std::size_t& kept = rivals[same];
      if (found[i].Jumps < found[kept].Jumps) kept = i;
    }
  }
  match.Candidates = static_cast<std::uint32_t>(rivals.size());
  const std::size_t chosen = rivals.size() == 1 ? rivals[0] : Choose(found, rivals, rule);
  if (chosen == found.size()) {
    match.Status = TMatchStatus::Ambiguous;
    return match;
  }
  match.Status = TMatchStatus::Found;
  match.Parts = found[chosen].Parts;
  // The match numbers its pages. Other assemblies with the same bytes are numbered too when
  // their pointers vouch for every page (a chain found without jumps): copies of the same
  // pages, a database and its backup say. A value in one row vouches only by its row number
  // and length, which one text stored in many rows shares.
  for (std::size_t i = 0; i < found.size(); ++i) {
    const bool vouched = ref.Kind == TLongValueKind::Chain && found[i].Jumps == 0;
    if (i != chosen && (contentOf[i] != contentOf[chosen] || !vouched)) continue;
    if (i == chosen && rivals.size() == 1 && found.size() > 1 && !vouched) continue;
    for (std::size_t k = 0; k < found[i].Parts.size(); ++k) {
      anchors_.Add(found[i].Parts[k].Page, found[i].Numbers[k]);
    }
  }
  return match;
}

}  // namespace quillon
