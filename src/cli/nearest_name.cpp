// Suggestions for a mistyped command or option name.

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command_line.h"

namespace quillon {
namespace {

// Edits between a and b: letters replaced, inserted, deleted, or two neighbours swapped
// (the slip behind "scna" for "scan" counts once, not twice).
std::size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[a.size()][b.size()];
}

std::string_view WithoutDashes(std::string_view name) {
  while (!name.empty() && name.front() == '-') name.remove_prefix(1);
  return name;
}

}  // namespace

std::string NearestName(std::string_view typed, const std::vector<std::string>& names) {
  const std::string_view word = WithoutDashes(typed);
  if (word.empty()) return {};
  // Two edits at most, and fewer than the word has letters: "x" is a typo of no option.
  const std::size_t allowed = std::min<std::size_t>(2, word.size() - 1);
  std::string best;
  std::size_t bestDistance = allowed + 1;
  std::vector<std::string> startingWithWord;
  for (const std::string& name : names) {
    const std::string_view candidate = WithoutDashes(name);
    if (word.size() >= 2 && candidate.size() > word.size() && candidate.starts_with(word))
      startingWithWord.push_back(name);
    const std::size_t distance = EditDistance(word, candidate);
    if (distance < bestDistance) {
      bestDistance = distance;
      best = name;
    }
  }
  if (!best.empty()) return best;
  return startingWithWord.size() == 1 ? startingWithWord.front() : std::string{};
}

}  // namespace quillon
