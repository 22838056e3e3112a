// Long-value heads and chains on hand-built bytes: what each head kind reads as, what the
// strict reading refuses, and how a chain ends when its rows are lost, loop or run over.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "core/little_endian.h"
#include "core/page_head.h"
#include "jet/long_value.h"

namespace quillon::jet {
namespace {

using TBytes = std::vector<std::uint8_t>;

TBytes Head(std::uint32_t flags, std::uint32_t length, TRowPointer where,
            std::uint32_t unused = 0) {
  TBytes head(kLongValueHeadSize);
  PutLittleEndian<4>(head.data(), flags << 24 | length);
  PutLittleEndian<4>(head.data() + 4, where.Page << 8 | where.Row);
  PutLittleEndian<4>(head.data() + 8, unused);
  return head;
}

// An LVAL row of a chain: the pointer to the next part, then the part's data.
TBytes Part(TRowPointer next, const std::string& data) {
  TBytes row(kChainPointerSize + data.size());
  PutLittleEndian<4>(row.data(), next.Page << 8 | next.Row);
  std::copy(data.begin(), data.end(), row.begin() + kChainPointerSize);
  return row;
}

TEST(LongValueHead, ReadsEachKindAndRefusesWhatCannotBeAHead) {
  TBytes inlined = Head(0x80, 3, {});
  inlined.insert(inlined.end(), {'a', 'b', 'c', 'd'});
  const auto loose = ReadLongValueHead(inlined);
  ASSERT_TRUE(loose);
  EXPECT_EQ(loose->Kind, TLongValueKind::Inline);
  EXPECT_EQ(loose->Length, 3u);
  EXPECT_EQ(loose->InlineData.size(), 4u);  // the caller judges the extra byte
  EXPECT_FALSE(ParseLongValueHead(inlined));  // strictly, the length must be the rest
  inlined.pop_back();
  ASSERT_TRUE(ParseLongValueHead(inlined));
  EXPECT_EQ(ParseLongValueHead(inlined)->InlineData.size(), 3u);

  const auto single = ParseLongValueHead(Head(0x40, 100, {0x123456, 7}, 0x01020304));
  ASSERT_TRUE(single);
  EXPECT_EQ(single->Kind, TLongValueKind::SingleRow);
  EXPECT_EQ(single->Where, (TRowPointer{0x123456, 7}));
  EXPECT_FALSE(single->UnusedZero);
  EXPECT_EQ(ParseLongValueHead(Head(0x00, 9000, {5, 1}))->Kind, TLongValueKind::Chain);

  EXPECT_FALSE(ReadLongValueHead(TBytes(11, 0)));             // shorter than a head
  EXPECT_FALSE(ReadLongValueHead(Head(0xC0, 4, {5, 1})));     // both flag bits
  EXPECT_FALSE(ParseLongValueHead(Head(0x40, 0, {5, 1})));    // an empty pointed value
  EXPECT_FALSE(ParseLongValueHead(Head(0x40, 10, {0, 1})));   // page 0
  EXPECT_FALSE(ParseLongValueHead(Head(0x40, static_cast<std::uint32_t>(kPageSize) + 1, {5, 1})));  // past a page
  TBytes longer = Head(0x00, 10, {5, 1});
  longer.push_back(0);
  EXPECT_FALSE(ParseLongValueHead(longer));  // a pointing head is exactly 12 bytes
  EXPECT_TRUE(ReadLongValueHead(longer));
}

struct TChainResult {
  TChainEnd End;
  std::string Value;
};

TChainResult Follow(const std::map<std::pair<std::uint32_t, std::uint8_t>, TBytes>& rows,
                    TRowPointer first, std::size_t length) {
  TChainResult result;
  result.End = FollowChain(
      first, length,
      [&](TRowPointer at) -> std::optional<TBytes> {
        const auto found = rows.find({at.Page, at.Row});
        if (found == rows.end()) return std::nullopt;
        return found->second;
      },
      [&](std::span<const std::uint8_t> part) { result.Value.append(part.begin(), part.end()); });
  return result;
}

TEST(LongValueChain, EndsWholeOnlyWhenThePartsAddUpToTheLength) {
  const std::map<std::pair<std::uint32_t, std::uint8_t>, TBytes> rows = {
      {{10, 0}, Part({11, 2}, "Hello, ")},
      {{11, 2}, Part({0, 0}, "world")},
  };
  const TChainResult whole = Follow(rows, {10, 0}, 12);
  EXPECT_EQ(whole.End, TChainEnd::Whole);
  EXPECT_EQ(whole.Value, "Hello, world");
  EXPECT_EQ(Follow(rows, {10, 0}, 13).End, TChainEnd::Broken);  // ends early
  EXPECT_EQ(Follow(rows, {10, 0}, 11).End, TChainEnd::Broken);  // runs over
  EXPECT_EQ(Follow(rows, {12, 0}, 12).End, TChainEnd::Lost);    // first part not there
}

TEST(LongValueChain, ALostPartSaysNothingAndALoopOrAShortRowBreaksIt) {
  const std::map<std::pair<std::uint32_t, std::uint8_t>, TBytes> lost = {
      {{10, 0}, Part({11, 2}, "abc")},
  };
  EXPECT_EQ(Follow(lost, {10, 0}, 6).End, TChainEnd::Lost);

  // Two rows pointing at each other: followed naively, the chain would go round until the
  // part limit; the value is long enough that no overrun stops it first.
  const std::map<std::pair<std::uint32_t, std::uint8_t>, TBytes> loop = {
      {{10, 0}, Part({11, 0}, "ab")},
      {{11, 0}, Part({10, 0}, "cd")},
  };
  EXPECT_EQ(Follow(loop, {10, 0}, 1000).End, TChainEnd::Broken);

  const std::map<std::pair<std::uint32_t, std::uint8_t>, TBytes> shortRow = {
      {{10, 0}, TBytes{0, 0, 0}},
  };
  EXPECT_EQ(Follow(shortRow, {10, 0}, 3).End, TChainEnd::Broken);
}

}  // namespace
}  // namespace quillon::jet
