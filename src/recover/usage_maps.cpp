#include "recover/usage_maps.h"

#include <algorithm>

#include "jet/usage_map.h"

namespace quillon::recover {

std::optional<std::set<std::uint32_t>> UsageMapOf(const TDatabaseReader& reader,
                                                  const std::vector<TPageEntry>& entries,
                                                  const TDatabasePages& database,
                                                  std::uint32_t pointer,
                                                  std::vector<std::uint32_t>* readFrom) {
  const std::uint32_t mapPage = pointer >> 8;
  if (readFrom) readFrom->push_back(mapPage);
  const auto row = static_cast<std::uint8_t>(pointer & 0xFF);
  std::optional<std::vector<std::uint8_t>> map = reader.RowOf(mapPage, row, false);
  if (!map) return std::nullopt;
  return jet::ParseUsageMap(
      *map,
      [&](std::uint32_t number) -> const std::uint8_t* {
        const auto found = database.Pages.find(number);
        if (found == database.Pages.end() || entries[found->second].Kind != TPageKind::UsageMap)
          return nullptr;
        return reader.PageByIndex(found->second)->data();
      },
      readFrom);
}

std::optional<std::set<std::uint32_t>> UsageMapAtPlaces(
    const TDatabaseReader& reader, const std::vector<TPageEntry>& entries, std::uint32_t pointer,
    const std::function<std::optional<std::size_t>(std::uint32_t)>& pageAt) {
  const std::optional<std::size_t> mapPage = pageAt(pointer >> 8);
  if (!mapPage || entries[*mapPage].Kind != TPageKind::Data ||
      entries[*mapPage].Owner == jet::kLvalOwner)
    return std::nullopt;
  const TPage page = *reader.PageByIndex(*mapPage);
  const std::vector<TSlot> slots = SlotsOf(page);
  const std::size_t row = pointer & 0xFF;
  if (row >= slots.size() || slots[row].End == 0) return std::nullopt;
  const std::vector<std::uint8_t> map(page.begin() + slots[row].Start,
                                      page.begin() + slots[row].End);
  return jet::ParseUsageMap(map, [&](std::uint32_t number) -> const std::uint8_t* {
    const std::optional<std::size_t> bitmap = pageAt(number);
    if (!bitmap || entries[*bitmap].Kind != TPageKind::UsageMap) return nullptr;
    return reader.PageByIndex(*bitmap)->data();
  });
}

std::optional<std::set<std::uint32_t>> TrustedUsageMap(const TDatabaseReader& reader,
                                                       const std::vector<TPageEntry>& entries,
                                                       const TDatabasePages& database,
                                                       const TPlacement& placement,
                                                       std::uint32_t owner,
                                                       const TTableDefinition& definition) {
  std::vector<std::uint32_t> mapPages;
  std::optional<std::set<std::uint32_t>> listed =
      UsageMapOf(reader, entries, database, definition.UsageMapPointer, &mapPages);
  if (!placement.OutOfOrder || !listed) return listed;
  const auto inPlace = [&](std::uint32_t number) { return placement.InPlace.contains(number); };
  const auto holdsOwn = [&](std::uint32_t number) {
    const auto found = database.Pages.find(number);
    return found != database.Pages.end() && entries[found->second].Kind == TPageKind::Data &&
           entries[found->second].Owner == owner;
  };
  if (!inPlace(owner) || !std::all_of(mapPages.begin(), mapPages.end(), inPlace) ||
      !std::all_of(listed->begin(), listed->end(), holdsOwn))
    listed.reset();
  return listed;
}

bool IsStale(const std::optional<std::set<std::uint32_t>>& listed, std::uint32_t number,
             const TPlacement& placement) {
  return listed && !listed->contains(number) &&
         (!placement.OutOfOrder || placement.InPlace.contains(number));
}

}  // namespace quillon::recover
