#include "storage/posix_file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/errors.h"
#include "storage/file_system.h"
#include "storage/full_path.h"
#include "storage/linux_block_layout.h"
#include "storage/linux_device_queries.h"
#include "storage/run_lock.h"

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
      if (got < 0) {
        lastFailure_ = FailureOf(errno);
        lastError_ = std::strerror(errno);
      }
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
    if (errno == EINVAL || errno == EROFS) return true;
    lastError_ = std::strerror(errno);
    return false;
  }

  std::string LastErrorText() const override { return lastError_; }

  std::size_t Write(const void* buffer, std::size_t n) override {
    const auto* at = static_cast<const char*>(buffer);
    std::size_t total = 0;
    while (total < n) {
      const ssize_t put = ::write(fd_, at + total, n - total);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        // A write that takes nothing without an error has found the medium full.
        lastError_ = std::strerror(put < 0 ? errno : ENOSPC);
        break;
      }
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
  std::string lastError_;
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
  const bool creating = mode == TOpenMode::CreateExclusive || mode == TOpenMode::CreateNew;
  throw EQuillonError(creating ? CreateErrorText(full, reason) : OpenErrorText(full, reason));
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
  const bool creating = mode == TOpenMode::CreateExclusive || mode == TOpenMode::CreateNew;
  std::string openPath = path;
  std::string nodeNote;  // names the device node behind a device path in error texts
  if (resolveDevice_ && IsDevicePathForm(path)) {
    // The fragment file is never written over a drive or volume.
    if (creating) {
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
    // Never through a link: a link planted at the name makes the create fail.
    case TOpenMode::CreateNew: flags |= O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW; break;
  }
  const int fd = ::open(openPath.c_str(), flags, 0666);
  if (fd < 0) Fail(mode, path, std::strerror(errno) + nodeNote);

  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    Fail(mode, path, std::strerror(err));
  }
  if (creating && S_ISBLK(st.st_mode)) {
    // Writing a fragment file over a disk or partition would destroy what is on it.
    ::close(fd);
    Fail(mode, path, "It is a disk or partition device; the output must be a file");
  }
  if (!creating) {
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
    Fail(mode, path, creating ? kOpenAsSourceText : kOpenAsOutputText);
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

TPathFacts TPosixFileSystem::Facts(const std::string& path) {
  TPathFacts facts;
  struct stat st {};
  std::string at = path;
  if (resolveDevice_ && IsDevicePathForm(path)) {
    const std::optional<std::string> node = resolveDevice_(path);
    if (!node) return facts;
    at = *node;
  }
  if (at.empty() || ::stat(at.c_str(), &st) != 0) return facts;
  facts.Identity = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  if (S_ISREG(st.st_mode)) {
    facts.Kind = TPathKind::File;
    facts.Length = static_cast<std::int64_t>(st.st_size);
  } else if (S_ISDIR(st.st_mode)) {
    facts.Kind = TPathKind::Directory;
  } else if (S_ISBLK(st.st_mode)) {
    facts.Kind = TPathKind::Device;
  } else if (S_ISCHR(st.st_mode)) {
    facts.Kind = TPathKind::CharacterDevice;
  } else {
    facts.Kind = TPathKind::Other;
  }
  return facts;
}

std::string TPosixFileSystem::FinalPath(const std::string& path) {
  if (path.empty() || IsDevicePathForm(path)) return path;
  // Only the last part matters: a file is created and renamed in the folder the path
  // names, and folders on the way are followed by the system in any case.
  std::string at = FullPath(path);
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return at;
    std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
    const ssize_t n = ::readlink(at.c_str(), target.data(), target.size());
    if (n <= 0) return at;
    target.resize(static_cast<std::size_t>(n));
    const std::size_t slash = at.rfind('/');
    at = FullPath(target.front() == '/' ? target : at.substr(0, slash + 1) + target);
  }
  return at;  // a loop of links: opening it fails with its own error
}

// Puts the folder holding path on stable storage, so that a name just given there survives a
// power cut as well as the file's bytes do. Best effort: a folder that cannot be opened is left.
static void SyncFolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

void TPosixFileSystem::Replace(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) {
    throw EQuillonError("Cannot move \"" + from + "\" to \"" + to + "\". " +
                        std::strerror(errno));
  }
  SyncFolderOf(to);
}

