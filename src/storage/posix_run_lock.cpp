#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/errors.h"
#include "storage/full_path.h"
#include "storage/run_lock.h"

namespace quillon {
namespace {

// flock belongs to the open file, not to the process: a second open in this process is
// refused as another process is, and the lock goes with the last descriptor, also at a kill.
class TPosixRunLock : public TRunLock {
 public:
  TPosixRunLock(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~TPosixRunLock() override {
    // Removed while still held, and only while the name still leads to this file: a run
    // that opened it meanwhile finds it gone when it holds the lock, and tries again.
    struct stat held {}, named {};
    if (::fstat(fd_, &held) == 0 && ::lstat(path_.c_str(), &named) == 0 &&
        held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
      ::unlink(path_.c_str());
    }
    ::close(fd_);
  }
  TPosixRunLock(const TPosixRunLock&) = delete;
  TPosixRunLock& operator=(const TPosixRunLock&) = delete;

 private:
  int fd_;
  std::string path_;
};

[[noreturn]] void Fail(const std::string& path, const std::string& reason) {
  throw EQuillonError("Cannot lock \"" + FullPath(path) + "\". " + reason);
}

}  // namespace

std::unique_ptr<TRunLock> TryPlatformRunLock(const std::string& path) {
  // A holder that lets go removes the file: the name may then lead to a new file, which is
  // opened again. Each pass needs a run that ends meanwhile; a few are plenty.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) Fail(path, std::strerror(errno));
    const auto give = [fd](const std::string& failPath, const std::string& reason) {
      ::close(fd);
      Fail(failPath, reason);
    };
    struct stat held {};
    if (::fstat(fd, &held) != 0) give(path, std::strerror(errno));
    if (!S_ISREG(held.st_mode)) give(path, "It is not a regular file.");
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      ::close(fd);
      if (error == EWOULDBLOCK) return nullptr;
      Fail(path, std::strerror(error));
    }
    struct stat named {};
    if (::lstat(path.c_str(), &named) != 0 || named.st_dev != held.st_dev ||
        named.st_ino != held.st_ino) {
      ::close(fd);  // removed by the holder that let go: the new one at the name counts
      continue;
    }
    // Held: an empty file becomes a lock file; one with other contents is not ours.
    std::string text(kRunLockText.size() + 1, '\0');
    const ssize_t got = ::pread(fd, text.data(), text.size(), 0);
    if (got < 0) give(path, std::strerror(errno));
    text.resize(static_cast<std::size_t>(got));
    if (text.empty()) {
      if (::pwrite(fd, kRunLockText.data(), kRunLockText.size(), 0) !=
          static_cast<ssize_t>(kRunLockText.size())) {
        give(path, std::strerror(errno));
      }
    } else if (text != kRunLockText) {
      give(path, "It exists and is not a lock file of this program; move or delete it.");
    }
    return std::make_unique<TPosixRunLock>(fd, path);
  }
  Fail(path, "It was removed and made again too often while this run tried to take it.");
}

}  // namespace quillon
