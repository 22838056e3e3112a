#include "cli/progress_line.h"

#include <algorithm>
#include <cstdint>

#include "cli/platform_console.h"
#include "core/utf8_text.h"

namespace quillon {
namespace {

class TPlatformConsoleOutput : public IConsoleOutput {
 public:
  void Write(std::FILE* stream, std::string_view text) override {
    WriteText(stream, text);
    std::fflush(stream);
  }
  bool TakesEscapes(std::FILE* stream) override { return TerminalTakesEscapes(stream); }
};

// The code point starting at text[at] and its length in bytes. A bad byte (core/utf8_text.h)
// counts alone, as the one column of the U+FFFD a terminal shows for it.
std::uint32_t NextCodePoint(std::string_view text, std::size_t at, std::size_t* length) {
  const std::size_t size = Utf8SequenceLength(text, at);
  *length = size == 0 ? 1 : size;
  return size == 0 ? 0xFFFD : Utf8CodePoint(text, at, size);
}

bool IsWide(std::uint32_t code) {
  return (code >= 0x1100 && code <= 0x115F) || (code >= 0x2E80 && code <= 0xA4CF) ||
         (code >= 0xAC00 && code <= 0xD7A3) || (code >= 0xF900 && code <= 0xFAFF) ||
         (code >= 0xFE30 && code <= 0xFE4F) || (code >= 0xFF00 && code <= 0xFF60) ||
         (code >= 0xFFE0 && code <= 0xFFE6) || (code >= 0x20000 && code <= 0x3FFFD);
}

}  // namespace

IConsoleOutput& PlatformConsoleOutput() {
  static TPlatformConsoleOutput output;
  return output;
}

int TerminalColumns(std::string_view text) {
  int columns = 0;
  std::size_t length = 0;
  for (std::size_t at = 0; at < text.size(); at += length) {
    columns += IsWide(NextCodePoint(text, at, &length)) ? 2 : 1;
  }
  return columns;
}

std::string_view FitColumns(std::string_view text, int columns) {
  int used = 0;
  std::size_t length = 0;
  for (std::size_t at = 0; at < text.size(); at += length) {
    const int width = IsWide(NextCodePoint(text, at, &length)) ? 2 : 1;
    if (used + width > columns) return text.substr(0, at);
    used += width;
  }
  return text;
}

void TProgressLine::Show(std::string_view line) {
  // A path in the line may hold bytes of another code page: the terminal gets U+FFFD.
  const std::string repaired = RepairedUtf8(line);
  const std::string_view fitted = FitColumns(repaired, kMaxColumns);
  const int columns = TerminalColumns(fitted);
  std::string text = "\r" + std::string(fitted);
  if (output_.TakesEscapes(stream_)) {
    text += "\033[K";
  } else if (shownColumns_ > columns) {
    // What the longer line before left at the end.
    text += std::string(static_cast<std::size_t>(shownColumns_ - columns), ' ');
  }
  output_.Write(stream_, text);
  shown_ = true;
  shownColumns_ = columns;
}

void TProgressLine::Clear() {
  if (!shown_) return;
  if (output_.TakesEscapes(stream_)) {
    output_.Write(stream_, "\r\033[K");
  } else {
    output_.Write(stream_, "\r" + std::string(static_cast<std::size_t>(shownColumns_), ' ') + "\r");
  }
  shown_ = false;
  shownColumns_ = 0;
}

}  // namespace quillon
