// The page candidate test against a reference written straight from the page layout,
// byte by byte, with none of the program's structures: the two must agree on every input.
// The input's first 526 bytes are the step record; a shorter input is padded with zeros,
// as the scan pads what a short read did not deliver.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/page_head.h"
#include "core/page_test.h"

namespace {

constexpr std::size_t kRecordSize = 526;

unsigned LoadU16(const std::uint8_t* record, std::size_t at) {
  return record[at] | (record[at + 1] << 8);
}

std::uint32_t LoadU32(const std::uint8_t* record, std::size_t at) {
  return static_cast<std::uint32_t>(LoadU16(record, at)) |
         static_cast<std::uint32_t>(LoadU16(record, at + 2)) << 16;
}

// A data or long-value page: type 1, mark 1, free space below 8192, owner below 25600 or
// "LVAL", row count below 2048 and from 1 to 256 (only 256 offsets fit the record), every
// row offset nonzero, and the last one beyond the row count plus 14.
bool ReferenceIsCandidate(const std::uint8_t* record) {
  if (record[0] != 0x01 || record[1] != 0x01) return false;
  if (LoadU16(record, 2) >= 8192) return false;
  const std::uint32_t owner = LoadU32(record, 4);
  if (owner >= 25600 && std::memcmp(record + 4, "LVAL", 4) != 0) return false;
  const unsigned rows = LoadU16(record, 12);
  if (rows >= 2048) return false;
  if (rows < 1 || rows > 256) return false;
  for (unsigned k = 0; k < rows; ++k) {
    if (LoadU16(record, 14 + 2 * k) == 0) return false;
  }
  return LoadU16(record, 14 + 2 * (rows - 1)) > rows + 14;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::uint8_t record[kRecordSize] = {};
  std::memcpy(record, data, size < kRecordSize ? size : kRecordSize);
  quillon::PageHead head;
  static_assert(sizeof head == kRecordSize);
  std::memcpy(&head, record, sizeof head);
  if (quillon::IsCandidatePage(head) != ReferenceIsCandidate(record)) __builtin_trap();
  return 0;
}
