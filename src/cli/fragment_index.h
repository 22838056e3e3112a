#pragma once
// The side index of a scan for analysts: one tab-separated line per fragment, in the
// order of the fragment file: number (from 0), source offset, page type ("data" or
// "LVAL"), owner page ("-" for a long-value page), row count. The fragment file itself
// holds no offsets; this file is written beside it and never changes it.

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "core/fragment_file_format.h"

namespace quillon {

// The line of one fragment, without its line end.
std::string FragmentIndexLine(std::int64_t number, std::int64_t offset,
                              std::span<const std::uint8_t, kFragmentSize> fragment);

class TFragmentIndexWriter {
 public:
  TFragmentIndexWriter() = default;
  ~TFragmentIndexWriter();
  TFragmentIndexWriter(const TFragmentIndexWriter&) = delete;
  TFragmentIndexWriter& operator=(const TFragmentIndexWriter&) = delete;

  // Creates or truncates the file at path (the system's path). Returns false and keeps
  // the reason when it cannot be created.
  bool Create(const std::string& path);
  // Adds one line; after the first failed write, nothing more is tried.
  void Add(std::int64_t number, std::int64_t offset,
           std::span<const std::uint8_t, kFragmentSize> fragment);
  // Closes the file. Returns false when a write or the close failed.
  bool Close();

  const std::string& Failure() const { return failure_; }

 private:
  std::FILE* file_ = nullptr;
  std::string failure_;  // the system's text for the first failure
};

}  // namespace quillon
