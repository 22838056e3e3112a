#include "recover/definition_chain.h"

#include <functional>
#include <set>

namespace quillon::recover {
namespace {

constexpr std::size_t kMaxDefinitionPages = 64;

// Walks a definition's pages from store page `first`, appending each page's part until the
// parse is whole; `pageOf` gives the store index of the continuation page a definition page
// names by number, nothing when it is not there. Nothing when a page is no definition page,
// the parse fails, the chain ends or loops, or it runs past kMaxDefinitionPages.
std::optional<TTableDefinition> WalkDefinition(
    const TDatabaseReader& reader, std::size_t first,
    const std::function<std::optional<std::size_t>(std::uint32_t)>& pageOf) {
  std::vector<std::uint8_t> bytes;
  std::size_t at = first;
  std::set<std::size_t> seen;
  for (std::size_t i = 0; i < kMaxDefinitionPages && seen.insert(at).second; ++i) {
    const TPage& page = *reader.PageByIndex(at);
    if (!jet::IsDefinitionPage(page)) return std::nullopt;
    const auto part = jet::DefinitionBytesOf(page, i == 0);
    bytes.insert(bytes.end(), part.begin(), part.end());
    TDefinitionResult result = ParseTableDefinition(bytes);
    if (result.Status == TDefinitionParse::Ok) return std::move(result.Definition);
    if (result.Status == TDefinitionParse::Invalid) return std::nullopt;
    const std::uint32_t next = NextDefinitionPage(page);
    if (next == 0) return std::nullopt;
    const std::optional<std::size_t> nextIndex = pageOf(next);
    if (!nextIndex) return std::nullopt;
    at = *nextIndex;
  }
  return std::nullopt;
}

}  // namespace

std::optional<TTableDefinition> DefinitionAt(const TDatabaseReader& reader,
                                             const std::vector<TPageEntry>& entries,
                                             const TDatabasePages& database, std::uint32_t number) {
  // Every page of the chain is a definition page at its number (a number names one page).
  const auto definitionPage = [&](std::uint32_t page) -> std::optional<std::size_t> {
    const auto found = database.Pages.find(page);
    if (found == database.Pages.end() || entries[found->second].Kind != TPageKind::Definition)
      return std::nullopt;
    return found->second;
  };
  const std::optional<std::size_t> first = definitionPage(number);
  if (!first) return std::nullopt;
  return WalkDefinition(reader, *first, definitionPage);
}

std::optional<TTableDefinition> DefinitionFromPage(
    const TDatabaseReader& reader, const std::vector<TPageEntry>& entries,
    const std::unordered_map<std::int64_t, std::size_t>& definitionByOffset, std::size_t index,
    std::uint32_t assumedNumber) {
  const std::int64_t offset = entries[index].SourceOffset;
  return WalkDefinition(reader, index, [&](std::uint32_t next) -> std::optional<std::size_t> {
    const std::int64_t want =
        offset + static_cast<std::int64_t>(kPageSize) *
                     (static_cast<std::int64_t>(next) - static_cast<std::int64_t>(assumedNumber));
    const auto found = definitionByOffset.find(want);
    if (found == definitionByOffset.end()) return std::nullopt;
    return found->second;
  });
}

}  // namespace quillon::recover
