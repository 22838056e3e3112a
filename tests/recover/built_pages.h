#pragma once
// Pages built by hand for the tests of recovery: stand-ins of the shapes that pages of
// other files take on a disk.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "recover/page_store.h"

namespace quillon::recover::testing {

// An LVAL page of another file: row 0 of `length` bytes (at least 2) of compressed text
// "ZZZ...", and a row 1 of its own of 40 bytes, standing in for a lost page whose row 0 had
// that length.
inline std::vector<std::uint8_t> StandInLongValuePage(std::size_t length) {
  constexpr std::size_t kOwnRow = 40;
  std::vector<std::uint8_t> page(kPageSize, 0);
  page[0] = 0x01;
  page[1] = 0x01;
  std::copy_n("LVAL", 4, page.begin() + 4);
  page[12] = 2;  // two rows
  const std::size_t start = kPageSize - length;
  page[14] = static_cast<std::uint8_t>(start & 0xFF);
  page[15] = static_cast<std::uint8_t>(start >> 8);
  const std::size_t own = start - kOwnRow;
  page[16] = static_cast<std::uint8_t>(own & 0xFF);
  page[17] = static_cast<std::uint8_t>(own >> 8);
  const std::size_t free = own - 18;
  page[2] = static_cast<std::uint8_t>(free & 0xFF);
  page[3] = static_cast<std::uint8_t>(free >> 8);
  page[start] = 0xFF;  // the mark of compressed text
  page[start + 1] = 0xFE;
  std::fill(page.begin() + static_cast<std::ptrdiff_t>(start + 2), page.end(), 'Z');
  page[own] = 0xFF;
  page[own + 1] = 0xFE;
  std::fill_n(page.begin() + static_cast<std::ptrdiff_t>(own + 2), kOwnRow - 2, 'Y');
  return page;
}

}  // namespace quillon::recover::testing
