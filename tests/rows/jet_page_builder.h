#pragma once
// Hand-built Jet 4 data and LVAL pages for tests: rows laid out as the format has them,
// written without the reader's code.

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace quillon::testing {

using TBytes = std::vector<std::uint8_t>;

inline void PutU16(TBytes& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

inline void PutU32(TBytes& out, std::uint32_t v) {
  PutU16(out, v & 0xFFFF);
  PutU16(out, v >> 16);
}

// Text in compressed form: FF FE and the bytes as given (one-byte characters, with 0x00
// switching to and from two-byte characters where the caller put it).
inline TBytes Compressed(const std::string& bytes) {
  TBytes out(bytes.size() + 2);
  out[0] = 0xFF;
  out[1] = 0xFE;
  std::copy(bytes.begin(), bytes.end(), out.begin() + 2);
  return out;
}

inline TBytes Utf16(const std::u16string& text) {
  TBytes out;
  for (const char16_t c : text) PutU16(out, c);
  return out;
}

// u16 column count, fixed part, variable data, offsets (last column first, end offset
// farthest), u16 variable count, null mask with every column present.
inline TBytes JetRow(std::uint16_t columns, const TBytes& fixed, const std::vector<TBytes>& vars) {
  TBytes row;
  PutU16(row, columns);
  row.insert(row.end(), fixed.begin(), fixed.end());
  std::vector<std::uint32_t> offsets;
  for (const TBytes& var : vars) {
    offsets.push_back(static_cast<std::uint32_t>(row.size()));
    row.insert(row.end(), var.begin(), var.end());
  }
  offsets.push_back(static_cast<std::uint32_t>(row.size()));
  for (auto it = offsets.rbegin(); it != offsets.rend(); ++it) PutU16(row, *it);
  PutU16(row, static_cast<std::uint32_t>(vars.size()));
  for (int i = 0; i < (columns + 7) / 8; ++i) row.push_back(0xFF);
  return row;
}

// The null mask of a row of `columns` columns with only the columns numbered in `set` set.
inline TBytes NullMask(std::uint16_t columns, const std::vector<std::uint16_t>& set) {
  TBytes mask((columns + 7) / 8, 0);
  for (const std::uint16_t number : set) mask[number / 8] |= static_cast<std::uint8_t>(1u << (number % 8));
  return mask;
}

// JetRow with its null mask replaced: the row's last mask.size() bytes.
inline TBytes WithMask(TBytes row, const TBytes& mask) {
  std::copy(mask.begin(), mask.end(), row.end() - static_cast<std::ptrdiff_t>(mask.size()));
  return row;
}

// A row of a table whose columns are all fixed-length: u16 column count, fixed part, null
// mask; no variable section at all.
inline TBytes FixedOnlyRow(std::uint16_t columns, const TBytes& fixed, const TBytes& mask) {
  TBytes row;
  PutU16(row, columns);
  row.insert(row.end(), fixed.begin(), fixed.end());
  row.insert(row.end(), mask.begin(), mask.end());
  return row;
}

inline constexpr std::uint32_t kInlineFlag = 0x80000000;
inline constexpr std::uint32_t kSingleRowFlag = 0x40000000;

// A memo head: length with flags, pointer (row, page), four unused bytes, inline data.
inline TBytes MemoHead(std::uint32_t flags, std::uint32_t length, std::uint32_t page,
                       std::uint8_t row, const TBytes& inlineData = {}) {
  TBytes head;
  PutU32(head, flags | length);
  PutU32(head, (page << 8) | row);
  PutU32(head, 0);
  head.insert(head.end(), inlineData.begin(), inlineData.end());
  return head;
}

// A chain part of an LVAL row: pointer to the next part (0 at the last), then data.
inline TBytes ChainPart(std::uint32_t nextPage, std::uint8_t nextRow, const TBytes& data) {
  TBytes part;
  part.reserve(4 + data.size());
  PutU32(part, nextPage == 0 ? 0 : (nextPage << 8) | nextRow);
  part.insert(part.end(), data.begin(), data.end());
  return part;
}

inline constexpr std::uint32_t kLval = 0x4C41564C;  // "LVAL" read little-endian

class TJetPage {
 public:
  explicit TJetPage(std::uint32_t owner) : owner_(owner) {}

  // Adds a row below the previous one; flags are or-ed into its offset entry.
  TJetPage& Row(const TBytes& row, std::uint16_t flags = 0) {
    top_ -= row.size();
    rows_.push_back({top_, flags, row});
    return *this;
  }

  std::array<std::uint8_t, 4096> Bytes() const {
    std::array<std::uint8_t, 4096> page{};
    const std::size_t tableEnd = 14 + 2 * rows_.size();
    page[0] = 1;
    page[1] = 1;
    const std::size_t free = top_ - tableEnd;
    page[2] = static_cast<std::uint8_t>(free);
    page[3] = static_cast<std::uint8_t>(free >> 8);
    for (int i = 0; i < 4; ++i) page[4 + i] = static_cast<std::uint8_t>(owner_ >> (8 * i));
    page[12] = static_cast<std::uint8_t>(rows_.size());
    page[13] = static_cast<std::uint8_t>(rows_.size() >> 8);
    for (std::size_t i = 0; i < rows_.size(); ++i) {
      const std::uint32_t entry = static_cast<std::uint32_t>(rows_[i].Offset) | rows_[i].Flags;
      page[14 + 2 * i] = static_cast<std::uint8_t>(entry);
      page[15 + 2 * i] = static_cast<std::uint8_t>(entry >> 8);
      std::copy(rows_[i].Data.begin(), rows_[i].Data.end(), page.begin() + rows_[i].Offset);
    }
    return page;
  }

 private:
  struct TRow {
    std::size_t Offset;
    std::uint16_t Flags;
    TBytes Data;
  };
  std::uint32_t owner_;
  std::size_t top_ = 4096;
  std::vector<TRow> rows_;
};

}  // namespace quillon::testing
