#pragma once
// Writes one fragment file: Create, WriteHeader, AddFragment..., Finish, Close.
//
// With more than one worker the body is compressed on that many threads of the writer's
// own (see TParallelDeflater): still one zlib stream of the same fragments in the same
// order, at the same level. All calls come from one thread, which also does the writing.

#include <zlib.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/fragment_file_format.h"
#include "core/parallel_deflate.h"
#include "core/replacing_file.h"
#include "core/scan_state.h"
#include "core/stream.h"

namespace quillon {

class TFragmentFileWriter {
 public:
  // workers: threads that compress the body; 1 compresses on the calling thread.
  explicit TFragmentFileWriter(IFileSystem& fileSystem, unsigned workers = 1);
  ~TFragmentFileWriter();
  TFragmentFileWriter(const TFragmentFileWriter&) = delete;
  TFragmentFileWriter& operator=(const TFragmentFileWriter&) = delete;

  // Starts the file for path: it is written as path + ".partial", created new and opened
  // without sharing, and path itself stays as it is until Close after Finish. Throws the
  // create error.
  void Create(const std::string& path);

  // Writes the 512-byte header and starts the compressed body. A source path longer than
  // the header holds is refused before anything is written.
  void WriteHeader(const std::string& sourcePath, std::int64_t sourceLength);

  // Starts the file for path as Create does, as the continuation of an earlier file that was
  // cut at point: its first point.FileBytes bytes (the header and the body up to there) are
  // copied from earlier, and checked against point's CRC-32 while they are. Then fragments
  // are added as after WriteHeader. The copy is on stable storage when this returns. Throws
  // when earlier is shorter or differs (shownEarlier names it), or the copy fails; the new
  // partial file then stays unfinished.
  void CreateContinuing(const std::string& path, TStream& earlier, const TRestartPoint& point,
                        const std::string& shownEarlier);

  // Cuts the body here so that a later run can continue it (see TRestartPoint): everything
  // added so far is compressed and written, the file is brought to stable storage, and the
  // point returned holds sourceOffset. Throws the write or compression error.
  TRestartPoint TakeRestartPoint(std::int64_t sourceOffset);

  // Hands one fragment to the compressor. Output reaches the file only in whole
  // 65536-byte pieces; the rest waits in the buffer until Finish. With workers, a
  // fragment may wait for them while the blocks in flight take their maximum memory.
  // With holder (what keeps the fragment's memory, which the caller then leaves unchanged
  // while it holds it too), the workers may compress the fragment where it lies instead of
  // a copy, holding holder until then.
  void AddFragment(std::span<const std::uint8_t, kFragmentSize> fragment,
                   const std::shared_ptr<const void>& holder = nullptr);

  // Ends the body, writes the trailer and brings the file to stable storage; a failed
  // flush is a write error. The file stays open.
  void Finish();

  // Closes the file. After Finish it moves the complete file over the path given to Create,
  // and throws when that fails (the partial file then stays). After a failure (no Finish)
  // nothing more is written, and the partial file stays under its name.
  void Close();

  // Closes the file and leaves it under its partial name even after Finish: for a run
  // that finished its file but failed, so that it does not replace an earlier file.
  void CloseKeepingPartial();

  bool IsCreated() const { return output_.IsOpen(); }
  // Between WriteHeader (or CreateContinuing) and Finish: fragments and restart points may
  // still be added.
  bool CanContinue() const { return compressing_ && output_.IsOpen(); }
  // Whether a file was at the path given to Create when the run began.
  bool ReplacesAFile() const { return output_.ReplacesAFile(); }
  // Where the file is while it is written, and where it stays when it is not finished.
  std::string PartialPath() const { return output_.PartialPath(); }
  std::uint64_t FragmentCount() const { return fragmentCount_; }

  // Throws unless the path fits the header; used to refuse a scan before anything is created.
  // shownPath is the path as the error text shows it.
  static void CheckSourcePathFits(const std::string& sourcePath, const std::string& shownPath);

 private:
  void WriteAll(const void* data, std::size_t n);  // throws "Stream write error" when short
  void StartCompressor(bool continuing, std::uint32_t adlerSoFar);
  void FlushFullBuffer();
  void EndCompressor();
  // Takes compressed bytes from the workers into the buffer, writing every full one.
  void TakeCompressed(const std::uint8_t* data, std::size_t n);

  unsigned workers_;
  std::unique_ptr<TParallelDeflater> parallel_;  // while compressing with workers

  TReplacingFile output_;
  bool finished_ = false;  // Finish succeeded: Close moves the file into place
  z_stream zs_{};
  bool compressing_ = false;
  std::vector<std::uint8_t> outBuffer_;
  std::uint64_t bytesWritten_ = 0;
  std::uint64_t fragmentCount_ = 0;
  std::uint32_t fileCrc_ = 0;  // CRC-32 of the bytesWritten_ bytes, for restart points
  // One thread, continuing an earlier body: zs_ writes raw deflate data, and the Adler-32
  // that ends the stream is kept here, from the earlier body's on.
  bool raw_ = false;
  std::uint32_t bodyAdler_ = 1;
};

}  // namespace quillon
