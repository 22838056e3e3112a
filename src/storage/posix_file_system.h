#pragma once
// Files and devices through POSIX calls. Linux has no share modes, so this file system
// keeps its own table of what it has open and refuses the opens that Windows sharing
// would refuse: above all a create (truncate) of a file that is open as the source.

#include <sys/types.h>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/stream.h"

namespace quillon {

// The /dev node of a device-form path ("\\.\C:", "\\.\physicaldrive0"); nothing when no
// drive or volume answers to it.
using TDevicePathResolver = std::function<std::optional<std::string>(const std::string&)>;

class TPosixFileSystem : public IFileSystem {
 public:
  // Opens paths as they are: a device-form path is taken as a file name.
  TPosixFileSystem();
  // Opens device-form paths as the device the resolver names, other paths as they are.
  explicit TPosixFileSystem(TDevicePathResolver resolveDevice);
  std::unique_ptr<TStream> Open(const std::string& path, TOpenMode mode) override;
  TPathFacts Facts(const std::string& path) override;
  std::string FinalPath(const std::string& path) override;
  void Replace(const std::string& from, const std::string& to) override;
  bool Remove(const std::string& path) override;
  void CreateFolder(const std::string& path) override;
  std::optional<std::vector<TFolderEntry>> ListFolder(const std::string& path) override;
  void CreateNewFolder(const std::string& path) override;
  void RemoveBelow(const std::string& base, const std::string& relative, bool folder) override;
  void MoveNew(const std::string& from, const std::string& to) override;
  std::unique_ptr<TRunLock> TryLock(const std::string& path) override;

  // What identifies a file across names and links.
  struct TFileIdentity {
    dev_t Device = 0;
    ino_t Inode = 0;
    dev_t SpecialDevice = 0;  // for block and character devices: the device itself
    bool operator==(const TFileIdentity&) const = default;
  };

  class TOpenTable;

 private:
  std::shared_ptr<TOpenTable> openTable_;
  TDevicePathResolver resolveDevice_;
};

}  // namespace quillon
