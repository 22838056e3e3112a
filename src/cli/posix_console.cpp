#include <unistd.h>

#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "cli/platform_console.h"

namespace quillon {
namespace {

// Written by the signal handler, read between chunks: the one thing a handler may set.
volatile std::sig_atomic_t stopSignalled = 0;

extern "C" void OnStopSignal(int signal) {
  stopSignalled = 1;
  std::signal(signal, OnStopSignal);  // some C libraries reset the handler once it has run
}

}  // namespace

std::vector<std::string> ArgumentsAsUtf8(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

// Terminals here take UTF-8 and escape sequences as they are.
void PrepareConsole() {}

void WriteText(std::FILE* stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream);
}

void ConsolePrintf(std::FILE* stream, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  std::vfprintf(stream, format, arguments);
  va_end(arguments);
}

void InstallStopRequestHandler() {
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
  // A closed terminal or a dropped ssh session: the scan's file is finished all the same.
  std::signal(SIGHUP, OnStopSignal);
}

bool StopWasRequested() { return stopSignalled != 0; }

bool IsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) != 0; }

bool TerminalTakesEscapes(std::FILE* stream) {
  const char* term = std::getenv("TERM");
  return IsTerminal(stream) && !(term != nullptr && std::strcmp(term, "dumb") == 0);
}

}  // namespace quillon
