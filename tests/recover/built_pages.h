#pragma once
// Pages built by hand for the tests of recovery: stand-ins of the shapes that pages of
// other files take on a disk.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "recover/page_store.h"

namespace quillon::recover::testing {

// An LVAL page holding one row, row 0 of `length` bytes (at least 2): compressed text
// "ZZZ...", standing in for a row of another file of that row number and length.
inline std::vector<std::uint8_t> OneRowLongValuePage(std::size_t length) {
  std::vector<std::uint8_t> page(kPageSize, 0);
  page[0] = 0x01;
  page[1] = 0x01;
  std::copy_n("LVAL", 4, page.begin() + 4);
  page[12] = 1;  // one row
  const std::size_t start = kPageSize - length;
  page[14] = static_cast<std::uint8_t>(start & 0xFF);
  page[15] = static_cast<std::uint8_t>(start >> 8);
  const std::size_t free = kPageSize - 16 - length;
  page[2] = static_cast<std::uint8_t>(free & 0xFF);
  page[3] = static_cast<std::uint8_t>(free >> 8);
  page[start] = 0xFF;  // the mark of compressed text
  page[start + 1] = 0xFE;
  std::fill(page.begin() + static_cast<std::ptrdiff_t>(start + 2), page.end(), 'Z');
  return page;
}

}  // namespace quillon::recover::testing
