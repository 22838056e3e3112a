#include "jet/table_definition.h"

#include <algorithm>
#include <set>

#include "core/page_head.h"
#include "jet/byte_view.h"
#include "jet/text.h"

namespace quillon::jet {
namespace {

constexpr std::size_t kMaxColumns = 255;
constexpr std::size_t kMaxNameBytes = 128;  // 64 UTF-16 characters
constexpr std::size_t kMaxRealIndexes = 64;

bool KnownType(std::uint8_t type) {
  switch (type) {
    case 0x01: case 0x02: case 0x03: case 0x04: case 0x05: case 0x06: case 0x07: case 0x08:
    case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0D: case 0x0F: case 0x10: case 0x11:
    case 0x12: case 0x13: case 0x14:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::uint16_t NaturalSize(TColumnType type) {
  switch (type) {
    case TColumnType::YesNo: return 0;
    case TColumnType::Byte: return 1;
    case TColumnType::Integer: return 2;
    case TColumnType::Long: case TColumnType::Single: case TColumnType::Complex: return 4;
    case TColumnType::Currency: case TColumnType::Double: case TColumnType::DateTime:
    case TColumnType::BigInt: return 8;
    case TColumnType::Guid: return 16;
    case TColumnType::Decimal: return 17;
    default: return 0;
  }
}

bool IsDefinitionPage(std::span<const std::uint8_t> page) {
  return page.size() >= 2 && page[0] == kDefinitionPageType && page[1] == 0x01;
}

std::span<const std::uint8_t> DefinitionBytesOf(std::span<const std::uint8_t> page, bool first) {
  if (first) return page;
  return page.size() > kDefinitionPageHeadSize ? page.subspan(kDefinitionPageHeadSize)
                                               : std::span<const std::uint8_t>{};
}

std::uint32_t NextDefinitionPage(std::span<const std::uint8_t> page) {
  return TByteView(page).U32(kDefinitionNextPageAt).value_or(0);
}

TDefinitionResult ParseTableDefinition(std::span<const std::uint8_t> bytes) {
  TDefinitionResult result;
  // Every field of the head lies before the real-index entries: checked once here.
  const TByteView view(bytes);
  if (bytes.size() < kRealIndexEntriesAt || !IsDefinitionPage(bytes)) return result;
  const std::uint8_t tableType = bytes[kTableTypeAt];
  if (tableType != kUserTable && tableType != kSystemTable) return result;
  TTableDefinition definition;
  definition.System = tableType == kSystemTable;
  definition.HighestColumnCount = *view.U16(kHighestColumnCountAt);
  definition.VarColumnCount = *view.U16(kVarColumnCountAt);
  definition.StoredRowCount = *view.U32(kDefinitionRowCountAt);
  definition.UsageMapPointer = *view.U32(kUsageMapPointerAt);
  const std::size_t columnCount = *view.U16(kColumnCountAt);
  const std::size_t realIndexes = *view.U32(kRealIndexCountAt);
  if (columnCount == 0 || columnCount > kMaxColumns ||
      definition.HighestColumnCount < columnCount || definition.HighestColumnCount > 4096 ||
      definition.VarColumnCount > definition.HighestColumnCount ||
      realIndexes > kMaxRealIndexes) {
    return result;
  }
  std::size_t at = kRealIndexEntriesAt + realIndexes * kRealIndexEntrySize;
  std::set<std::uint16_t> numbers;
  for (std::size_t i = 0; i < columnCount; ++i, at += kColumnEntrySize) {
    if (at + kColumnEntrySize > bytes.size()) {
      result.Status = TDefinitionParse::NeedsMore;
      return result;
    }
    const std::uint8_t type = bytes[at];
    if (!KnownType(type)) return result;
    TColumn column;
    column.Type = static_cast<TColumnType>(type);
    column.Number = *view.U16(at + 5);
    column.VarIndex = *view.U16(at + 7);
    column.Precision = bytes[at + 11];
    column.Scale = bytes[at + 12];
    column.Fixed = (bytes[at + 15] & 0x01) != 0;
    column.FixedOffset = *view.U16(at + 21);
    column.Size = *view.U16(at + 23);
    if (column.Number >= definition.HighestColumnCount || !numbers.insert(column.Number).second)
      return result;
    if (column.Fixed && column.Type != TColumnType::YesNo) {
      const std::uint16_t natural = NaturalSize(column.Type);
      if (natural != 0) column.Size = natural;
      if (column.Size == 0 || column.FixedOffset + column.Size > 4096) return result;
      definition.FixedLength = std::max<std::uint16_t>(
          definition.FixedLength, static_cast<std::uint16_t>(column.FixedOffset + column.Size));
    } else if (!column.Fixed && column.VarIndex >= definition.VarColumnCount) {
      return result;
    }
    definition.Columns.push_back(column);
  }
  for (TColumn& column : definition.Columns) {
    if (at + 2 > bytes.size()) {
      result.Status = TDefinitionParse::NeedsMore;
      return result;
    }
    const std::size_t length = *view.U16(at);
    if (length == 0 || length > kMaxNameBytes || length % 2 != 0) return result;
    if (at + 2 + length > bytes.size()) {
      result.Status = TDefinitionParse::NeedsMore;
      return result;
    }
    std::optional<std::string> name = DecodeUtf16(bytes.subspan(at + 2, length), TTextPolicy::Exact);
    if (!name) return result;
    column.Name = std::move(*name);
    at += 2 + length;
  }
  std::sort(definition.Columns.begin(), definition.Columns.end(),
            [](const TColumn& a, const TColumn& b) { return a.Number < b.Number; });
  result.Status = TDefinitionParse::Ok;
  result.Definition = std::move(definition);
  return result;
}

const TTableDefinition& BuiltInCatalogDefinition() {
  static const TTableDefinition definition = [] {
    struct TEntry {
      const char* Name;
      TColumnType Type;
      std::uint16_t Number, VarIndex, FixedOffset, Size;
      bool Fixed;
    };
    using T = TColumnType;
    static constexpr TEntry kEntries[] = {
        {"Id", T::Long, 0, 0, 0, 4, true},
        {"ParentId", T::Long, 1, 0, 4, 4, true},
        {"Name", T::Text, 2, 0, 0, 510, false},
        {"Type", T::Integer, 3, 1, 8, 2, true},
        {"DateCreate", T::DateTime, 4, 1, 10, 8, true},
        {"DateUpdate", T::DateTime, 5, 1, 18, 8, true},
        {"Owner", T::Binary, 6, 1, 0, 510, false},
        {"Flags", T::Long, 7, 2, 26, 4, true},
        {"Database", T::Memo, 8, 2, 0, 0, false},
        {"Connect", T::Memo, 9, 3, 0, 0, false},
        {"ForeignName", T::Text, 10, 4, 0, 510, false},
        {"RmtInfoShort", T::Binary, 11, 5, 0, 510, false},
        {"RmtInfoLong", T::Ole, 12, 6, 0, 0, false},
        {"Lv", T::Ole, 13, 7, 0, 0, false},
        {"LvProp", T::Ole, 14, 8, 0, 0, false},
        {"LvModule", T::Ole, 15, 9, 0, 0, false},
        {"LvExtra", T::Ole, 16, 10, 0, 0, false},
    };
    TTableDefinition built;
    built.System = true;
    built.HighestColumnCount = 17;
    built.VarColumnCount = 11;
    built.FixedLength = 30;
    for (const TEntry& entry : kEntries) {
      TColumn column;
      column.Name = entry.Name;
      column.Type = entry.Type;
      column.Number = entry.Number;
      column.VarIndex = entry.VarIndex;
      column.FixedOffset = entry.FixedOffset;
      column.Size = entry.Size;
      column.Fixed = entry.Fixed;
      built.Columns.push_back(column);
    }
    return built;
  }();
  return definition;
}

std::uint32_t SystemDefinitionPage(const TTableDefinition& definition) {
  if (!definition.System) return 0;
  auto has = [&](const char* name) {
    return std::any_of(definition.Columns.begin(), definition.Columns.end(),
                       [&](const TColumn& column) { return column.Name == name; });
  };
  const std::size_t count = definition.Columns.size();
  if (count == 17 && has("ParentId") && has("DateUpdate") && has("Name")) return 2;
  if (count == 4 && has("ACM") && has("FInheritable") && has("ObjectId")) return 3;
  if (count == 8 && has("Expression") && has("Name1") && has("ObjectId")) return 4;
  if (count == 8 && has("szRelationship") && has("szReferencedObject")) return 5;
  return 0;
}

}  // namespace quillon::jet
