#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "storage/standard_streams.h"

namespace quillon {

bool OpenClosedStandardStreams() {
  for (int stream = 0; stream <= 2; ++stream) {
    if (::fcntl(stream, F_GETFD) != -1 || errno != EBADF) continue;
    // The lower streams are open by now, so this takes the closed one's number.
    const int null = ::open("/dev/null", stream == 0 ? O_RDONLY : O_WRONLY);
    if (null < 0) return false;
    if (null != stream) {
      const bool moved = ::dup2(null, stream) == stream;
      ::close(null);
      if (!moved) return false;
    }
  }
  return true;
}

void KeepRunningOnBrokenPipes() { std::signal(SIGPIPE, SIG_IGN); }

}  // namespace quillon
