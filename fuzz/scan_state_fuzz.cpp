// The scan state reader on arbitrary bytes. Besides the sanitizers' checks, a broken
// promise traps:
//  - a refusal always says why;
//  - a state read back keeps its own rules (ranges in order, disjoint, below the offset
//    reached, which lies within the source) and is written again as the very same state.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/scan_state.h"

namespace {

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillon;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string problem;
  const std::optional<TScanState> state = ParseScanState(text, &problem);
  if (!state) {
    Require(!problem.empty());
    return 0;
  }
  Require(state->Restart.SourceOffset <= state->SourceSize);
  std::int64_t previousEnd = 0;
  for (const TByteRange& range : state->Unreadable) {
    Require(range.Length > 0 && range.Offset >= previousEnd);
    Require(range.Offset + range.Length <= state->Restart.SourceOffset);
    previousEnd = range.Offset + range.Length;
  }
  const std::optional<TScanState> again = ParseScanState(FormatScanState(*state), nullptr);
  Require(again.has_value() && *again == *state);
  return 0;
}
