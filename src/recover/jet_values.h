#pragma once
// Jet values as text: dates, currency, decimals and GUIDs in the forms the outputs give.
// Jet text itself is read by jet/text.h.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace quillon::recover {

// "YYYY-MM-DD HH:MM:SS" for days since 1899-12-30 (the fraction the time of day, also for
// days before: -1.25 is 1899-12-29 06:00:00), to the nearest second; nothing for a value
// outside years 1 to 9999 or not a number.
std::optional<std::string> DateTimeText(double days);

// Ten-thousandths as exact text with four decimals: 123400 → "12.3400".
std::string CurrencyText(std::int64_t tenThousandths);

// A decimal's 17 bytes (sign byte, four 32-bit words most significant first) at the given
// scale, exact: "-1234.50" at scale 2.
std::string DecimalText(std::span<const std::uint8_t, 17> bytes, std::uint8_t scale);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" with the first three groups little-endian.
std::string GuidText(std::span<const std::uint8_t, 16> bytes);

// The shortest text that reads back as the same number.
std::string RealText(double value);
std::string SingleText(float value);
// A single as the double nearest its shortest decimal (3.3261771f gives 3.3261771, not
// 3.3261771202087402): the number the person typed, which every output then writes as
// such. NaN and infinities stay what they are.
double SingleAsDecimal(float value);

// An extended date/time (ACE column type 0x14) from its stored text
// "DDDDDDDDDDDDDDDDDDD:TTTTTTTTTTTTTTTTTTT:P" (days since 0001-01-01, the time of day in
// 100-nanosecond units, the digits of a second kept) as "YYYY-MM-DD HH:MM:SS", with as
// many decimals of the second as the precision keeps where the time has a fraction; NULs or
// spaces padding a fixed-length field after the text are passed over.
// Nothing for text of another form, a time of day of a day or more, or a year past 9999.
std::optional<std::string> ExtendedDateTimeText(std::span<const std::uint8_t> stored);

}  // namespace quillon::recover
