#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>

#include "gui_qt/termination_signals.h"

namespace quillon {
namespace {

// The write end of the pipe from the signal handler to the event loop: writing to it is
// all a handler may safely do.
volatile std::sig_atomic_t writeEnd = -1;

extern "C" void OnTerminationSignal(int) {
  const char byte = 1;
  const int saved = errno;
  if (writeEnd >= 0) {
    // A full pipe already holds a request; nothing is lost when this byte is not written.
    const ssize_t written = ::write(writeEnd, &byte, 1);
    static_cast<void>(written);
  }
  errno = saved;
}

}  // namespace

TTerminationSignals::TTerminationSignals(QObject* parent) : QObject(parent) {
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return;
  ::fcntl(ends[1], F_SETFL, O_NONBLOCK);  // a flood of signals must not block the handler
  readEnd_ = ends[0];
  writeEnd = ends[1];

  auto* notifier = new QSocketNotifier(readEnd_, QSocketNotifier::Read, this);
  connect(notifier, &QSocketNotifier::activated, this, [this] {
    char bytes[64];
    if (::read(readEnd_, bytes, sizeof bytes) > 0) emit Requested();
  });

  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
}

TTerminationSignals::~TTerminationSignals() {
  if (readEnd_ < 0) return;
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
  const int end = writeEnd;
  writeEnd = -1;
  ::close(end);
  ::close(readEnd_);
}

}  // namespace quillon
