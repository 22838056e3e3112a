// The page map reader on arbitrary bytes, and the kept-page test on each 4096 bytes of them.
// Besides the sanitizers' checks, a broken promise traps:
//  - a map that is not complete says why, naming the file;
//  - a complete map holds as many offsets and pages as its closing record counts;
//  - every kept page's bytes lie inside the file.

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/kept_page_test.h"
#include "memory_stream.h"
#include "recover/page_map_reader.h"

namespace {

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillon;
  fuzzing::TMemoryStream stream(data, size);
  const recover::TPageMapContents map = recover::ReadPageMap(stream, "fuzz.pagemap");
  Require(map.Complete == map.Problem.empty());
  if (!map.Complete) Require(map.Problem.find("\"fuzz.pagemap\"") != std::string::npos);
  if (map.Complete) Require(map.Fragments == map.FragmentOffsets.size());
  for (const auto* pages : {&map.Pages, &map.Continuations}) {
    for (const recover::TKeptPageRef& page : *pages) Require(page.FileOffset + 4096 <= size);
  }
  for (std::size_t at = 0; at + kKeptPageSize <= size; at += kKeptPageSize) {
    ClassifyKeptPage(std::span<const std::uint8_t, kKeptPageSize>(data + at, kKeptPageSize));
  }
  return 0;
}
