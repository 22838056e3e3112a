#include <unistd.h>

#include <csignal>

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

void UseUtf8Console() {}

void InstallStopRequestHandler() {
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
  // A closed terminal or a dropped ssh session: the scan's file is finished all the same.
  std::signal(SIGHUP, OnStopSignal);
}

bool StopWasRequested() { return stopSignalled != 0; }

bool IsTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) != 0; }

}  // namespace quillon
