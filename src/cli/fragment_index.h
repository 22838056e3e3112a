#pragma once
// The side index of a scan for analysts: one tab-separated line per fragment, in the
// order of the fragment file: number (from 0), source offset, page type ("data" or
// "LVAL"), owner page ("-" for a long-value page), row count. The fragment file itself
// holds no offsets; this file is written beside it and never changes it.

#include <cstdint>
#include <span>
#include <string>

#include "core/fragment_file_format.h"
#include "core/replacing_file.h"

namespace quillon {

// The line of one fragment, without its line end.
std::string FragmentIndexLine(std::int64_t number, std::int64_t offset,
                              std::span<const std::uint8_t, kFragmentSize> fragment);

// Whether the file at path is empty or starts with an index line: one that --force may
// replace. Never throws.
bool IsFragmentIndexFile(IFileSystem& fileSystem, const std::string& path);

// Written like the fragment file: as PATH.partial, moved over PATH once complete.
class TFragmentIndexWriter {
 public:
  explicit TFragmentIndexWriter(IFileSystem& fileSystem) : file_(fileSystem) {}

  // Creates PATH.partial (the system's path). Throws the create error.
  void Create(const std::string& path);
  // Adds one line; after the first failed write, nothing more is tried.
  void Add(std::int64_t number, std::int64_t offset,
           std::span<const std::uint8_t, kFragmentSize> fragment);
  // Writes what is left, flushes, and moves the file over PATH. Throws EWriteError after a
  // failed write (the partial file stays), or the move's error.
  void Commit();
  // Writes what is left and closes without moving: the partial file stays. Never throws.
  void Close();
  // Closes and removes the partial file: nothing was scanned.
  void Discard(IFileSystem& fileSystem);

  bool IsCreated() const { return file_.IsOpen(); }
  std::string PartialPath() const { return file_.PartialPath(); }

 private:
  void WritePending();

  TReplacingFile file_;
  std::string pending_;  // lines not yet written
  std::string failure_;  // the system's text for the first failed write; "" while none
  bool failed_ = false;
};

}  // namespace quillon
