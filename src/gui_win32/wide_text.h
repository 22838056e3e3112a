#pragma once
// The window's two forms of text: UTF-8, which TMain and everything below it speak, and
// UTF-16, which the Windows user-interface calls take. The window converts once, where it
// meets TMain, and calls only the wide ("W") functions, so Chinese shows whatever the
// system's code page.

#include <string>
#include <string_view>

namespace quillon {

// Bytes that are not UTF-8 become U+FFFD rather than vanishing.
std::wstring WideFromUtf8(std::string_view text);
// An unpaired surrogate becomes U+FFFD.
std::string Utf8FromWide(std::wstring_view text);

}  // namespace quillon