bool TPosixFileSystem::Remove(const std::string& path) { return ::unlink(path.c_str()) == 0; }

std::optional<std::vector<TFolderEntry>> TPosixFileSystem::ListFolder(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    ::close(fd);
    return std::nullopt;
  }
  std::vector<TFolderEntry> entries;
  while (const dirent* item = ::readdir(dir)) {
    const std::string name = item->d_name;
    if (name == "." || name == "..") continue;
    TFolderEntry entry;
    entry.Name = name;
    struct stat st {};
    if (::fstatat(::dirfd(dir), item->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      entry.Kind = TPathKind::Other;  // gone meanwhile, or unreadable: not ours either way
    } else if (S_ISLNK(st.st_mode)) {
      entry.Kind = TPathKind::Other;
      entry.IsLink = true;
    } else {
      entry.Kind = S_ISREG(st.st_mode)   ? TPathKind::File
                   : S_ISDIR(st.st_mode) ? TPathKind::Directory
                   : S_ISBLK(st.st_mode) ? TPathKind::Device
                   : S_ISCHR(st.st_mode) ? TPathKind::CharacterDevice
                                         : TPathKind::Other;
      entry.Identity = {static_cast<std::uint64_t>(st.st_dev),
                        static_cast<std::uint64_t>(st.st_ino)};
    }
    entries.push_back(std::move(entry));
  }
  ::closedir(dir);
  return entries;
}

void TPosixFileSystem::CreateNewFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) != 0) {
    throw EQuillonError(CreateErrorText(FullPath(path), std::strerror(errno)));
  }
}

void TPosixFileSystem::RemoveBelow(const std::string& base, const std::string& relative,
                                   bool folder) {
  const std::string shown = base + "/" + relative;
  const auto fail = [&](int error) {
    throw EQuillonError("Cannot remove \"" + shown + "\". " + std::strerror(error));
  };
  // Each folder along relative is opened from the one before without following a link, so
  // that a link put in place of a folder leads nowhere.
  int at = ::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (at < 0) fail(errno);
  std::size_t from = 0;
  for (std::size_t slash; (slash = relative.find('/', from)) != std::string::npos;
       from = slash + 1) {
    const std::string part = relative.substr(from, slash - from);
    const int next = ::openat(at, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int error = errno;
    ::close(at);
    if (next < 0 && error == ENOENT) return;  // gone already
    if (next < 0) {
      if (error == ELOOP || error == ENOTDIR) {
        throw EQuillonError("Cannot remove \"" + shown + "\". \"" + part +
                            "\" is a link or not a folder, and is never followed.");
      }
      fail(error);
    }
    at = next;
  }
  const std::string last = relative.substr(from);
  const int result = ::unlinkat(at, last.c_str(), folder ? AT_REMOVEDIR : 0);
  const int error = errno;
  ::close(at);
  if (result != 0 && error != ENOENT) fail(error);
}

void TPosixFileSystem::MoveNew(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
    throw EQuillonError("Cannot move \"" + from + "\" to \"" + to + "\". " +
                        std::strerror(errno));
  }
  SyncFolderOf(to);
}

std::unique_ptr<TRunLock> TPosixFileSystem::TryLock(const std::string& path) {
  return TryPlatformRunLock(path);
}

std::unique_ptr<IFileSystem> MakePlatformFileSystem() {
  // Drive and volume paths keep their system forms in the rest of the program and in the
  // fragment file; only here do they become /dev nodes.
  auto devices = std::make_shared<TLinuxDeviceQueries>();
  return std::make_unique<TPosixFileSystem>(
      [devices](const std::string& path) { return devices->DeviceNode(path); });
}

}  // namespace quillon
