// Jet text under each policy: the same bad bytes replaced, refused, or refused as not text.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "jet/text.h"

namespace quillon::jet {
namespace {

using TBytes = std::vector<std::uint8_t>;

TEST(JetTextPolicy, EachPolicyMeetsBadBytesAsItSays) {
  const TBytes lonePair = {0x3D, 0xD8, 0x00, 0xDE, 0x3D, 0xD8};  // 😀 and a lone half
  EXPECT_EQ(DecodeJetText(lonePair, TTextPolicy::Lenient), "\xF0\x9F\x98\x80\xEF\xBF\xBD");
  EXPECT_FALSE(DecodeJetText(lonePair, TTextPolicy::Exact));
  EXPECT_FALSE(DecodeJetText(lonePair, TTextPolicy::TextOnly));

  // A control character is sound UTF-16 but not text.
  const TBytes control = {0x01, 0x00, 'A', 0x00};
  EXPECT_EQ(DecodeJetText(control, TTextPolicy::Exact), std::string("\x01" "A", 2));
  EXPECT_FALSE(DecodeJetText(control, TTextPolicy::TextOnly));

  // Compressed text with a two-byte run: the same reading under every policy.
  const TBytes compressed = {0xFF, 0xFE, 'a', 'b', 0x00, 0x2D, 0x4E, 0x87, 0x65, 0x00, 'c'};
  for (const TTextPolicy policy : {TTextPolicy::Lenient, TTextPolicy::Exact, TTextPolicy::TextOnly})
    EXPECT_EQ(DecodeJetText(compressed, policy), "ab\xE4\xB8\xAD\xE6\x96\x87" "c");
}

TEST(JetTextPolicy, Utf16AloneTakesNoCompressedFormAndMeetsAnOddByte) {
  const TBytes odd = {'N', 0x00, 'o', 0x00, 0x21};
  EXPECT_EQ(DecodeUtf16(odd, TTextPolicy::Lenient), "No\xEF\xBF\xBD");
  EXPECT_FALSE(DecodeUtf16(odd, TTextPolicy::Exact));
  EXPECT_FALSE(DecodeUtf16(odd, TTextPolicy::TextOnly));
  // FF FE 'a' 'b' as UTF-16 alone: U+FEFF and U+6261, not compressed "ab".
  const TBytes marked = {0xFF, 0xFE, 'a', 'b'};
  EXPECT_EQ(DecodeUtf16(marked, TTextPolicy::Exact), "\xEF\xBB\xBF\xE6\x89\xA1");
  EXPECT_EQ(HexText(marked), "fffe6162");
}

}  // namespace
}  // namespace quillon::jet
