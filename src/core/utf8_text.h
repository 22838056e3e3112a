#pragma once
// UTF-8 text from outside the program (paths, names and values read from a disk) judged
// and repaired by one rule, so that the command line's JSON, the report page and the
// console agree on what a character is.
//
// The rule: a valid sequence is UTF-8 as RFC 3629 defines it (no overlong forms, no
// surrogates, nothing past U+10FFFF). Every other byte, one at a time, is a bad byte: a
// stray continuation byte, a lead byte without its continuations (also a sequence cut by
// the end of the text), a byte that can never appear in UTF-8. Repair replaces each bad
// byte by U+FFFD and keeps everything else exactly as it was; NUL is a valid character.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quillon {

inline constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";  // U+FFFD

// The length (1 to 4) of the valid sequence that starts at text[at]; 0 when text[at] is a
// bad byte. at must lie inside text.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t at);

// The code point of the valid sequence of length bytes at text[at].
std::uint32_t Utf8CodePoint(std::string_view text, std::size_t at, std::size_t length);

bool IsValidUtf8(std::string_view text);

// The text with every bad byte replaced by U+FFFD; valid text comes back unchanged.
std::string RepairedUtf8(std::string_view text);

// Calls out(piece) for each character of text in order: a valid sequence as it is, a bad
// byte as U+FFFD.
template <class TOut>
void ForEachRepairedCharacter(std::string_view text, TOut&& out) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = Utf8SequenceLength(text, at);
    if (length == 0) {
      out(kReplacementCharacter);
      ++at;
    } else {
      out(text.substr(at, length));
      at += length;
    }
  }
}

// The length of text without a last sequence that a cut left incomplete: where a text
// cut at a byte count may end without splitting a character.
std::size_t CompleteCharactersLength(std::string_view text);

}  // namespace quillon
