#include "rows/jet_text.h"


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

// UTF-16 code units in, UTF-8 out; fails at a broken surrogate pair or a character that
// is not text.
class TUtf8Writer {
 public:
  TUtf8Writer(TCharRule rule, std::size_t units) : rule_(rule) { out_.reserve(units); }

  bool Failed() const { return failed_; }

  // Characters U+0020 to U+007E, one byte each: appended as they are.
  void Ascii(const std::uint8_t* bytes, std::size_t n) {
    if (high_ != 0) {
      failed_ = true;
      return;
    }
    out_.append(reinterpret_cast<const char*>(bytes), n);
  }

  void Unit(char16_t unit) {
    if (unit >= 0x20 && unit < 0x7F && high_ == 0) {
      out_ += static_cast<char>(unit);  // most text is ASCII
      return;
    }
    if (high_ != 0) {
      if (unit < 0xDC00 || unit > 0xDFFF) {
        failed_ = true;
        return;
      }
      Character(0x10000 + ((static_cast<char32_t>(high_) - 0xD800) << 10) + (unit - 0xDC00));
      high_ = 0;
    } else if (unit >= 0xD800 && unit <= 0xDBFF) {
      high_ = unit;
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      failed_ = true;
    } else {
      Character(unit);
    }
  }

  std::optional<std::string> Finish() {
    if (failed_ || high_ != 0) return std::nullopt;
    return std::move(out_);
  }

 private:
  void Character(char32_t c) {
    if (IsTextCharacter(c, rule_)) {
      AppendUtf8(out_, c);
    } else {
      failed_ = true;
    }
  }

  TCharRule rule_;
  std::string out_;
  char16_t high_ = 0;  // a high surrogate waiting for its low half
  bool failed_ = false;
};

std::optional<std::string> DecodeCompressed(std::span<const std::uint8_t> bytes) {
  TUtf8Writer writer(TCharRule::Compressed, bytes.size());
  bool oneByte = true;
  std::size_t segmentStart = 2;
  for (std::size_t i = 2; i <= bytes.size() && !writer.Failed(); ++i) {
    if (i < bytes.size() && bytes[i] != 0) continue;
    if (oneByte) {
      for (std::size_t k = segmentStart; k < i;) {
        std::size_t run = k;
        while (run < i && bytes[run] >= 0x20 && bytes[run] < 0x7F) ++run;
        if (run > k) {
          writer.Ascii(bytes.data() + k, run - k);
          k = run;
        } else {
          writer.Unit(bytes[k++]);
        }
      }
    } else {
      if ((i - segmentStart) % 2 != 0) return std::nullopt;
      for (std::size_t k = segmentStart; k < i; k += 2) {
        writer.Unit(static_cast<char16_t>(bytes[k] | (bytes[k + 1] << 8)));
      }
    }
    oneByte = !oneByte;
    segmentStart = i + 1;
  }
  return writer.Finish();
}

}  // namespace

std::optional<std::string> DecodeJetText(std::span<const std::uint8_t> bytes) {
  if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    if (auto text = DecodeCompressed(bytes)) return text;
    // Otherwise UTF-16 text that begins with U+FEFF, or no text at all.
  }
  if (bytes.size() % 2 != 0) return std::nullopt;
  TUtf8Writer writer(TCharRule::Plain, bytes.size() / 2);
  for (std::size_t k = 0; k < bytes.size() && !writer.Failed(); k += 2) {
    writer.Unit(static_cast<char16_t>(bytes[k] | (bytes[k + 1] << 8)));
  }
  return writer.Finish();
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
