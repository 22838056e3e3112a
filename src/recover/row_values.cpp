#include "recover/row_values.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "recover/jet_values.h"
#include "rows/byte_reading.h"

namespace quillon::recover {
namespace {

constexpr std::size_t kLongValueHeadSize = 12;
constexpr std::uint32_t kLongValueLengthMask = 0x3FFFFFFF;
constexpr std::uint8_t kLongValueInline = 0x80;
constexpr std::uint8_t kLongValueSingle = 0x40;
constexpr std::size_t kMaxChainParts = 1u << 16;  // a value of 1 GiB fits in 16 Ki pages
// Memory taken ahead for a chain's value: its stated length is the disk's word, not yet
// borne out by any part.
constexpr std::size_t kMaxReserve = 1u << 20;

template <typename T>
T LoadAs(std::span<const std::uint8_t> bytes, std::size_t at) {
  T value;
  std::memcpy(&value, bytes.data() + at, sizeof value);
  return value;
}

TValue IntegerValue(std::int64_t integer) {
  TValue value;
  value.Kind = TValue::TKind::Integer;
  value.Integer = integer;
  return value;
}

TValue TextValue(std::string text) {
  TValue value;
  value.Kind = TValue::TKind::Text;
  value.Bytes = std::move(text);
  return value;
}

TValue BlobValue(std::span<const std::uint8_t> bytes) {
  TValue value;
  value.Kind = TValue::TKind::Blob;
  value.Bytes.assign(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return value;
}

TValue NotFound() {
  TValue value;
  value.Kind = TValue::TKind::NotFound;
  return value;
}

TValue LongValueOf(std::span<const std::uint8_t> bytes, bool text) {
  return text ? TextValue(JetTextToUtf8(bytes)) : BlobValue(bytes);
}

// A value of a type with a size of its own, from exactly its bytes.
TValue DecodeSized(const TColumn& column, std::span<const std::uint8_t> field,
                   const ILongValueRows& longValues) {
  using T = TColumnType;
  auto needs = [&](std::size_t n) { return field.size() >= n; };
  switch (column.Type) {
    case T::Byte:
      if (needs(1)) return IntegerValue(field[0]);
      break;
    case T::Integer:
      if (needs(2)) return IntegerValue(LoadAs<std::int16_t>(field, 0));
      break;
    case T::Long:
    case T::Complex:
      if (needs(4)) return IntegerValue(LoadAs<std::int32_t>(field, 0));
      break;
    case T::BigInt:
      if (needs(8)) return IntegerValue(LoadAs<std::int64_t>(field, 0));
      break;
    case T::Currency:
      if (needs(8)) return TextValue(CurrencyText(LoadAs<std::int64_t>(field, 0)));
      break;
    case T::Single:
      if (needs(4)) {
        TValue value;
        value.Kind = TValue::TKind::Real;
        value.Real = SingleAsDecimal(LoadAs<float>(field, 0));
        return value;
      }
      break;
    case T::Double:
      if (needs(8)) {
        TValue value;
        value.Kind = TValue::TKind::Real;
        value.Real = LoadAs<double>(field, 0);
        return value;
      }
      break;
    case T::DateTime:
      if (needs(8)) {
        if (std::optional<std::string> text = DateTimeText(LoadAs<double>(field, 0)))
          return TextValue(std::move(*text));
        return NotFound();  // a date no calendar has: not a value to show as one
      }
      break;
    case T::Guid:
      if (needs(16)) return TextValue(GuidText(field.first<16>()));
      break;
    case T::Decimal:
      if (needs(17)) return TextValue(DecimalText(field.first<17>(), column.Scale));
      break;
    case T::Text:
      return TextValue(JetTextToUtf8(field));
    case T::ExtendedDate:
      if (std::optional<std::string> text = ExtendedDateTimeText(field))
        return TextValue(std::move(*text));
      return NotFound();  // not the stored form of a date: not a value to show as one
    case T::Binary:
    case T::Unknown0D:
    case T::Unknown11:
      return BlobValue(field);
    case T::Memo:
      return DecodeLongValue(field, true, longValues);
    case T::Ole:
      return DecodeLongValue(field, false, longValues);
    case T::YesNo:
      break;
  }
  return NotFound();
}

}  // namespace

TValue DecodeLongValue(std::span<const std::uint8_t> field, bool text,
                       const ILongValueRows& longValues) {
  if (field.empty()) return LongValueOf(field, text);
  if (field.size() < kLongValueHeadSize) return NotFound();
  const std::uint32_t head = LoadU32(field, 0);
  const std::size_t length = head & kLongValueLengthMask;
  const std::uint8_t flags = static_cast<std::uint8_t>(head >> 24) & 0xC0;
  const std::uint8_t firstRow = field[4];
  const std::uint32_t firstPage = LoadU24(field, 5);
  if (flags == kLongValueInline) {
    if (kLongValueHeadSize + length > field.size()) return NotFound();
    return LongValueOf(field.subspan(kLongValueHeadSize, length), text);
  }
  if (flags == kLongValueSingle) {
    const std::optional<std::vector<std::uint8_t>> row = longValues.Row(firstPage, firstRow);
    if (!row || row->size() < length) return NotFound();
    return LongValueOf(std::span(*row).first(length), text);
  }
  if (flags != 0) return NotFound();
  // A chain: each part begins with the pointer to the next, 0 at the last. A chain that
  // comes back to a row it passed is broken (its rows were reused or forged): followed, it
  // would go round until the part limit, reading a page for every turn.
  std::vector<std::uint8_t> value;
  value.reserve(std::min<std::size_t>(length, kMaxReserve));
  std::uint32_t page = firstPage;
  std::uint8_t rowNumber = firstRow;
  std::unordered_set<std::uint32_t> visited;
  for (std::size_t part = 0; part < kMaxChainParts; ++part) {
    if (!visited.insert(page << 8 | rowNumber).second) return NotFound();
    const std::optional<std::vector<std::uint8_t>> row = longValues.Row(page, rowNumber);
    if (!row || row->size() < 4) return NotFound();
    const std::size_t take = row->size() - 4;
    if (value.size() + take > length) return NotFound();  // parts longer than the value
    value.insert(value.end(), row->begin() + 4, row->end());
    rowNumber = (*row)[0];
    page = LoadU24(*row, 1);
    if (page == 0 && rowNumber == 0) break;
  }
  if (value.size() != length) return NotFound();  // parts that do not add up: not certain
  return LongValueOf(value, text);
}

std::optional<jet::TRowLayout> LayoutOfRow(std::span<const std::uint8_t> row,
                                           const TTableDefinition& definition) {
  std::optional<jet::TRowLayout> layout =
      jet::ReadRowLayout(row, !definition.HasVariablePart(), definition.HighestColumnCount);
  if (layout && layout->VarCount() > definition.VarColumnCount) return std::nullopt;
  return layout;
}

jet::TColumnPlace PlaceOf(const TColumn& column) {
  jet::TColumnPlace place;
  place.Number = column.Number;
  place.VarIndex = column.VarIndex;
  place.FixedOffset = column.FixedOffset;
  place.Size = column.Size;
  place.Fixed = column.Fixed;
  place.BitOnly = column.Type == TColumnType::YesNo;
  return place;
}

std::optional<std::vector<TValue>> DecodeRow(std::span<const std::uint8_t> row,
                                             const TTableDefinition& definition,
                                             const ILongValueRows& longValues) {
  const std::optional<jet::TRowLayout> layout = LayoutOfRow(row, definition);
  if (!layout) return std::nullopt;
  std::vector<TValue> values;
  values.reserve(definition.Columns.size());
  for (const TColumn& column : definition.Columns) {
    const jet::TColumnField field = jet::FieldOf(*layout, PlaceOf(column));
    switch (field.State) {
      case jet::TFieldState::Misfit:
        return std::nullopt;
      case jet::TFieldState::Absent:
      case jet::TFieldState::Null:
        values.emplace_back();
        break;
      case jet::TFieldState::Present:
        if (column.Type == TColumnType::YesNo) {
          values.push_back(IntegerValue(field.Bit ? 1 : 0));
        } else if (column.Type == TColumnType::Text) {
          // Text that does not decode: the row is not what its definition says.
          std::optional<std::string> text = JetTextExactly(field.Bytes);
          if (!text) return std::nullopt;
          values.push_back(TextValue(std::move(*text)));
        } else {
          values.push_back(DecodeSized(column, field.Bytes, longValues));
        }
        break;
    }
  }
  return values;
}

}  // namespace quillon::recover
