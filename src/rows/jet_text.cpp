#include "rows/jet_text.h"

#include <vector>

namespace quillon {
namespace {

enum class TCharRule { Compressed, Plain };

bool IsTextCharacter(char32_t c, TCharRule rule) {
  if (c < 0x20) return c == '\t' || c == '\n' || c == '\r';
  if (c >= 0x7F && c <= 0x9F) return false;
  if ((c & 0xFFFE) == 0xFFFE || (c >= 0xFDD0 && c <= 0xFDEF)) return false;
  // Binary bytes read as UTF-16 land in the private-use area often; text seldom does.
  if (rule == TCharRule::Plain && c >= 0xE000 && c <= 0xF8FF) return false;
  return true;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Appends UTF-16 code units as UTF-8; false at a broken pair or a character that is not text.
bool AppendUtf16(std::string& out, const std::vector<char16_t>& units, TCharRule rule) {
  for (std::size_t i = 0; i < units.size(); ++i) {
    char32_t c = units[i];
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 == units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF) return false;
      c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return false;
    }
    if (!IsTextCharacter(c, rule)) return false;
    AppendUtf8(out, c);
  }
  return true;
}

std::optional<std::string> DecodeCompressed(std::span<const std::uint8_t> bytes) {
  std::vector<char16_t> units;
  units.reserve(bytes.size());
  bool oneByte = true;
  std::size_t segmentStart = 2;
  for (std::size_t i = 2; i <= bytes.size(); ++i) {
    if (i < bytes.size() && bytes[i] != 0) continue;
    if (oneByte) {
      for (std::size_t k = segmentStart; k < i; ++k) units.push_back(bytes[k]);
    } else {
      if ((i - segmentStart) % 2 != 0) return std::nullopt;
      for (std::size_t k = segmentStart; k < i; k += 2) {
        units.push_back(static_cast<char16_t>(bytes[k] | (bytes[k + 1] << 8)));
      }
    }
    oneByte = !oneByte;
    segmentStart = i + 1;
  }
  std::string out;
  out.reserve(units.size());
  if (!AppendUtf16(out, units, TCharRule::Compressed)) return std::nullopt;
  return out;
}

}  // namespace

std::optional<std::string> DecodeJetText(std::span<const std::uint8_t> bytes) {
  if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    if (auto text = DecodeCompressed(bytes)) return text;
    // Otherwise UTF-16 text that begins with U+FEFF, or no text at all.
  }
  if (bytes.size() % 2 != 0) return std::nullopt;
  std::vector<char16_t> units(bytes.size() / 2);
  for (std::size_t k = 0; k < units.size(); ++k) {
    units[k] = static_cast<char16_t>(bytes[2 * k] | (bytes[2 * k + 1] << 8));
  }
  std::string out;
  out.reserve(units.size());
  if (!AppendUtf16(out, units, TCharRule::Plain)) return std::nullopt;
  return out;
}

std::string HexText(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out(bytes.size() * 2, '0');
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    out[2 * i] = kDigits[bytes[i] >> 4];
    out[2 * i + 1] = kDigits[bytes[i] & 0x0F];
  }
  return out;
}

}  // namespace quillon
