#pragma once
// Files and devices through POSIX calls. Linux has no share modes, so this file system
// keeps its own table of what it has open and refuses the opens that Windows sharing
// would refuse: above all a create (truncate) of a file that is open as the source.

#include <sys/types.h>

#include <memory>
#include <mutex>
#include <vector>

#include "core/stream.h"

namespace quillon {

class TPosixFileSystem : public IFileSystem {
 public:
  TPosixFileSystem();
  std::unique_ptr<TStream> Open(const std::string& path, TOpenMode mode) override;

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
};

}  // namespace quillon
