#include "core/utf8_text.h"

namespace quillon {

std::size_t Utf8SequenceLength(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) return 1;
  const std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                             : lead >= 0xE0 && lead <= 0xEF ? 3
                             : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                            : 0;
  if (length == 0 || at + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(at + k) & 0xC0) != 0x80) return 0;
  }
  // Overlong forms, surrogates and code points past U+10FFFF, by the second byte.
  const unsigned char second = byte(at + 1);
  if (lead == 0xE0 && second < 0xA0) return 0;
  if (lead == 0xED && second >= 0xA0) return 0;
  if (lead == 0xF0 && second < 0x90) return 0;
  if (lead == 0xF4 && second >= 0x90) return 0;
  return length;
}

std::uint32_t Utf8CodePoint(std::string_view text, std::size_t at, std::size_t length) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  if (length <= 1) return byte(at);
  std::uint32_t code = byte(at) & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) code = (code << 6) | (byte(at + k) & 0x3F);
  return code;
}

bool IsValidUtf8(std::string_view text) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = Utf8SequenceLength(text, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

std::string RepairedUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  ForEachRepairedCharacter(text, [&](std::string_view piece) { out += piece; });
  return out;
}

std::size_t CompleteCharactersLength(std::string_view text) {
  std::size_t lead = text.size();
  while (lead > 0 && (static_cast<unsigned char>(text[lead - 1]) & 0xC0) == 0x80) --lead;
  if (lead == 0) return text.size();
  const unsigned char b = static_cast<unsigned char>(text[--lead]);
  const std::size_t need = (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 1;
  return lead + need > text.size() ? lead : text.size();
}

}  // namespace quillon
