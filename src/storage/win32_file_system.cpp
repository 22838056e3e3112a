// Files and devices through the Windows calls, in their ANSI forms. Sharing is the
// system's own: a file open as the source (shared for reading and writing) cannot be
// created over by the exclusive open of the fragment file, and the other way round.

#include <windows.h>

#include <algorithm>

#include "core/errors.h"
#include "storage/file_system.h"
#include "storage/full_path.h"
#include "storage/win32_error_text.h"

namespace quillon {
namespace {

class TWin32Stream : public TStream {
 public:
  explicit TWin32Stream(HANDLE handle) : handle_(handle) {}
  ~TWin32Stream() override { ::CloseHandle(handle_); }
  TWin32Stream(const TWin32Stream&) = delete;
  TWin32Stream& operator=(const TWin32Stream&) = delete;

  std::size_t Read(void* buffer, std::size_t n) override {
    auto* at = static_cast<char*>(buffer);
    std::size_t total = 0;
    while (total < n) {
      const DWORD want = static_cast<DWORD>(std::min<std::size_t>(n - total, kMaxTransfer));
      DWORD got = 0;  // the count is what ReadFile delivers; its BOOL only says success
      if (!::ReadFile(handle_, at + total, want, &got, nullptr) || got == 0) break;
      total += got;
    }
    return total;
  }

  std::size_t Write(const void* buffer, std::size_t n) override {
    const auto* at = static_cast<const char*>(buffer);
    std::size_t total = 0;
    while (total < n) {
      const DWORD want = static_cast<DWORD>(std::min<std::size_t>(n - total, kMaxTransfer));
      DWORD put = 0;
      if (!::WriteFile(handle_, at + total, want, &put, nullptr) || put == 0) break;
      total += put;
    }
    return total;
  }

  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
    const DWORD method = origin == TSeekOrigin::Begin     ? FILE_BEGIN
                         : origin == TSeekOrigin::Current ? FILE_CURRENT
                                                          : FILE_END;
    LARGE_INTEGER distance;
    distance.QuadPart = offset;  // the whole 64 bits; no high and low halves to combine
    LARGE_INTEGER position;
    position.QuadPart = 0;
    if (!::SetFilePointerEx(handle_, distance, &position, method)) return -1;
    return position.QuadPart;
  }

 private:
  // One call moves at most this much, well inside a DWORD and sector aligned.
  static constexpr std::size_t kMaxTransfer = 1u << 30;

  HANDLE handle_;
};

bool IsDevicePath(const std::string& path) { return path.rfind("\\\\.\\", 0) == 0; }

class TWin32FileSystem : public IFileSystem {
 public:
  std::unique_ptr<TStream> Open(const std::string& path, TOpenMode mode) override {
    DWORD access = GENERIC_READ;
    DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    DWORD disposition = OPEN_EXISTING;
    switch (mode) {
      case TOpenMode::ReadShared: break;
      case TOpenMode::ReadWriteShared: access |= GENERIC_WRITE; break;
      case TOpenMode::CreateExclusive:
        access |= GENERIC_WRITE;
        share = 0;
        disposition = CREATE_ALWAYS;
        break;
    }
    const HANDLE handle = ::CreateFileA(path.c_str(), access, share, nullptr, disposition,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      const std::string reason = Win32ErrorText(::GetLastError());
      // A device path is already complete; made absolute it would name a file.
      const std::string full = IsDevicePath(path) ? path : FullPath(path);
      throw EQuillonError(mode == TOpenMode::CreateExclusive ? CreateErrorText(full, reason)
                                                             : OpenErrorText(full, reason));
    }
    return std::make_unique<TWin32Stream>(handle);
  }
};

}  // namespace

std::unique_ptr<IFileSystem> MakePlatformFileSystem() {
  return std::make_unique<TWin32FileSystem>();
}

}  // namespace quillon
