#include "gui_win32/wide_text.h"

#include "storage/win32_text.h"

namespace quillon {

// One conversion for the whole program: the storage layer's.
std::wstring WideFromUtf8(std::string_view text) { return Utf8ToWide(text); }

std::string Utf8FromWide(std::wstring_view text) { return WideToUtf8(text); }

}  // namespace quillon
