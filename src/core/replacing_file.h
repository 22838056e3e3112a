#pragma once
// An output file that never destroys what was at its path before it is complete: it is
// written as NAME.partial beside it, created new and without sharing, and moved over NAME
// only once the caller commits. Until then NAME is exactly as it was; after a failure the
// partial file stays for the user to look at.

#include <memory>
#include <string>

#include "core/stream.h"

namespace quillon {

inline constexpr const char* kPartialSuffix = ".partial";

class TReplacingFile {
 public:
  explicit TReplacingFile(IFileSystem& fileSystem) : fileSystem_(fileSystem) {}
  ~TReplacingFile() { Close(); }
  TReplacingFile(const TReplacingFile&) = delete;
  TReplacingFile& operator=(const TReplacingFile&) = delete;

  // Creates path + ".partial" (it must not exist) and notes what is at path now. Throws
  // the create error; an existing partial file is refused with a text saying why.
  void Create(const std::string& path);

  bool IsOpen() const { return stream_ != nullptr; }
  // The open partial file; only while IsOpen().
  TStream& Stream() { return *stream_; }
  const std::string& Path() const { return path_; }
  // Whether a file was at Path() when the partial file was created.
  bool ReplacesAFile() const { return before_.Kind != TPathKind::Missing; }
  std::string PartialPath() const { return path_ + kPartialSuffix; }

  // Closes the partial file and moves it over Path(). Throws, and leaves the partial file
  // where it is, when Path() no longer holds what it held at Create (another program or
  // another scan wrote it meanwhile) or the move fails.
  void Commit();
  // Closes the partial file and leaves it under its name. Never throws.
  void Close() { stream_.reset(); }

 private:
  IFileSystem& fileSystem_;
  std::string path_;
  TPathFacts before_;  // what was at path_ when the partial file was created
  std::unique_ptr<TStream> stream_;
};

}  // namespace quillon
