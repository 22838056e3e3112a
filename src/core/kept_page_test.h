#pragma once
// The pages that recovery needs besides the fragments: table definitions (type 0x02, first
// pages and continuation pages), database header pages (page 0) and usage-map pages (type
// 0x05). A scan for recovery keeps them beside the fragment file, which holds only data
// and long-value pages.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "core/page_head.h"

namespace quillon {

inline constexpr std::size_t kKeptPageSize = kPageSize;

enum class TKeptPageKind : std::uint8_t {
  Definition = 2,  // a table definition's first page
  Header = 3,      // page 0: 00 01 00 00 and "Standard Jet DB" or "Standard ACE DB" at 4
  UsageMap = 4,    // a usage-map page: 05 01 00 00, then a bitmap of pages
  // May be a later page of a definition: only its head can be judged, and rows of data
  // pages hold such heads too. Recovery takes it only beside a definition that goes on to
  // another page and lies on the same 4096-byte grid.
  DefinitionContinuation = 5,
};

// The first test, on the step's first four bytes only: no for nearly every step of real
// data, so that the loop hands on only the rare steps that may begin a kept page.
inline bool MayBeginKeptPage(const std::uint8_t* step) {
  if (step[1] != 0x01) return false;
  if (step[0] == 0x02) return true;
  return (step[0] == 0x00 || step[0] == 0x05) && step[2] == 0x00 && step[3] == 0x00;
}

// The full test on the page's 4096 bytes. A definition's first page is judged by its
// structure (the free space against the stored length, table type, column counts, index
// counts and every column descriptor that lies on the page), so that random bytes and rows
// are not taken for one.
std::optional<TKeptPageKind> ClassifyKeptPage(std::span<const std::uint8_t, kKeptPageSize> page);

}  // namespace quillon
