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
