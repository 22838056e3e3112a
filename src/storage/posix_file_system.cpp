#include "storage/posix_file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/errors.h"
#include "storage/file_system.h"
#include "storage/full_path.h"
#include "storage/linux_block_layout.h"
#include "storage/linux_device_queries.h"

namespace quillon {

class TPosixFileSystem::TOpenTable {
 public:
  // Windows sharing as this program uses it: every mode but CreateExclusive shares
  // reading and writing, so two opens conflict exactly when one of them is exclusive.
  bool Conflicts(const TFileIdentity& identity, TOpenMode mode) const {
    std::lock_guard lock(mutex_);
    for (const auto& [id, entry] : entries_) {
      if (!SameFile(entry.Identity, identity)) continue;
      if (entry.Mode == TOpenMode::CreateExclusive || mode == TOpenMode::CreateExclusive) {
        return true;
      }
    }
    return false;
  }

  std::uint64_t Add(const TFileIdentity& identity, TOpenMode mode) {
    std::lock_guard lock(mutex_);
    entries_.emplace_back(++lastId_, TEntry{identity, mode});
    return lastId_;
  }

  void Remove(std::uint64_t id) {
    std::lock_guard lock(mutex_);
    std::erase_if(entries_, [id](const auto& item) { return item.first == id; });
  }

 private:
  struct TEntry {
    TFileIdentity Identity;
    TOpenMode Mode;
  };

  static bool SameFile(const TFileIdentity& a, const TFileIdentity& b) {
    if (a.SpecialDevice != 0 || b.SpecialDevice != 0) return a.SpecialDevice == b.SpecialDevice;
    return a.Device == b.Device && a.Inode == b.Inode;
  }

  mutable std::mutex mutex_;
  std::uint64_t lastId_ = 0;
  std::vector<std::pair<std::uint64_t, TEntry>> entries_;
};

namespace {

constexpr const char* kOpenAsSourceText =
    "The file is open as the source of the scan; the output must be another file";
constexpr const char* kOpenAsOutputText = "The file is open as the fragment file being written";

class TPosixStream : public TStream {
 public:
  TPosixStream(int fd, std::shared_ptr<TPosixFileSystem::TOpenTable> table, std::uint64_t id)
      : fd_(fd), table_(std::move(table)), id_(id) {}

  ~TPosixStream() override {
    table_->Remove(id_);
    ::close(fd_);
  }

  std::size_t Read(void* buffer, std::size_t n) override {
    auto* at = static_cast<char*>(buffer);
    std::size_t total = 0;
    lastFailure_ = TReadFailure::None;
    while (total < n) {
      const ssize_t got = ::read(fd_, at + total, n - total);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) lastFailure_ = FailureOf(errno);
      if (got <= 0) break;  // the end, or a failure: what was delivered so far counts
      total += static_cast<std::size_t>(got);
    }
    return total;
  }

  TReadFailure LastReadFailure() const override { return lastFailure_; }

  std::int64_t NextDataOffset(std::int64_t from) override {
    const off_t data = ::lseek(fd_, static_cast<off_t>(from), SEEK_DATA);
    if (data >= 0) return static_cast<std::int64_t>(data);
    // ENXIO: only a hole lies beyond from. Anything else (a device, a file system that
    // cannot tell): every byte counts as data.
    if (errno == ENXIO) {
      const off_t end = ::lseek(fd_, 0, SEEK_END);
      if (end >= from) return static_cast<std::int64_t>(end);
    }
    return from;
  }

  bool Flush() override {
    if (::fsync(fd_) == 0) return true;
    // A pipe or a character device has nothing to bring to stable storage.
    return errno == EINVAL || errno == EROFS;
  }

  std::size_t Write(const void* buffer, std::size_t n) override {
    const auto* at = static_cast<const char*>(buffer);
    std::size_t total = 0;
    while (total < n) {
      const ssize_t put = ::write(fd_, at + total, n - total);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) break;
      total += static_cast<std::size_t>(put);
    }
    return total;
  }

  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
    const int whence = origin == TSeekOrigin::Begin     ? SEEK_SET
                       : origin == TSeekOrigin::Current ? SEEK_CUR
                                                        : SEEK_END;
    const off_t result = ::lseek(fd_, static_cast<off_t>(offset), whence);
    return result < 0 ? -1 : static_cast<std::int64_t>(result);
  }

 private:
  // The errors that mean the device itself is gone (a disk pulled out, a network or FUSE
  // file system that went away) rather than one place on it that cannot be read.
  static TReadFailure FailureOf(int error) {
    switch (error) {
      case ENODEV:
      case ENXIO:
      case ENOMEDIUM:
      case ENOTCONN:
      case ESHUTDOWN:
      case ESTALE:
        return TReadFailure::DeviceGone;
      default:
        return TReadFailure::Unreadable;
    }
  }

  int fd_;
  std::shared_ptr<TPosixFileSystem::TOpenTable> table_;
  std::uint64_t id_;
  TReadFailure lastFailure_ = TReadFailure::None;
};

