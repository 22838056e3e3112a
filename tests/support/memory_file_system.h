#pragma once
// An in-memory file system for tests: files are byte vectors, every write is recorded,
// and writes can be made to fail after a given number of bytes.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/stream.h"

namespace quillon::testing {

struct TMemoryFile {
  std::vector<std::uint8_t> Data;
  std::vector<std::size_t> WriteSizes;  // the size of every Write call, in order
  std::int64_t WriteLimit = -1;         // bytes accepted in all before writes fall short
  std::int64_t ReadLimit = -1;          // bytes a single Read delivers at most
  int OpenCount = 0;                    // streams currently open on this file
};

class TMemoryFileSystem : public IFileSystem {
 public:
  std::unique_ptr<TStream> Open(const std::string& path, TOpenMode mode) override;

  // Adds or replaces a file.
  std::shared_ptr<TMemoryFile> Put(const std::string& path, std::vector<std::uint8_t> data);
  std::shared_ptr<TMemoryFile> Find(const std::string& path) const;

  int OpenStreams() const;

 private:
  std::map<std::string, std::shared_ptr<TMemoryFile>> files_;
};

}  // namespace quillon::testing
