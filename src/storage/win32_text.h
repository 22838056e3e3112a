#pragma once
// Conversions between the system's ANSI code page (what the ANSI calls take and give),
// UTF-16 (the wide calls) and UTF-8 (what the program shows).

#include <optional>
#include <string>
#include <string_view>

namespace quillon {

// The ANSI code page: 936 on a Simplified Chinese system, 1252 on a Western one, 65001 where
// Windows is set to use UTF-8 for every language.
unsigned SystemCodePage();

std::string AnsiToUtf8(const std::string& ansi);
// Nothing when a character has no place in the ANSI code page: the system would put '?'
// or a look-alike in its place and so name another file.
std::optional<std::string> Utf8ToAnsi(const std::string& utf8);

// The same for a given code page (AnsiToUtf8 and Utf8ToAnsi pass SystemCodePage()).
std::string CodePageToUtf8(unsigned codePage, std::string_view text);
std::optional<std::string> Utf8ToCodePage(unsigned codePage, std::string_view utf8);

std::string WideToUtf8(std::wstring_view wide);
std::wstring Utf8ToWide(std::string_view utf8);

}  // namespace quillon
