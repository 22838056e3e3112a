#pragma once
// An in-memory file system for tests: files are byte vectors, every write is recorded,
// and writes can be made to fail after a given number of bytes.

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/byte_ranges.h"
#include "core/stream.h"

namespace quillon::testing {

struct TMemoryFile {
  std::vector<std::uint8_t> Data;
  std::vector<std::size_t> WriteSizes;  // the size of every Write call, in order
  std::int64_t WriteLimit = -1;         // bytes accepted in all before writes fall short
  std::int64_t ReadLimit = -1;          // bytes a single Read delivers at most
  int OpenCount = 0;                    // streams currently open on this file

  // A failing disk. A read that touches a bad range fails (delivering nothing, or with
  // PartialBeforeBad the bytes before the first bad one, as a buffered read may).
  std::vector<TByteRange> BadRanges;
  bool PartialBeforeBad = false;
  // How long a read that touches a bad range takes, as a dying disk's retries do.
  std::chrono::milliseconds FailedReadTime{0};
  // A raw device: reads whose offset or length is not a multiple of this fail, unless they
  // end at the end of the data.
  std::size_t Alignment = 1;
  // After this many reads every read fails with the device gone.
  std::int64_t GoneAfterReads = -1;
  // After this many reads the data is cut to ShrinkTo bytes.
  std::int64_t ShrinkAfterReads = -1;
  std::size_t ShrinkTo = 0;
  // A sparse file: where data lies; empty for a file without holes.
  std::vector<TByteRange> DataExtents;
  int HoleQuestions = 0;  // NextDataOffset and NextHoleOffset calls (the reader asks under its lock)
  std::vector<TByteRange> Reads;  // every read asked for, in order
  int Flushes = 0;
  bool FlushFails = false;
  std::uint64_t Id = 0;  // its identity: a new file gets a new number
  bool IsDevice = false;  // Facts calls it a device
};

class TMemoryFileSystem : public IFileSystem {
 public:
  std::unique_ptr<TStream> Open(const std::string& path, TOpenMode mode) override;
  TPathFacts Facts(const std::string& path) override;
  std::string FinalPath(const std::string& path) override { return path; }
  void Replace(const std::string& from, const std::string& to) override;
  bool Remove(const std::string& path) override { return files_.erase(path) > 0; }
  // Folders exist where they were made, or where a file lies below them.
  void CreateFolder(const std::string& path) override { folders_.insert(path); }
  std::optional<std::vector<TFolderEntry>> ListFolder(const std::string& path) override;
  void CreateNewFolder(const std::string& path) override;
  void RemoveBelow(const std::string& base, const std::string& relative, bool folder) override;
  void MoveNew(const std::string& from, const std::string& to) override;

  // Paths that are links (to a folder or a file elsewhere): listed as links, and never
  // gone through by RemoveBelow.
  std::set<std::string> Links;

  // Adds or replaces a file.
  std::shared_ptr<TMemoryFile> Put(const std::string& path, std::vector<std::uint8_t> data);
  std::shared_ptr<TMemoryFile> Find(const std::string& path) const;

  int OpenStreams() const;

  // Faults a file gets when it is created new at the path (the partial file an output is
  // written under): its WriteLimit and FlushFails are copied.
  std::map<std::string, TMemoryFile> NewFileFaults;

  // Paths in a single-byte code page like Windows' 1252: UTF-8 characters up to U+00FF
  // become one byte each; anything beyond has no place in it and is refused.
  bool SingleByteCodePage = false;
  std::string ToDisplayText(const std::string& systemText) override;
  std::optional<std::string> FromDisplayText(const std::string& text) override;

 private:
  bool IsFolder(const std::string& path) const;

  std::map<std::string, std::shared_ptr<TMemoryFile>> files_;
  std::set<std::string> folders_;
  std::uint64_t lastId_ = 0;
};

}  // namespace quillon::testing
