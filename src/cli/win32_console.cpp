#include <windows.h>
#include <shellapi.h>
#include <io.h>

#include <atomic>

#include "cli/platform_console.h"
#include "storage/win32_text.h"

namespace quillon {
namespace {

std::atomic<bool> stopRequested{false};

// Runs on a thread of its own that the system starts for the console event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      stopRequested = true;
      return TRUE;  // handled: the process goes on and finishes its file
    default:
      return FALSE;
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

void UseUtf8Console() { ::SetConsoleOutputCP(CP_UTF8); }

void InstallStopRequestHandler() { ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

bool StopWasRequested() { return stopRequested; }

bool IsTerminal(std::FILE* stream) { return ::_isatty(::_fileno(stream)) != 0; }

}  // namespace quillon