TPosixFileSystem::TFileIdentity IdentityOf(const struct stat& st) {
  TPosixFileSystem::TFileIdentity id;
  id.Device = st.st_dev;
  id.Inode = st.st_ino;
  if (S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode)) id.SpecialDevice = st.st_rdev;
  return id;
}

[[noreturn]] void Fail(TOpenMode mode, const std::string& path, const std::string& reason) {
  // A device path is already complete; made absolute it would name a file in the cwd.
  const std::string full = IsDevicePathForm(path) ? path : FullPath(path);
  throw EQuillonError(mode == TOpenMode::CreateExclusive ? CreateErrorText(full, reason)
                                                         : OpenErrorText(full, reason));
}

}  // namespace

TPosixFileSystem::TPosixFileSystem() : openTable_(std::make_shared<TOpenTable>()) {}

TPosixFileSystem::TPosixFileSystem(TDevicePathResolver resolveDevice)
    : openTable_(std::make_shared<TOpenTable>()), resolveDevice_(std::move(resolveDevice)) {}

void TPosixFileSystem::CreateFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) == 0) return;
  const int err = errno;
  struct stat st {};
  if (err == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return;
  throw EQuillonError(CreateErrorText(FullPath(path), std::strerror(err)));
}

std::unique_ptr<TStream> TPosixFileSystem::Open(const std::string& path, TOpenMode mode) {
  if (path.empty()) Fail(mode, path, std::strerror(ENOENT));
  std::string openPath = path;
  std::string nodeNote;  // names the device node behind a device path in error texts
  if (resolveDevice_ && IsDevicePathForm(path)) {
    // The fragment file is never written over a drive or volume.
    if (mode == TOpenMode::CreateExclusive) {
      Fail(mode, path, "A drive or volume cannot be the output file");
    }
    const std::optional<std::string> node = resolveDevice_(path);
    if (!node) Fail(mode, path, "No such drive or volume");
    openPath = *node;
    nodeNote = " (" + openPath + ")";
  }
  int flags = O_CLOEXEC;
  switch (mode) {
    // Non-blocking only for the open itself, so that a FIFO cannot hang the program.
    case TOpenMode::ReadShared: flags |= O_RDONLY | O_NONBLOCK; break;
    case TOpenMode::ReadWriteShared: flags |= O_RDWR | O_NONBLOCK; break;
    case TOpenMode::CreateExclusive: flags |= O_RDWR | O_CREAT; break;
  }
  const int fd = ::open(openPath.c_str(), flags, 0666);
  if (fd < 0) Fail(mode, path, std::strerror(errno) + nodeNote);

  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    Fail(mode, path, std::strerror(err));
  }
  if (mode == TOpenMode::CreateExclusive && S_ISBLK(st.st_mode)) {
    // Writing a fragment file over a disk or partition would destroy what is on it.
    ::close(fd);
    Fail(mode, path, "It is a disk or partition device; the output must be a file");
  }
  if (mode != TOpenMode::CreateExclusive) {
    if (S_ISDIR(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) {
      ::close(fd);
      Fail(mode, path, S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "Not a file or a device");
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  }

  const TFileIdentity identity = IdentityOf(st);
  if (openTable_->Conflicts(identity, mode)) {
    ::close(fd);
    Fail(mode, path, mode == TOpenMode::CreateExclusive ? kOpenAsSourceText : kOpenAsOutputText);
  }
  // Truncation comes only now, after the check above: a file that is open as the source
  // is refused before a single byte of it is lost.
  if (mode == TOpenMode::CreateExclusive && S_ISREG(st.st_mode) && ::ftruncate(fd, 0) != 0) {
    const int err = errno;
    ::close(fd);
    Fail(mode, path, std::strerror(err));
  }
  const std::uint64_t id = openTable_->Add(identity, mode);
  return std::make_unique<TPosixStream>(fd, openTable_, id);
}

std::unique_ptr<IFileSystem> MakePlatformFileSystem() {
  // Drive and volume paths keep their system forms in the rest of the program and in the
  // fragment file; only here do they become /dev nodes.
  auto devices = std::make_shared<TLinuxDeviceQueries>();
  return std::make_unique<TPosixFileSystem>(
      [devices](const std::string& path) { return devices->DeviceNode(path); });
}

}  // namespace quillon
