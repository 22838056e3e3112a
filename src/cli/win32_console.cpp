#include <windows.h>
#include <shellapi.h>
#include <io.h>

#include <atomic>
#include <cstdarg>
#include <cstdlib>
#include <string>

#include "cli/platform_console.h"
#include "storage/win32_text.h"

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace quillon {
namespace {

std::atomic<bool> stopRequested{false};

// Runs on a thread of its own that the system starts for the console event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      stopRequested = true;
      return TRUE;  // handled: the process goes on and finishes its file
    case CTRL_CLOSE_EVENT:
      // The console window was closed, as a terminal is on POSIX systems. The system ends
      // the process as soon as this returns (and after some 5 seconds in any case), so it
      // does not return: the scan stops at its next read, finishes its file and the program
      // ends on its own, which ends this thread too.
      stopRequested = true;
      ::Sleep(INFINITE);
      return TRUE;
    default:
      return FALSE;
  }
}

HANDLE HandleOf(std::FILE* stream) {
  if (stream == stdout) return ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (stream == stderr) return ::GetStdHandle(STD_ERROR_HANDLE);
  return reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
}

// A console window, not a pipe, a file or the NUL device (which _isatty also calls a
// character device).
bool IsConsole(HANDLE handle, DWORD* mode = nullptr) {
  DWORD ignored = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
         ::GetConsoleMode(handle, mode != nullptr ? mode : &ignored) != 0;
}

// The consoles whose mode PrepareConsole changed, and their modes before.
struct TChangedConsole {
  HANDLE Handle = nullptr;
  DWORD Mode = 0;
};
TChangedConsole changedConsoles[2];

void RestoreConsoles() {
  for (const TChangedConsole& console : changedConsoles) {
    if (console.Handle != nullptr) ::SetConsoleMode(console.Handle, console.Mode);
  }
}

}  // namespace

std::vector<std::string> ArgumentsAsUtf8(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(WideToUtf8(wide[i]));
  ::LocalFree(wide);
  return arguments;
}

void PrepareConsole() {
  const HANDLE handles[2] = {::GetStdHandle(STD_OUTPUT_HANDLE), ::GetStdHandle(STD_ERROR_HANDLE)};
  bool changed = false;
  for (int i = 0; i < 2; ++i) {
    DWORD mode = 0;
    if (!IsConsole(handles[i], &mode) || (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) continue;
    if (i == 1 && handles[1] == changedConsoles[0].Handle) continue;  // one console for both
    // Windows 10 and later take it; older ones refuse, and the line is redrawn with spaces.
    if (::SetConsoleMode(handles[i], mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
      changedConsoles[i] = {handles[i], mode};
      changed = true;
    }
  }
  if (changed) std::atexit(RestoreConsoles);
}

void WriteText(std::FILE* stream, std::string_view text) {
  const HANDLE handle = HandleOf(stream);
  if (!IsConsole(handle)) {
    std::fwrite(text.data(), 1, text.size(), stream);
    return;
  }
  // What the C runtime holds goes first; then the text whole, as UTF-16: written byte by
  // byte in the console's code page, a Chinese character would come out as garbage.
  std::fflush(stream);
  const std::wstring wide = Utf8ToWide(text);
  constexpr std::size_t kPiece = 8192;  // older consoles refuse very long writes
  for (std::size_t at = 0; at < wide.size(); at += kPiece) {
    const DWORD length = static_cast<DWORD>(std::min(kPiece, wide.size() - at));
    DWORD written = 0;
    if (!::WriteConsoleW(handle, wide.data() + at, length, &written, nullptr)) return;
  }
}

void ConsolePrintf(std::FILE* stream, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  va_list again;
  va_copy(again, arguments);
  const int length = std::vsnprintf(nullptr, 0, format, arguments);
  va_end(arguments);
  if (length > 0) {
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, again);
    text.resize(static_cast<std::size_t>(length));
    WriteText(stream, text);
  }
  va_end(again);
}

void InstallStopRequestHandler() { ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

bool StopWasRequested() { return stopRequested; }

bool IsTerminal(std::FILE* stream) { return IsConsole(HandleOf(stream)); }

bool TerminalTakesEscapes(std::FILE* stream) {
  DWORD mode = 0;
  return IsConsole(HandleOf(stream), &mode) && (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

}  // namespace quillon
