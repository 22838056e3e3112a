#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include "storage/standard_streams.h"

namespace quillon {

bool OpenClosedStandardStreams() {
  // The C library's descriptors 0 to 2 are what stdin, stdout and stderr write through; one
  // the program was started without is not open (a handle that was closed, or none at all),
  // and the next _open or fopen would take its number.
  const DWORD handles[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  for (int stream = 0; stream <= 2; ++stream) {
    const intptr_t handle = ::_get_osfhandle(stream);
    if (handle != -1 && handle != -2) continue;
    const int null = ::_open("NUL", stream == 0 ? _O_RDONLY : _O_WRONLY);
    if (null < 0) return false;
    if (null != stream) {
      const bool moved = ::_dup2(null, stream) == 0;
      ::_close(null);
      if (!moved) return false;
    }
    // Whoever asks the system for the standard handle gets the null device too, never a
    // file that later took the closed handle's value.
    ::SetStdHandle(handles[stream], reinterpret_cast<HANDLE>(::_get_osfhandle(stream)));
  }
  return true;
}

// A write to a pipe without a reader fails with an error on Windows; no signal ends the
// program.
void KeepRunningOnBrokenPipes() {}

}  // namespace quillon
