// The page candidate test at its boundaries.

#include <gtest/gtest.h>

#include <cstring>

#include "core/page_test.h"

namespace quillon {
namespace {

// A head that passes: 01 01, FreeSpace 8191, owner one below the limit, one row at 16.
PageHead ValidHead() {
  PageHead head;
  std::memset(&head, 0, sizeof head);
  head.PageType = 0x01;
  head.PageMark = 0x01;
  head.FreeSpace = 8191;
  head.OwnerPage = kMaxOwnerPage - 1;
  head.RowCount = 1;
  head.RowOffsets[0] = 16;
  return head;
}

PageHead WithRows(std::initializer_list<std::uint16_t> offsets) {
  PageHead head = ValidHead();
  head.RowCount = static_cast<std::uint16_t>(offsets.size());
  std::size_t i = 0;
  for (std::uint16_t offset : offsets) head.RowOffsets[i++] = offset;
  return head;
}

TEST(PageHeadLayout, FieldsSitAtTheirPageOffsets) {
  std::uint8_t bytes[kPageHeadSize] = {};
  bytes[0] = 0x01;
  bytes[1] = 0x02;
  bytes[2] = 0x34;  // FreeSpace 0x1234
  bytes[3] = 0x12;
  std::memcpy(bytes + 4, "LVAL", 4);
  bytes[12] = 0x05;  // RowCount 0x0105
  bytes[13] = 0x01;
  bytes[512] = 0xCD;  // entry 249
  bytes[513] = 0xAB;
  bytes[524] = 0x22;  // entry 255
  bytes[525] = 0x11;
  PageHead head;
  std::memcpy(&head, bytes, sizeof head);
  EXPECT_EQ(head.PageType, 0x01);
  EXPECT_EQ(head.PageMark, 0x02);
  EXPECT_EQ(head.FreeSpace, 0x1234);
  EXPECT_EQ(head.OwnerPage, kLvalOwner);
  EXPECT_EQ(head.RowCount, 0x0105);
  EXPECT_EQ(head.RowOffsets[249], 0xABCD);
  EXPECT_EQ(head.RowOffsets[255], 0x1122);
}

TEST(IsCandidatePage, RejectsAllZeroAndAcceptsTheSmallestValidHead) {
  PageHead zero;
  std::memset(&zero, 0, sizeof zero);
  EXPECT_FALSE(IsCandidatePage(zero));
  EXPECT_TRUE(IsCandidatePage(ValidHead()));
  PageHead head = ValidHead();
  head.RowOffsets[0] = 15;  // 16 is the smallest entry accepted for one row
  EXPECT_FALSE(IsCandidatePage(head));
}

TEST(IsCandidatePage, HeaderFieldLimits) {
  PageHead head = ValidHead();
  head.PageType = 0x02;
  EXPECT_FALSE(IsCandidatePage(head));
  head = ValidHead();
  head.PageMark = 0x00;
  EXPECT_FALSE(IsCandidatePage(head));
  head = ValidHead();
  head.FreeSpace = 8192;
  EXPECT_FALSE(IsCandidatePage(head));
  head.FreeSpace = 0;
  EXPECT_TRUE(IsCandidatePage(head));
  head = ValidHead();
  head.OwnerPage = 25600;
  EXPECT_FALSE(IsCandidatePage(head));
  head.OwnerPage = 0;
  EXPECT_TRUE(IsCandidatePage(head));
  head.OwnerPage = kLvalOwner;
  EXPECT_TRUE(IsCandidatePage(head));
  head.OwnerPage = kLvalOwner + 1;  // "MVAL": large and not the long-value mark
  EXPECT_FALSE(IsCandidatePage(head));
  head = ValidHead();
  head.RowCount = 2048;
  EXPECT_FALSE(IsCandidatePage(head));
  head.RowCount = 0;
  EXPECT_FALSE(IsCandidatePage(head));
}

TEST(IsCandidatePage, BytesEightToElevenNeverMatter) {
  for (std::uint32_t value : {0u, 1u, 0xFFFFFFFFu, kLvalOwner}) {
    PageHead head = ValidHead();
    head.Unused = value;
    EXPECT_TRUE(IsCandidatePage(head));
    head.RowCount = 0;
    EXPECT_FALSE(IsCandidatePage(head));
  }
}

TEST(CheckRowOffsets, OnlyTheLastEntryIsHeldAgainstTheBoundAndNoneMayBeZero) {
  EXPECT_TRUE(IsCandidatePage(WithRows({30, 20, 18})));   // 18 > 3 + 14
  EXPECT_FALSE(IsCandidatePage(WithRows({30, 0, 18})));   // a zero entry
  EXPECT_FALSE(IsCandidatePage(WithRows({30, 20, 17})));  // last not above 17
  EXPECT_TRUE(IsCandidatePage(WithRows({1, 2, 3, 4000})));  // small first, large last
  // The bound is N + 14, not 2N + 14: with ten rows, 25 passes and 24 does not.
  EXPECT_TRUE(IsCandidatePage(WithRows({100, 100, 100, 100, 100, 100, 100, 100, 100, 25})));
  EXPECT_FALSE(IsCandidatePage(WithRows({100, 100, 100, 100, 100, 100, 100, 100, 100, 24})));
}

TEST(CheckRowOffsets, EntriesAreWholeSixteenBitValues) {
  // High bits count: 0x8000 is nonzero and large, so it passes as the last entry.
  EXPECT_TRUE(IsCandidatePage(WithRows({0x8000})));
  EXPECT_TRUE(IsCandidatePage(WithRows({0xFFFF, 0x8000})));
  EXPECT_FALSE(IsCandidatePage(WithRows({0x8000, 0})));
}

TEST(CheckRowOffsets, RowCountsAroundTheRecordsEnd) {
  auto fullTable = [](std::uint16_t rows) {
    PageHead head = ValidHead();
    head.RowCount = rows;
    for (auto& entry : head.RowOffsets) entry = 0;
    for (std::uint16_t k = 0; k < rows && k < kRowOffsetEntries; ++k) head.RowOffsets[k] = 4000;
    return head;
  };
  // 250 rows use every entry up to byte 513.
  PageHead head = fullTable(250);
  EXPECT_TRUE(IsCandidatePage(head));
  head.RowOffsets[249] = 0;
  EXPECT_FALSE(IsCandidatePage(head));
  // Up to 250 rows, entries 250 to 255 never matter.
  head = fullTable(250);
  for (std::size_t k = 250; k < kRowOffsetEntries; ++k) head.RowOffsets[k] = 0xFFFF;
  EXPECT_TRUE(IsCandidatePage(head));
  head = fullTable(3);
  for (std::size_t k = 250; k < kRowOffsetEntries; ++k) head.RowOffsets[k] = 0;
  EXPECT_TRUE(IsCandidatePage(head));
  // 251 to 256 rows are judged on the entries the record holds.
  for (std::uint16_t rows : {251, 255, 256}) {
    head = fullTable(rows);
    EXPECT_TRUE(IsCandidatePage(head)) << rows;
    head.RowOffsets[rows - 1] = static_cast<std::uint16_t>(rows + 14);
    EXPECT_FALSE(IsCandidatePage(head)) << rows;
    head = fullTable(rows);
    head.RowOffsets[250] = 0;
    EXPECT_FALSE(IsCandidatePage(head)) << rows;
  }
  // More rows than the record holds are rejected, never read past it.
  EXPECT_FALSE(IsCandidatePage(fullTable(257)));
  EXPECT_FALSE(IsCandidatePage(fullTable(2047)));
}

TEST(CheckRowOffsets, DirectCalls) {
  const std::uint16_t table[4] = {30, 20, 18, 0};
  EXPECT_TRUE(CheckRowOffsets(table, 3));
  EXPECT_FALSE(CheckRowOffsets(table, 4));
  EXPECT_FALSE(CheckRowOffsets(table, 0));
  EXPECT_FALSE(CheckRowOffsets(std::span<const std::uint16_t>(table, 2), 3));
}

}  // namespace
}  // namespace quillon
