#include "core/utf8_text.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

const std::string kFffd(kReplacementCharacter);

// The edges of every sequence length, each just inside and just outside.
TEST(Utf8Text, ValidSequencesAndTheBytesJustOutside) {
  EXPECT_TRUE(IsValidUtf8(std::string("a\0b", 3)));  // NUL is a character
  EXPECT_TRUE(IsValidUtf8("\xC2\x80\xDF\xBF"));       // U+0080, U+07FF
  EXPECT_TRUE(IsValidUtf8("\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF"));
  EXPECT_TRUE(IsValidUtf8("\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"));  // U+10000, U+10FFFF
  EXPECT_TRUE(IsValidUtf8("恢复 Müller"));
  for (const char* bad : {"\xC0\xAF", "\xC1\xBF", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xF0\x8F\xBF\xBF",
                          "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFF", "\x80", "\xE6\x89",
                          "\xE6\x89z"}) {
    EXPECT_FALSE(IsValidUtf8(bad)) << bad;
  }
}

// Each bad byte becomes one U+FFFD; what is valid around it stays byte for byte.
TEST(Utf8Text, RepairReplacesEachBadByteAndKeepsTheRest) {
  EXPECT_EQ(RepairedUtf8("/tmp/\xCA\xFD\xBE\xDD/x"), "/tmp/" + kFffd + kFffd + kFffd + kFffd + "/x");
  EXPECT_EQ(RepairedUtf8("a\xE4\xB8" "b"), "a" + kFffd + kFffd + "b");
  EXPECT_EQ(RepairedUtf8("\xED\xA0\x80" "z"), kFffd + kFffd + kFffd + "z");
  EXPECT_EQ(RepairedUtf8("表\xE8\xA1"), "表" + kFffd + kFffd);  // cut by the end
  const std::string valid("客户 Müller \xF0\x9F\x98\x80\0.", 20);
  EXPECT_EQ(RepairedUtf8(valid), valid);
  EXPECT_TRUE(IsValidUtf8(RepairedUtf8("\xFE\xFF\xC3")));
}

TEST(Utf8Text, CodePointsAndCutsAtCharacterStarts) {
  const std::string text = "a\xC3\xBC\xE6\x81\xA2\xF0\x9F\x98\x80";
  EXPECT_EQ(Utf8CodePoint(text, 0, Utf8SequenceLength(text, 0)), 0x61u);
  EXPECT_EQ(Utf8CodePoint(text, 1, Utf8SequenceLength(text, 1)), 0xFCu);
  EXPECT_EQ(Utf8CodePoint(text, 3, Utf8SequenceLength(text, 3)), 0x6062u);
  EXPECT_EQ(Utf8CodePoint(text, 6, Utf8SequenceLength(text, 6)), 0x1F600u);
  for (std::size_t cut = 0; cut <= text.size(); ++cut) {
    const std::size_t kept = CompleteCharactersLength(text.substr(0, cut));
    EXPECT_TRUE(IsValidUtf8(text.substr(0, kept))) << cut;
    EXPECT_GE(kept + 3, cut) << cut;
  }
  EXPECT_EQ(CompleteCharactersLength("ab\xE6\x81"), 2u);
  EXPECT_EQ(CompleteCharactersLength("ab\xE6\x81\xA2"), 5u);
}

}  // namespace
}  // namespace quillon
