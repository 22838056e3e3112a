#include "rows/catalog_objects.h"

#include <set>

namespace quillon {

std::map<std::uint32_t, std::string> ReadTableNames(const TPageCatalog& catalog) {
  std::map<std::uint32_t, std::set<std::string>> found;
  const auto pages = catalog.Tables().find(kCatalogOwner);
  if (pages != catalog.Tables().end()) {
    for (const TPageIndex page : pages->second) {
      for (std::uint16_t slot = 0; slot < catalog.SlotCount(page); ++slot) {
        const TRowSlot s = catalog.Slot(page, slot);
        if (!s.Valid || (s.Flags & kRowOverflowFlag) != 0) continue;
        const auto object = ReadCatalogObject(catalog.RowBytes(page, slot));
        if (object && object->Type == kLocalTableType && object->DefinitionPage() != 0) {
          found[object->DefinitionPage()].insert(object->Name);
        }
      }
    }
  }
  std::map<std::uint32_t, std::string> names;
  for (const auto& [page, set] : found) {
    std::string joined;
    for (const std::string& name : set) joined += (joined.empty() ? "" : " or ") + name;
    names[page] = joined;
  }
  return names;
}

}  // namespace quillon
