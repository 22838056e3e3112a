#include "recover/output_names.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace quillon::recover {
namespace {

std::string WithoutNul(std::string name) {
  std::replace(name.begin(), name.end(), '\0', '_');
  return name.empty() ? std::string("_") : name;
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

// Windows opens the device, not a file, for these names whatever follows the first dot.
bool IsDeviceName(const std::string& stem) {
  std::string_view base(stem);
  base = base.substr(0, base.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  static constexpr std::array<std::string_view, 6> kNames = {"CON", "PRN",    "AUX",
                                                             "NUL", "CONIN$", "CONOUT$"};
  for (const std::string_view name : kNames) {
    if (EqualsIgnoringAsciiCase(base, name)) return true;
  }
  if (base.size() < 4) return false;
  const std::string_view prefix = base.substr(0, 3);
  if (!EqualsIgnoringAsciiCase(prefix, "COM") && !EqualsIgnoringAsciiCase(prefix, "LPT"))
    return false;
  const std::string_view digit = base.substr(3);
  return (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') ||
         digit == "\xC2\xB9" || digit == "\xC2\xB2" || digit == "\xC2\xB3";  // ¹ ² ³
}

// The code point of the UTF-8 sequence at text[at] and its length; a byte that begins no
// whole sequence stands for itself (as kLoneByte + byte, past every code point).
constexpr char32_t kLoneByte = 0x110000;

std::pair<char32_t, std::size_t> CodePointAt(const std::string& text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char first = byte(at);
  const std::size_t length = first < 0x80 ? 1 : (first >> 5) == 6 ? 2 : (first >> 4) == 14 ? 3
                             : (first >> 3) == 30 ? 4 : 0;
  if (length == 0 || at + length > text.size()) return {kLoneByte + first, 1};
  char32_t code = length == 1 ? first : first & (0xFF >> (length + 1));
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return {kLoneByte + first, 1};
    code = code << 6 | (byte(at + i) & 0x3F);
  }
  return {code, length};
}

void AppendUtf8(std::string& out, char32_t code) {
  if (code >= kLoneByte) {
    out.push_back(static_cast<char>(code - kLoneByte));
  } else if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | code >> 6));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | code >> 12));
    out.push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | code >> 18));
    out.push_back(static_cast<char>(0x80 | (code >> 12 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

// The small letter of a capital, for the alphabets whose capitals lie in regular runs.
char32_t Folded(char32_t c) {
  const auto pairs = [&](char32_t from, char32_t to, bool evenIsCapital) {
    return c >= from && c <= to && ((c % 2 == 0) == evenIsCapital);
  };
  if (c >= 'A' && c <= 'Z') return c + 0x20;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;  // Latin-1
  if (c == 0x178) return 0xFF;                                // Ÿ
  if (pairs(0x100, 0x12F, true) || pairs(0x132, 0x137, true) || pairs(0x14A, 0x177, true))
    return c + 1;  // Latin Extended-A, capitals on even code points
  if (pairs(0x139, 0x148, false) || pairs(0x179, 0x17E, false)) return c + 1;
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 0x20;  // Greek
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;                // Cyrillic Ѐ to Џ
  if (c >= 0x410 && c <= 0x42F) return c + 0x20;                // Cyrillic А to Я
  if (pairs(0x460, 0x481, true) || pairs(0x48A, 0x4BF, true) || pairs(0x4D0, 0x52F, true))
    return c + 1;
  if (c >= 0x531 && c <= 0x556) return c + 0x30;                // Armenian
  if (pairs(0x1E00, 0x1EFF, true)) return c + 1;                // Latin Extended Additional
  if (c >= 0xFF21 && c <= 0xFF3A) return c + 0x20;              // fullwidth Latin
  return c;
}

}  // namespace

std::string SqliteTableName(const std::string& name) {
  std::string table = WithoutNul(name);
  if (EqualsIgnoringAsciiCase(std::string_view(table).substr(0, 7), "sqlite_")) table = "_" + table;
  return table;
}

std::string SqliteColumnName(const std::string& name) { return WithoutNul(name); }

void MakeColumnNamesSqliteTakes(std::vector<std::string>& names,
                                std::vector<TNameChange>& changes) {
  std::set<std::string> used;
  const auto folded = [](std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), AsciiLower);
    return text;
  };
  for (std::string& name : names) {
    const std::string base = SqliteColumnName(name);
    std::string written = base;
    for (int n = 2; !used.insert(folded(written)).second; ++n)
      written = base + " (" + std::to_string(n) + ")";
    if (written != name) changes.push_back({"column", name, written});
    name = std::move(written);
  }
}

std::string FileNameOf(const std::string& tableName) {
  std::size_t cut = std::min(tableName.size(), kMaxFileStemBytes);
  while (cut > 0 && cut < tableName.size() &&
         (static_cast<unsigned char>(tableName[cut]) & 0xC0) == 0x80)
    --cut;
  std::string name = tableName.substr(0, cut);
  for (char& c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || std::string_view("<>:\"/\\|?*").find(c) != std::string_view::npos)
      c = '_';
  }
  for (auto end = name.rbegin(); end != name.rend() && (*end == '.' || *end == ' '); ++end)
    *end = '_';
  if (name.empty()) name = "_";
  if (IsDeviceName(name)) name = "_" + name;
  return name;
}

std::string FileNameKey(const std::string& name) {
  std::string key;
  key.reserve(name.size());
  for (std::size_t at = 0; at < name.size();) {
    const auto [code, length] = CodePointAt(name, at);
    AppendUtf8(key, Folded(code));
    at += length;
  }
  return key;
}

std::string UniqueFileName(const std::string& stem, std::set<std::string>& used) {
  std::string candidate = stem;
  for (int n = 2; !used.insert(FileNameKey(candidate)).second; ++n)
    candidate = stem + " (" + std::to_string(n) + ")";
  return candidate;
}

}  // namespace quillon::recover
