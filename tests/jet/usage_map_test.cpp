// A usage map row read into the page numbers it lists.

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "jet/usage_map.h"

namespace quillon::jet {
namespace {

TEST(UsageMap, AnInlineBitmapListsPagesFromItsFirstNumber) {
  // Type 0, first page 40, bits 0, 3 and 9.
  const std::vector<std::uint8_t> row = {0, 40, 0, 0, 0, 0b00001001, 0b00000010};
  const auto pages = ParseUsageMap(row, [](std::uint32_t) { return nullptr; });
  ASSERT_TRUE(pages);
  EXPECT_EQ(*pages, (std::set<std::uint32_t>{40, 43, 49}));
  EXPECT_FALSE(ParseUsageMap(std::vector<std::uint8_t>{0, 40, 0}, {}));
  EXPECT_FALSE(ParseUsageMap(std::vector<std::uint8_t>{7, 0, 0, 0, 0}, {}));
}

TEST(UsageMap, BitmapPagesEachCoverTheirOwnSpanAndNoneMayBeMissing) {
  std::array<std::uint8_t, 4096> first{}, second{};
  first[4] = 0b00000100;   // page 2
  second[4] = 0b00000001;  // page 32736, the second bitmap page's first
  // Type 1: bitmap pages 7 and 9, then an unused slot.
  const std::vector<std::uint8_t> row = {1, 7, 0, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0};
  std::vector<std::uint32_t> read;
  const auto pages = ParseUsageMap(
      row,
      [&](std::uint32_t number) -> const std::uint8_t* {
        return number == 7 ? first.data() : number == 9 ? second.data() : nullptr;
      },
      &read);
  ASSERT_TRUE(pages);
  EXPECT_EQ(*pages, (std::set<std::uint32_t>{2, 32736}));
  EXPECT_EQ(read, (std::vector<std::uint32_t>{7, 9}));
  // A part of the map missing: the map cannot be trusted.
  EXPECT_FALSE(ParseUsageMap(row, [&](std::uint32_t number) -> const std::uint8_t* {
    return number == 7 ? first.data() : nullptr;
  }));
}

}  // namespace
}  // namespace quillon::jet
