#include "storage/win32_text.h"

#include <windows.h>

namespace quillon {
namespace {

std::wstring ToWide(unsigned codePage, std::string_view text) {
  if (text.empty()) return {};
  const int length =
      ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                        length);
  return wide;
}

// Code pages for which WideCharToMultiByte fails when given any flag but
// WC_ERR_INVALID_CHARS, or a default-character pointer: UTF-7, UTF-8 and the stateful or
// GB18030 ones. Windows documents the list; Wine does not enforce it.
bool TakesNoConversionFlags(unsigned codePage) {
  switch (codePage) {
    case 42:
    case 50220:
    case 50221:
    case 50222:
    case 50225:
    case 50227:
    case 50229:
    case 52936:
    case 54936:
    case CP_UTF7:
    case CP_UTF8:
      return true;
    default:
      return codePage >= 57002 && codePage <= 57011;
  }
}

// Returns the bytes of wide in codePage; nothing when a character has no place in it.
std::optional<std::string> FromWide(unsigned codePage, const std::wstring& wide) {
  const int size = static_cast<int>(wide.size());
  if (TakesNoConversionFlags(codePage)) {
    // UTF-8 holds every character; an unpaired surrogate is refused. The way back below
    // catches what the others lose.
    const DWORD flags = codePage == CP_UTF8 ? WC_ERR_INVALID_CHARS : 0;
    const int length =
        ::WideCharToMultiByte(codePage, flags, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return std::nullopt;
    std::string text(static_cast<std::size_t>(length), '\0');
    if (::WideCharToMultiByte(codePage, flags, wide.data(), size, text.data(), length, nullptr,
                              nullptr) != length) {
      return std::nullopt;
    }
    return text;
  }
  BOOL usedDefault = FALSE;
  // No best fit: "é" must not quietly become "e" in a code page without it.
  const int length = ::WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.data(), size,
                                           nullptr, 0, nullptr, &usedDefault);
  if (length <= 0 || usedDefault) return std::nullopt;
  std::string text(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide.data(), size, text.data(), length,
                        nullptr, &usedDefault);
  if (usedDefault) return std::nullopt;
  return text;
}

}  // namespace

unsigned SystemCodePage() { return ::GetACP(); }

std::string WideToUtf8(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string text(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(),
                        length, nullptr, nullptr);
  return text;
}

std::wstring Utf8ToWide(std::string_view utf8) { return ToWide(CP_UTF8, utf8); }

std::string CodePageToUtf8(unsigned codePage, std::string_view text) {
  return WideToUtf8(ToWide(codePage, text));
}

std::optional<std::string> Utf8ToCodePage(unsigned codePage, std::string_view utf8) {
  if (utf8.empty()) return std::string();
  const std::wstring wide = Utf8ToWide(utf8);
  // Bytes that are not UTF-8 name nothing the user typed.
  if (wide.empty()) return std::nullopt;
  std::optional<std::string> text = FromWide(codePage, wide);
  // The way back must give the same characters, or the path names another file.
  if (!text || ToWide(codePage, *text) != wide) return std::nullopt;
  return text;
}

std::string AnsiToUtf8(const std::string& ansi) { return CodePageToUtf8(SystemCodePage(), ansi); }

std::optional<std::string> Utf8ToAnsi(const std::string& utf8) {
  return Utf8ToCodePage(SystemCodePage(), utf8);
}

}  // namespace quillon
