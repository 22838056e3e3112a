#pragma once
// The one progress line of a terminal, drawn over itself: at most 79 columns, so that an
// 80-column console (Windows 7's default) does not wrap it; cleared with an escape sequence
// where the terminal takes them, else overwritten with spaces.

#include <cstdio>
#include <string>
#include <string_view>

namespace quillon {

// Where the line goes. The platform's console (platform_console.h) by default; the tests
// put a recorder in its place.
class IConsoleOutput {
 public:
  virtual ~IConsoleOutput() = default;
  virtual void Write(std::FILE* stream, std::string_view text) = 0;
  virtual bool TakesEscapes(std::FILE* stream) = 0;
};

// The platform's console; it holds no state.
IConsoleOutput& PlatformConsoleOutput();

// The columns text takes on a terminal: two for each wide (Chinese, Japanese, Korean,
// full-width) character, one for any other.
int TerminalColumns(std::string_view text);
// The longest start of text, in whole characters, that takes at most columns.
std::string_view FitColumns(std::string_view text, int columns);

class TProgressLine {
 public:
  static constexpr int kMaxColumns = 79;

  TProgressLine(std::FILE* stream, IConsoleOutput& output = PlatformConsoleOutput())
      : stream_(stream), output_(output) {}

  // Replaces the line on screen by line, cut to kMaxColumns.
  void Show(std::string_view line);
  // Removes the line, leaving the cursor at the start of the empty line.
  void Clear();
  bool Shown() const { return shown_; }

 private:
  std::FILE* stream_;
  IConsoleOutput& output_;
  bool shown_ = false;
  int shownColumns_ = 0;
};

}  // namespace quillon
