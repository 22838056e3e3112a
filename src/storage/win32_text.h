#pragma once
// Conversions between the system's ANSI code page (what the ANSI calls take and give),
// UTF-16 (the wide calls) and UTF-8 (what the program shows).

#include <optional>
#include <string>

namespace quillon {

std::string AnsiToUtf8(const std::string& ansi);
// Nothing when a character has no place in the ANSI code page: the system would put '?'
// or a look-alike in its place and so name another file.
std::optional<std::string> Utf8ToAnsi(const std::string& utf8);

std::string WideToUtf8(const std::wstring& wide);
std::wstring Utf8ToWide(const std::string& utf8);

}  // namespace quillon
