#include "cli/json_output.h"

namespace quillon {
namespace {

// Length of the valid UTF-8 sequence starting at i, or 0 when it is not one.
std::size_t Utf8SequenceLength(const std::string& s, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char lead = byte(i);
  const std::size_t length = lead >= 0xF0 && lead <= 0xF4 ? 4
                             : lead >= 0xE0 && lead <= 0xEF ? 3
                             : lead >= 0xC2 && lead <= 0xDF ? 2
                                                            : 0;
  if (length == 0 || i + length > s.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
  }
  // Overlong forms, surrogates and code points past U+10FFFF are not valid either.
  const unsigned char second = byte(i + 1);
  if (lead == 0xE0 && second < 0xA0) return 0;
  if (lead == 0xED && second >= 0xA0) return 0;
  if (lead == 0xF0 && second < 0x90) return 0;
  if (lead == 0xF4 && second >= 0x90) return 0;
  return length;
}

}  // namespace

std::string JsonSafeText(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
      ++i;
    } else if (const std::size_t n = Utf8SequenceLength(bytes, i); n > 0) {
      out.append(bytes, i, n);
      i += n;
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));  // U+0080..U+00FF in UTF-8
      out += static_cast<char>(0x80 | (c & 0x3F));
      ++i;
    }
  }
  return out;
}

std::string JsonLine(const TJson& json) { return json.dump(); }

}  // namespace quillon
