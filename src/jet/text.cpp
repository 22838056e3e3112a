#include "jet/text.h"

// Two walks over the bytes live here. The sound one follows text as Jet writes it and
// meets only broken surrogate pairs and odd bytes (each U+FFFD when lenient); the
// text-only one also refuses characters that text does not hold, and takes an FF FE start
// that does not read as compressed text for UTF-16 beginning with U+FEFF. They differ in
// where a compressed run may switch (the sound walk only between whole characters), and
// what they give has been checked against real databases as it is: neither is rewritten
// in terms of the other.

namespace quillon::jet {
namespace {

// ---- The sound walk (Lenient and Exact)

// Writes code as UTF-8 at out; returns the end. At most 4 bytes.
char* PutUtf8(char* out, std::uint32_t code) {
  if (code < 0x80) {
    *out++ = static_cast<char>(code);
  } else if (code < 0x800) {
    *out++ = static_cast<char>(0xC0 | (code >> 6));
    *out++ = static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (code >> 12));
    *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (code >> 18));
    *out++ = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (code & 0x3F));
  }
  return out;
}

void AppendCode(std::string& out, std::uint32_t code) {
  char bytes[4];
  out.append(bytes, PutUtf8(bytes, code));
}

constexpr std::uint32_t kReplacement = 0xFFFD;

// Appends UTF-16LE units; false at a broken pair unless lenient.
bool AppendUtf16(std::string& out, std::span<const std::uint8_t> bytes, bool lenient) {
  const std::size_t units = bytes.size() / 2;
  const std::size_t start = out.size();
  out.resize(start + 3 * units);  // no unit takes more than 3 bytes; a pair takes 4 for 2
  char* at = out.data() + start;
  for (std::size_t i = 0; i < units; ++i) {
    std::uint32_t unit = bytes[2 * i] | (bytes[2 * i + 1] << 8);
    if (unit < 0x80) {
      *at++ = static_cast<char>(unit);
      continue;
    }
    if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < units) {
      const std::uint32_t low = bytes[2 * i + 2] | (bytes[2 * i + 3] << 8);
      if (low >= 0xDC00 && low < 0xE000) {
        at = PutUtf8(at, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    if (unit >= 0xD800 && unit < 0xE000) {
      if (!lenient) {
        out.resize(start);
        return false;
      }
      unit = kReplacement;
    }
    at = PutUtf8(at, unit);
  }
  out.resize(static_cast<std::size_t>(at - out.data()));
  return true;
}

std::optional<std::string> SoundUtf16(std::span<const std::uint8_t> bytes, bool lenient) {
  if (bytes.size() % 2 != 0 && !lenient) return std::nullopt;
  std::string out;
  out.reserve(bytes.size());
  if (!AppendUtf16(out, bytes, lenient)) return std::nullopt;
  if (bytes.size() % 2 != 0) AppendCode(out, kReplacement);
  return out;
}

std::optional<std::string> SoundJetText(std::span<const std::uint8_t> bytes, bool lenient) {
  if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE) {
    return SoundUtf16(bytes, lenient);
  }
  std::string out;
  out.reserve(bytes.size());
  bool compressed = true;
  std::size_t at = 2;
  while (at < bytes.size()) {
    if (bytes[at] == 0x00) {
      compressed = !compressed;
      ++at;
      continue;
    }
    if (compressed) {
      // One-byte characters up to the next 0x00.
      std::size_t end = at;
      while (end < bytes.size() && bytes[end] != 0x00) ++end;
      const std::size_t start = out.size();
      out.resize(start + 2 * (end - at));
      char* put = out.data() + start;
      for (; at < end; ++at) put = PutUtf8(put, bytes[at]);
      out.resize(static_cast<std::size_t>(put - out.data()));
      continue;
    }
    // Two-byte characters up to the next unit that begins with 0x00.
    std::size_t end = at;
    while (end + 1 < bytes.size() && bytes[end] != 0x00) end += 2;
    if (!AppendUtf16(out, bytes.subspan(at, end - at), lenient)) return std::nullopt;
    if (end < bytes.size() && bytes[end] != 0x00) {
      if (!lenient) return std::nullopt;
      AppendCode(out, kReplacement);  // an odd byte at the end
      end = bytes.size();
    }
    at = end;
  }
  return out;
}

// ---- The text-only walk (TextOnly)

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

// UTF-16LE under the text-only character rule.
std::optional<std::string> TextOnlyUtf16(std::span<const std::uint8_t> bytes) {
  if (bytes.size() % 2 != 0) return std::nullopt;
  TUtf8Writer writer(TCharRule::Plain, bytes.size() / 2);
  for (std::size_t k = 0; k < bytes.size() && !writer.Failed(); k += 2) {
    writer.Unit(static_cast<char16_t>(bytes[k] | (bytes[k + 1] << 8)));
  }
  return writer.Finish();
}

std::optional<std::string> TextOnlyJetText(std::span<const std::uint8_t> bytes) {
  if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    if (auto text = DecodeCompressed(bytes)) return text;
    // Otherwise UTF-16 text that begins with U+FEFF, or no text at all.
  }
  return TextOnlyUtf16(bytes);
}

}  // namespace

std::optional<std::string> DecodeJetText(std::span<const std::uint8_t> bytes, TTextPolicy policy) {
  if (policy == TTextPolicy::TextOnly) return TextOnlyJetText(bytes);
  return SoundJetText(bytes, policy == TTextPolicy::Lenient);
}

std::optional<std::string> DecodeUtf16(std::span<const std::uint8_t> bytes, TTextPolicy policy) {
  if (policy == TTextPolicy::TextOnly) return TextOnlyUtf16(bytes);
  return SoundUtf16(bytes, policy == TTextPolicy::Lenient);
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

}  // namespace quillon::jet
