// Files and devices through the Windows calls, in their ANSI forms. Sharing is the
// system's own: a file open as the source (shared for reading and writing) cannot be
// created over by the exclusive open of the fragment file, and the other way round.

#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "core/errors.h"
#include "storage/file_system.h"
#include "storage/full_path.h"
#include "storage/run_lock.h"
#include "storage/win32_error_text.h"
#include "storage/win32_text.h"

namespace quillon {
namespace {

bool IsDevicePath(const std::string& path) { return path.rfind("\\\\.\\", 0) == 0; }

// The errors that mean the device itself is gone rather than one place on it unreadable.
TReadFailure FailureOf(DWORD error) {
  switch (error) {
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEV_NOT_EXIST:
    case 433:  // ERROR_NO_SUCH_DEVICE, which mingw's headers lack
    case ERROR_NOT_READY:
    case ERROR_DEVICE_REMOVED:
    case ERROR_FILE_INVALID:
    case ERROR_INVALID_HANDLE:
      return TReadFailure::DeviceGone;
    default:
      return TReadFailure::Unreadable;
  }
}

// The first allocated range of the file at or after from, where from < size: a file that
// is not sparse is one range, the whole of it. When nothing is allocated after from, an
// empty range at size; nullopt when the system refuses the query.
std::optional<FILE_ALLOCATED_RANGE_BUFFER> FirstAllocatedRange(HANDLE handle, std::int64_t from,
                                                               std::int64_t size) {
  FILE_ALLOCATED_RANGE_BUFFER query;
  query.FileOffset.QuadPart = from;
  query.Length.QuadPart = size - from;
  FILE_ALLOCATED_RANGE_BUFFER first;
  std::memset(&first, 0, sizeof first);
  DWORD returned = 0;
  const BOOL ok = ::DeviceIoControl(handle, FSCTL_QUERY_ALLOCATED_RANGES, &query, sizeof query,
                                    &first, sizeof first, &returned, nullptr);
  // ERROR_MORE_DATA only says that more ranges follow the first.
  if (!ok && ::GetLastError() != ERROR_MORE_DATA) return std::nullopt;
  if (returned < sizeof first) {
    first.FileOffset.QuadPart = size;
    first.Length.QuadPart = 0;
  }
  return first;
}

class TWin32Stream : public TStream {
 public:
  TWin32Stream(HANDLE handle, std::size_t alignment, bool isDevice)
      : handle_(handle), alignment_(alignment), isDevice_(isDevice) {}
  ~TWin32Stream() override { ::CloseHandle(handle_); }
  TWin32Stream(const TWin32Stream&) = delete;
  TWin32Stream& operator=(const TWin32Stream&) = delete;

  std::size_t Read(void* buffer, std::size_t n) override {
    auto* at = static_cast<char*>(buffer);
    std::size_t total = 0;
    lastFailure_ = TReadFailure::None;
    while (total < n) {
      const DWORD want = static_cast<DWORD>(std::min<std::size_t>(n - total, kMaxTransfer));
      DWORD got = 0;  // the count is what ReadFile delivers; its BOOL only says success
      if (!::ReadFile(handle_, at + total, want, &got, nullptr)) {
        const DWORD error = ::GetLastError();
        lastFailure_ = FailureOf(error);
        lastError_ = Win32ErrorText(error);
        break;
      }
      if (got == 0) break;  // the end
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
      if (!::WriteFile(handle_, at + total, want, &put, nullptr) || put == 0) {
        lastError_ = Win32ErrorText(put == 0 && ::GetLastError() == ERROR_SUCCESS
                                        ? ERROR_DISK_FULL
                                        : ::GetLastError());
        break;
      }
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

  TReadFailure LastReadFailure() const override { return lastFailure_; }

  std::size_t ReadAlignment() const override { return alignment_; }

  std::int64_t NextDataOffset(std::int64_t from) override {
    if (isDevice_) return from;
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(handle_, &size) || from >= size.QuadPart) return from;
    const auto first = FirstAllocatedRange(handle_, from, size.QuadPart);
    if (!first) return from;
    return std::max<std::int64_t>(from, first->FileOffset.QuadPart);
  }

  std::int64_t NextHoleOffset(std::int64_t from) override {
    if (isDevice_) return -1;
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(handle_, &size) || from >= size.QuadPart) return -1;
    // A hole begins where the first allocated range ends, or at from when it begins later.
    const auto first = FirstAllocatedRange(handle_, from, size.QuadPart);
    if (!first) return -1;
    if (first->FileOffset.QuadPart > from) return from;
    return std::min<std::int64_t>(size.QuadPart,
                                  first->FileOffset.QuadPart + first->Length.QuadPart);
  }

