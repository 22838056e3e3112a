#pragma once
// The page candidate test: does a 512-byte step begin a Jet 4 data or long-value page?

#include <cstdint>
#include <span>

#include "core/page_head.h"

namespace quillon {

inline constexpr std::uint16_t kMaxFreeSpace = 8192;    // FreeSpace must stay below
inline constexpr std::uint32_t kMaxOwnerPage = 25600;   // OwnerPage must stay below, unless "LVAL"
inline constexpr std::uint16_t kMaxRowCount = 2048;     // RowCount must stay below
inline constexpr std::size_t kClassicTableView = 250;   // entries the classic test looked at

// Yes when the row-offset table's rowCount entries are all nonzero and the last of them
// lies beyond rowCount + 14. Only the last entry is held against that bound. A rowCount
// that reaches past the given table is answered no: the test never reads beyond its record.
bool CheckRowOffsets(std::span<const std::uint16_t> table, std::uint16_t rowCount);

// Pure and cheap: rejects on the first bytes for almost every step of real data.
// Row counts up to 256 are judged on the entries the 526-byte record holds; more are rejected.
bool IsCandidatePage(const PageHead& head);

}  // namespace quillon
