#include "recover/row_values.h"

#include <algorithm>
#include <cstring>

#include "jet/long_value.h"
#include "jet/text.h"
#include "recover/jet_values.h"

namespace quillon::recover {
namespace {

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
  return text ? TextValue(*jet::DecodeJetText(bytes, jet::TTextPolicy::Lenient)) : BlobValue(bytes);
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
      return TextValue(*jet::DecodeJetText(field, jet::TTextPolicy::Lenient));
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
  const std::optional<jet::TLongValueHead> head = jet::ReadLongValueHead(field);
  if (!head) return NotFound();
  const std::size_t length = head->Length;
  switch (head->Kind) {
    case jet::TLongValueKind::Inline:
      if (head->InlineData.size() < length) return NotFound();
      return LongValueOf(head->InlineData.first(length), text);
    case jet::TLongValueKind::SingleRow: {
      const std::optional<std::vector<std::uint8_t>> row =
          longValues.Row(head->Where.Page, head->Where.Row);
      if (!row || row->size() < length) return NotFound();
      return LongValueOf(std::span(*row).first(length), text);
    }
    case jet::TLongValueKind::Chain:
      break;
  }
  // Any chain but a whole one (a part lost, parts that run over or do not add up, a row
  // passed twice) is not certain.
  std::vector<std::uint8_t> value;
  value.reserve(std::min<std::size_t>(length, kMaxReserve));
  const jet::TChainEnd end = jet::FollowChain(
      head->Where, length,
      [&](jet::TRowPointer at) { return longValues.Row(at.Page, at.Row); },
      [&](std::span<const std::uint8_t> part) { value.insert(value.end(), part.begin(), part.end()); });
  if (end != jet::TChainEnd::Whole) return NotFound();
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
          std::optional<std::string> text =
              jet::DecodeJetText(field.Bytes, jet::TTextPolicy::Exact);
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
