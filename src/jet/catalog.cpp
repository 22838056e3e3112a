#include "jet/catalog.h"

#include "jet/byte_view.h"
#include "jet/row_layout.h"
#include "jet/text.h"

namespace quillon::jet {
namespace {

// Measured in every file: 17 columns, Name the first variable-length column.
constexpr std::uint16_t kCatalogColumns = 17;
constexpr std::size_t kIdAt = 0;
constexpr std::size_t kParentIdAt = 4;
constexpr std::size_t kTypeAt = 8;
constexpr std::size_t kFixedBytes = 30;  // through Flags

}  // namespace

std::optional<TCatalogObject> ReadCatalogObject(std::span<const std::uint8_t> row) {
  const auto layout = ReadRowLayout(row, false);
  if (!layout || layout->ColumnCount() != kCatalogColumns || layout->VarCount() == 0) {
    return std::nullopt;
  }
  const auto fixed = layout->Fixed();
  if (fixed.size() < kFixedBytes) return std::nullopt;
  const auto name = layout->Var(0);
  if (name.empty()) return std::nullopt;
  auto text = DecodeJetText(name, TTextPolicy::TextOnly);
  if (!text || text->empty()) return std::nullopt;
  TCatalogObject object;
  const TByteView view(fixed);  // kFixedBytes long at least: checked above
  object.Id = *view.U32(kIdAt);
  object.ParentId = *view.U32(kParentIdAt);
  object.Type = static_cast<std::int16_t>(*view.U16(kTypeAt));
  object.Name = std::move(*text);
  return object;
}

}  // namespace quillon::jet
