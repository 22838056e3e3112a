// libFuzzer target for long values followed through LVAL rows, as recover reads memo and OLE
// columns: the input is a 12-byte head (more bytes after it for an inline value, as its
// length byte says) and then LVAL rows, each as page, row number, length and bytes. Chains
// may loop, run over, end early or point nowhere: every row is asked for at most once per
// value, and a value that is given has exactly its stated length.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "recover/row_values.h"

namespace {

using namespace quillon::recover;

class TFuzzRows : public ILongValueRows {
 public:
  std::optional<std::vector<std::uint8_t>> Row(std::uint32_t page,
                                               std::uint8_t row) const override {
    ++Asked;
    const auto found = Rows.find({page, row});
    if (found == Rows.end()) return std::nullopt;
    return found->second;
  }
  std::map<std::pair<std::uint32_t, std::uint8_t>, std::vector<std::uint8_t>> Rows;
  mutable std::size_t Asked = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const bool text = (data[0] & 1) != 0;
  const std::size_t fieldLength = std::min<std::size_t>(data[1], size - 2);
  const std::span<const std::uint8_t> field(data + 2, fieldLength);
  TFuzzRows rows;
  for (std::size_t at = 2 + fieldLength; at + 3 <= size;) {
    const std::uint32_t page = data[at];
    const std::uint8_t row = data[at + 1];
    const std::size_t length = std::min<std::size_t>(data[at + 2], size - at - 3);
    rows.Rows[{page, row}].assign(data + at + 3, data + at + 3 + length);
    at += 3 + length;
  }
  const TValue value = DecodeLongValue(field, text, rows);
  // Each row once, and one more ask for a row that is not there.
  if (rows.Asked > rows.Rows.size() + 1) __builtin_trap();
  if (value.Kind == TValue::TKind::Blob && field.size() >= 12) {
    const std::uint32_t head = field[0] | field[1] << 8 | field[2] << 16 |
                               static_cast<std::uint32_t>(field[3]) << 24;
    if (value.Bytes.size() != (head & 0x3FFFFFFF)) __builtin_trap();
  }
  return 0;
}
