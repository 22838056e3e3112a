// libFuzzer target for the row reader: the input is a run of 4096-byte pages (the last one
// completed with zeros) as a fragment file would hold them. Every table's rows are visited
// and their values decoded, as the outputs of quillon-cli rows do.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "rows/page_catalog.h"
#include "rows/row_recovery.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillon;
  constexpr std::size_t kMaxPages = 64;  // enough for chains across pages, fast to run
  TPageCatalog catalog;
  for (std::size_t at = 0; at < size && catalog.PageCount() < kMaxPages; at += kFragmentSize) {
    std::array<std::uint8_t, kFragmentSize> page{};
    std::memcpy(page.data(), data + at, std::min(kFragmentSize, size - at));
    catalog.Add(at / kFragmentSize, page);
  }
  const TRowRecovery recovery(catalog);
  std::size_t bytes = 0;
  for (std::size_t t = 0; t < recovery.Tables().size(); ++t) {
    recovery.ForEachRow(t, [&](const TRecoveredRow& row) {
      bytes += row.Fixed.size();
      for (const TRecoveredValue& value : row.Values) bytes += value.Text.size();
    });
  }
  return bytes == SIZE_MAX ? 1 : 0;  // keeps the visits from being optimised away
}
