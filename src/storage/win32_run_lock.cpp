#include <windows.h>

#include "core/errors.h"
#include "storage/full_path.h"
#include "storage/run_lock.h"
#include "storage/win32_error_text.h"
#include "storage/win32_text.h"

namespace quillon {
namespace {

// The lock is the handle itself, opened without sharing: the system closes it with the
// process however that ends, and a second open meanwhile fails with a sharing violation.
class TWin32RunLock : public TRunLock {
 public:
  explicit TWin32RunLock(HANDLE handle) : handle_(handle) {}
  ~TWin32RunLock() override {
    // Nobody else can have the file open: it goes when this handle closes. A run that
    // ended without this (a kill, a power cut) leaves it, and the next run takes it over.
    FILE_DISPOSITION_INFO dispose{};
    dispose.DeleteFile = TRUE;
    ::SetFileInformationByHandle(handle_, FileDispositionInfo, &dispose, sizeof dispose);
    ::CloseHandle(handle_);
  }
  TWin32RunLock(const TWin32RunLock&) = delete;
  TWin32RunLock& operator=(const TWin32RunLock&) = delete;

 private:
  HANDLE handle_;
};

[[noreturn]] void Fail(const std::string& path, const std::string& reason) {
  throw EQuillonError("Cannot lock \"" + AnsiToUtf8(FullPath(path)) + "\". " + reason);
}

}  // namespace

std::unique_ptr<TRunLock> TryPlatformRunLock(const std::string& path) {
  const HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_SHARING_VIOLATION) return nullptr;
    Fail(path, Win32ErrorText(error));
  }
  // Held: an empty file becomes a lock file; one with other contents is not ours.
  char text[kRunLockText.size() + 1];
  DWORD got = 0;
  if (!::ReadFile(handle, text, static_cast<DWORD>(sizeof text), &got, nullptr)) {
    const DWORD error = ::GetLastError();
    ::CloseHandle(handle);
    Fail(path, Win32ErrorText(error));
  }
  if (got == 0) {
    DWORD put = 0;
    if (!::WriteFile(handle, kRunLockText.data(), static_cast<DWORD>(kRunLockText.size()), &put,
                     nullptr) ||
        put != kRunLockText.size()) {
      const DWORD error = ::GetLastError();
      ::CloseHandle(handle);
      Fail(path, Win32ErrorText(error));
    }
  } else if (std::string_view(text, got) != kRunLockText) {
    ::CloseHandle(handle);
    Fail(path, "It exists and is not a lock file of this program; move or delete it.");
  }
  return std::make_unique<TWin32RunLock>(handle);
}

}  // namespace quillon
