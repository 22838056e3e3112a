#include "storage/win32_text.h"

#include <windows.h>

namespace quillon {
namespace {

std::wstring ToWide(unsigned codePage, const std::string& text) {
  if (text.empty()) return {};
  const int length =
      ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                        length);
  return wide;
}

}  // namespace

std::string WideToUtf8(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(),
                        length, nullptr, nullptr);
  return text;
}

std::wstring Utf8ToWide(const std::string& utf8) { return ToWide(CP_UTF8, utf8); }

std::string AnsiToUtf8(const std::string& ansi) { return WideToUtf8(ToWide(CP_ACP, ansi)); }

std::optional<std::string> Utf8ToAnsi(const std::string& utf8) {
  const std::wstring wide = Utf8ToWide(utf8);
  if (wide.empty()) return std::string();
  BOOL usedDefault = FALSE;
  // No best fit: "é" must not quietly become "e" in a code page without it.
  const int length =
      ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                            nullptr, 0, nullptr, &usedDefault);
  if (length == 0 || usedDefault) return std::nullopt;
  std::string ansi(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                        ansi.data(), length, nullptr, &usedDefault);
  // The way back must give the same characters, or the path names another file.
  if (usedDefault || ToWide(CP_ACP, ansi) != wide) return std::nullopt;
  return ansi;
}

}  // namespace quillon
