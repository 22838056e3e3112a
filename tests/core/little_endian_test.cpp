// The one little-endian reader: values as stored, and nothing for a read that would reach
// past its bytes, wherever it starts (offsets near the top of size_t included).

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>

#include "core/little_endian.h"

namespace quillon {
namespace {

TEST(LittleEndian, ReadsWhatIsInsideAndNothingPastTheEnd) {
  const std::array<std::uint8_t, 8> bytes = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x88};
  EXPECT_EQ(ReadU16(bytes, 0), 0x0201);
  EXPECT_EQ(ReadU24(bytes, 5), 0x880706u);
  EXPECT_EQ(ReadU32(bytes, 4), 0x88070605u);
  EXPECT_EQ(ReadU64(bytes, 0), 0x8807060504030201u);
  EXPECT_FALSE(ReadU16(bytes, 7));  // one byte short
  EXPECT_FALSE(ReadU32(bytes, 5));
  EXPECT_FALSE(ReadU16(bytes, 8));
  EXPECT_FALSE(ReadU16(bytes, std::numeric_limits<std::size_t>::max()));  // no wrap-around
  EXPECT_FALSE(ReadU64(std::span<const std::uint8_t>(bytes).first(7), 0));

  std::array<std::uint8_t, 8> written{};
  PutLittleEndian<8>(written.data(), 0x8807060504030201u);
  EXPECT_EQ(written, bytes);
}

}  // namespace
}  // namespace quillon