  bool Flush() override {
    if (::FlushFileBuffers(handle_)) return true;
    // A console or a pipe has no buffers of the file system to flush.
    const DWORD error = ::GetLastError();
    if (error == ERROR_INVALID_FUNCTION || error == ERROR_INVALID_HANDLE) return true;
    lastError_ = Win32ErrorText(error);
    return false;
  }

  std::string LastErrorText() const override { return lastError_; }

 private:
  // One call moves at most this much, well inside a DWORD and sector aligned.
  static constexpr std::size_t kMaxTransfer = 1u << 30;

  HANDLE handle_;
  std::size_t alignment_;
  bool isDevice_;
  TReadFailure lastFailure_ = TReadFailure::None;
  std::string lastError_;
};

// An ANSI path as the wide calls take it.
std::wstring WideOfAnsi(const std::string& ansi) {
  if (ansi.empty()) return {};
  const int n = ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()),
                                      nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(), n);
  return wide;
}

// Raw disk and volume handles read whole sectors only: the size the device reports, or
// the classic 512 bytes when it does not say.
std::size_t SectorSizeOf(HANDLE device) {
  DISK_GEOMETRY geometry;
  std::memset(&geometry, 0, sizeof geometry);
  DWORD returned = 0;
  if (::DeviceIoControl(device, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry,
                        sizeof geometry, &returned, nullptr)) {
    const DWORD size = geometry.BytesPerSector;
    // A power of two up to 64 KiB; anything else is not a sector size.
    if (size >= 512 && size <= 65536 && (size & (size - 1)) == 0) return size;
  }
  return 512;
}

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
      case TOpenMode::CreateNew:
        access |= GENERIC_WRITE;
        share = 0;
        disposition = CREATE_NEW;
        break;
    }
    const bool creating = mode == TOpenMode::CreateExclusive || mode == TOpenMode::CreateNew;
    const bool isDevice = IsDevicePath(path);
    const HANDLE handle = ::CreateFileA(path.c_str(), access, share, nullptr, disposition,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      const std::string reason = Win32ErrorText(::GetLastError());
      // A device path is already complete; made absolute it would name a file.
      const std::string full = ToDisplayText(isDevice ? path : FullPath(path));
      throw EQuillonError(creating ? CreateErrorText(full, reason) : OpenErrorText(full, reason));
    }
    const std::size_t alignment = isDevice ? SectorSizeOf(handle) : 1;
    return std::make_unique<TWin32Stream>(handle, alignment, isDevice);
  }

  TPathFacts Facts(const std::string& path) override {
    TPathFacts facts;
    if (path.empty()) return facts;
    if (IsDevicePath(path)) {
      // A drive or a volume; it need not be opened to know what it is.
      facts.Kind = TPathKind::Device;
      return facts;
    }
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return facts;
    // No access asked: the file's identity can be read also while it is open unshared.
    const HANDLE handle = ::CreateFileA(path.c_str(), 0,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                        nullptr);
    facts.Kind = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? TPathKind::Directory
                                                               : TPathKind::File;
    if (handle == INVALID_HANDLE_VALUE) return facts;
    const DWORD type = ::GetFileType(handle);
    if (type == FILE_TYPE_CHAR) facts.Kind = TPathKind::CharacterDevice;
    if (type == FILE_TYPE_PIPE) facts.Kind = TPathKind::Other;
    BY_HANDLE_FILE_INFORMATION info;
    std::memset(&info, 0, sizeof info);
    if (::GetFileInformationByHandle(handle, &info)) {
      facts.Identity = {info.dwVolumeSerialNumber,
                        (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) |
                            info.nFileIndexLow};
      if (facts.Kind == TPathKind::File) {
        facts.Length = static_cast<std::int64_t>(
            (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
      }
    }
    ::CloseHandle(handle);
    return facts;
  }

  std::string FinalPath(const std::string& path) override {
    return path.empty() || IsDevicePath(path) ? path : FullPath(path);
  }

  void Replace(const std::string& from, const std::string& to) override {
    if (!::MoveFileExW(WideOfAnsi(from).c_str(), WideOfAnsi(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      const std::string reason = Win32ErrorText(::GetLastError());
      throw EQuillonError("Cannot move \"" + ToDisplayText(from) + "\" to \"" +
                          ToDisplayText(to) + "\". " + reason);
    }
  }

  bool Remove(const std::string& path) override { return ::DeleteFileA(path.c_str()) != 0; }

  void CreateFolder(const std::string& path) override {
    if (::CreateDirectoryA(path.c_str(), nullptr)) return;
    const DWORD error = ::GetLastError();
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (error == ERROR_ALREADY_EXISTS && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      return;
    }
    throw EQuillonError(CreateErrorText(ToDisplayText(FullPath(path)), Win32ErrorText(error)));
  }

  std::optional<std::vector<TFolderEntry>> ListFolder(const std::string& path) override {
    WIN32_FIND_DATAA found;
    std::memset(&found, 0, sizeof found);
    const HANDLE search = ::FindFirstFileA((path + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return std::nullopt;
    std::vector<TFolderEntry> entries;
    do {
      const std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      TFolderEntry entry;
      entry.Name = name;
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        // A symbolic link or a junction: never followed.
        entry.Kind = TPathKind::Other;
        entry.IsLink = true;
      } else {
        const TPathFacts facts = Facts(path + "\\" + name);
        entry.Kind = facts.Kind;
        entry.Identity = facts.Identity;
      }
      entries.push_back(std::move(entry));
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
    return entries;
  }

  void CreateNewFolder(const std::string& path) override {
    if (::CreateDirectoryA(path.c_str(), nullptr)) return;
    throw EQuillonError(
        CreateErrorText(ToDisplayText(FullPath(path)), Win32ErrorText(::GetLastError())));
  }

  void RemoveBelow(const std::string& base, const std::string& relative, bool folder) override {
    std::string path = base;
    std::size_t from = 0;
    const auto fail = [&](const std::string& reason) {
      throw EQuillonError("Cannot remove \"" + ToDisplayText(base + "\\" + relative) + "\". " +
                          reason);
    };
    // Windows follows a reparse point along a path by itself: each folder is looked at
    // before the path goes through it.
    for (std::size_t slash; (slash = relative.find('/', from)) != std::string::npos;
         from = slash + 1) {
      path += "\\" + relative.substr(from, slash - from);
      const DWORD attributes = ::GetFileAttributesA(path.c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES) return;  // gone already
      if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
          (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        fail("\"" + ToDisplayText(path) + "\" is a link or not a folder, and is never followed.");
      }
    }
    path += "\\" + relative.substr(from);
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    // A link at the end goes itself: DeleteFile and RemoveDirectory do not follow it.
    const BOOL removed = folder ? ::RemoveDirectoryA(path.c_str()) : ::DeleteFileA(path.c_str());
    if (!removed) {
      const DWORD error = ::GetLastError();
      if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
        fail(Win32ErrorText(error));
      }
    }
  }

  void MoveNew(const std::string& from, const std::string& to) override {
    // Without MOVEFILE_REPLACE_EXISTING the move fails where anything is at to.
    if (!::MoveFileExW(WideOfAnsi(from).c_str(), WideOfAnsi(to).c_str(),
                       MOVEFILE_WRITE_THROUGH)) {
      const std::string reason = Win32ErrorText(::GetLastError());
      throw EQuillonError("Cannot move \"" + ToDisplayText(from) + "\" to \"" +
                          ToDisplayText(to) + "\". " + reason);
    }
  }

  std::unique_ptr<TRunLock> TryLock(const std::string& path) override {
    return TryPlatformRunLock(path);
  }

  std::string ToDisplayText(const std::string& systemText) override {
    return AnsiToUtf8(systemText);
  }

  std::optional<std::string> FromDisplayText(const std::string& text) override {
    return Utf8ToAnsi(text);
  }
};

}  // namespace

std::unique_ptr<IFileSystem> MakePlatformFileSystem() {
  return std::make_unique<TWin32FileSystem>();
}

}  // namespace quillon
