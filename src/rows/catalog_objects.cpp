#include "rows/catalog_objects.h"

#include <set>

#include "jet/row_layout.h"
#include "jet/byte_view.h"
#include "jet/text.h"

namespace quillon {
namespace {

// Measured in every file: 17 columns, Name the first variable-length column.
constexpr std::uint16_t kCatalogColumns = 17;
constexpr std::size_t kIdAt = 0;
constexpr std::size_t kParentIdAt = 4;
constexpr std::size_t kTypeAt = 8;
constexpr std::size_t kFixedBytes = 30;  // through Flags

}  // namespace

std::optional<TCatalogObject> ReadCatalogObject(std::span<const std::uint8_t> row) {
  const auto layout = jet::ReadRowLayout(row, false);
  if (!layout || layout->ColumnCount() != kCatalogColumns || layout->VarCount() == 0) {
    return std::nullopt;
  }
  const auto fixed = layout->Fixed();
  if (fixed.size() < kFixedBytes) return std::nullopt;
  const auto name = layout->Var(0);
  if (name.empty()) return std::nullopt;
  auto text = jet::DecodeJetText(name, jet::TTextPolicy::TextOnly);
  if (!text || text->empty()) return std::nullopt;
  TCatalogObject object;
  const jet::TByteView view(fixed);  // kFixedBytes long at least: checked above
  object.Id = *view.U32(kIdAt);
  object.ParentId = *view.U32(kParentIdAt);
  object.Type = static_cast<std::int16_t>(*view.U16(kTypeAt));
  object.Name = std::move(*text);
  return object;
}

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
