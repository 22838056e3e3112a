#include "recover/jet_values.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "core/little_endian.h"

namespace quillon::recover {
namespace {

// Civil date from days since 1970-01-01 (Howard Hinnant's algorithm).
void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
}

}  // namespace

std::optional<std::string> DateTimeText(double days) {
  if (!std::isfinite(days) || days < -657434.0 || days > 2958466.0) return std::nullopt;
  double whole = std::trunc(days);
  double seconds = std::round(std::fabs(days - whole) * 86400.0);
  if (seconds >= 86400.0) {
    seconds -= 86400.0;
    whole += days < 0 ? -1 : 1;
  }
  // Day 0 is 1899-12-30, which is 25569 days before 1970-01-01.
  std::int64_t year;
  unsigned month, day;
  CivilFromDays(static_cast<std::int64_t>(whole) - 25569, year, month, day);
  if (year < 1 || year > 9999) return std::nullopt;
  const int s = static_cast<int>(seconds);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d", static_cast<int>(year), month,
                day, s / 3600, (s / 60) % 60, s % 60);
  return std::string(text);
}

std::string CurrencyText(std::int64_t tenThousandths) {
  const bool negative = tenThousandths < 0;
  // Works on the magnitude as unsigned so that the most negative value has one.
  const std::uint64_t magnitude =
      negative ? ~static_cast<std::uint64_t>(tenThousandths) + 1 : tenThousandths;
  char text[40];
  std::snprintf(text, sizeof text, "%s%llu.%04llu", negative ? "-" : "",
                static_cast<unsigned long long>(magnitude / 10000),
                static_cast<unsigned long long>(magnitude % 10000));
  return text;
}

std::string DecimalText(std::span<const std::uint8_t, 17> bytes, std::uint8_t scale) {
  // The 128-bit magnitude as four 32-bit words, most significant first, divided by ten
  // again and again for its digits.
  std::uint32_t words[4];
  for (int word = 0; word < 4; ++word) {
    const std::size_t at = 1 + 4 * word;
    words[word] = static_cast<std::uint32_t>(LittleEndianAt<4>(bytes.data() + at));
  }
  std::string digits;
  bool nonzero = true;
  while (nonzero) {
    std::uint64_t remainder = 0;
    nonzero = false;
    for (std::uint32_t& word : words) {
      const std::uint64_t current = (remainder << 32) | word;
      word = static_cast<std::uint32_t>(current / 10);
      remainder = current % 10;
      nonzero |= word != 0;
    }
    digits.insert(digits.begin(), static_cast<char>('0' + remainder));
  }
  if (scale > 38) scale = 38;
  while (digits.size() <= scale) digits.insert(digits.begin(), '0');
  if (scale > 0) digits.insert(digits.end() - scale, '.');
  const bool zero = digits.find_first_not_of("0.") == std::string::npos;
  if ((bytes[0] & 0x80) != 0 && !zero) digits.insert(digits.begin(), '-');
  return digits;
}

std::string GuidText(std::span<const std::uint8_t, 16> b) {
  char text[40];
  std::snprintf(text, sizeof text,
                "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[3],
                b[2], b[1], b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13],
                b[14], b[15]);
  return text;
}

std::string RealText(double value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

std::string SingleText(float value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

double SingleAsDecimal(float value) {
  if (!std::isfinite(value)) return value;
  const std::string text = SingleText(value);
  double decimal = value;
  std::from_chars(text.data(), text.data() + text.size(), decimal);
  return decimal;
}

namespace {

// The digits of text as a number; nothing for an empty text, another character, or more
// than 19 digits.
std::optional<std::uint64_t> DigitsValue(std::string_view text) {
  if (text.empty() || text.size() > 19) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value;
}

}  // namespace

std::optional<std::string> ExtendedDateTimeText(std::span<const std::uint8_t> stored) {
  std::string_view text(reinterpret_cast<const char*>(stored.data()), stored.size());
  // A fixed-length field may be padded after the text.
  while (!text.empty() && (text.back() == '\0' || text.back() == ' ')) text.remove_suffix(1);
  const std::size_t first = text.find(':');
  if (first == std::string_view::npos) return std::nullopt;
  const std::size_t second = text.find(':', first + 1);
  if (second == std::string_view::npos) return std::nullopt;
  const std::optional<std::uint64_t> days = DigitsValue(text.substr(0, first));
  const std::optional<std::uint64_t> ticks =
      DigitsValue(text.substr(first + 1, second - first - 1));
  const std::string_view precisionText = text.substr(second + 1);
  if (!days || !ticks || precisionText.size() != 1 || precisionText[0] < '0' ||
      precisionText[0] > '7') {
    return std::nullopt;
  }
  constexpr std::uint64_t kTicksPerSecond = 10'000'000;
  constexpr std::uint64_t kTicksPerDay = 86'400 * kTicksPerSecond;
  // 0001-01-01 is 719162 days before 1970-01-01; 9999-12-31 is day 3652058.
  if (*ticks >= kTicksPerDay || *days > 3'652'058) return std::nullopt;
  std::int64_t year;
  unsigned month, day;
  CivilFromDays(static_cast<std::int64_t>(*days) - 719'162, year, month, day);
  const std::uint64_t seconds = *ticks / kTicksPerSecond;
  char out[64];
  int length = std::snprintf(out, sizeof out, "%04d-%02u-%02u %02u:%02u:%02u",
                             static_cast<int>(year), month, day,
                             static_cast<unsigned>(seconds / 3600),
                             static_cast<unsigned>(seconds / 60 % 60),
                             static_cast<unsigned>(seconds % 60));
  const unsigned precision = static_cast<unsigned>(precisionText[0] - '0');
  const std::uint64_t fraction = *ticks % kTicksPerSecond;
  if (precision > 0 && fraction != 0) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%07u", static_cast<unsigned>(fraction));
    length += std::snprintf(out + length, sizeof out - static_cast<std::size_t>(length),
                            ".%.*s", static_cast<int>(precision), digits);
  }
  return std::string(out, static_cast<std::size_t>(length));
}

}  // namespace quillon::recover
