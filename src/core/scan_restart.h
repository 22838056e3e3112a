#pragma once
// Keeps a scan resumable: the state file beside the fragment file (see scan_state.h) is
// written at the first chunk boundary, then at most every interval, and when the scan
// stops; each time the fragment file is first cut at a restart point and brought to stable
// storage, so the state never names bytes that are not on the disk. A continued run copies
// the earlier file's body up to the restart point into its new file and goes on from there.

#include <optional>
#include <string>

#include "core/chunk_loop.h"
#include "core/scan_state.h"

namespace quillon {

class TScanRestartKeeper : public IRestartKeeper {
 public:
  // statePath: the state file; interval: the least time between two restart points.
  TScanRestartKeeper(IFileSystem& fileSystem, std::string statePath,
                     TScanClock::duration interval);

  // For a run that continues an interrupted one: its state, read back, and the file that
  // holds the body up to its restart point (earlierPath, shown as shownEarlier). setAside:
  // that file was set aside for this run (it is not the output itself), and StartFile
  // removes it once its body is copied.
  void ContinueFrom(TScanState state, std::string earlierPath, std::string shownEarlier,
                    bool setAside = false);
  bool Continues() const { return earlier_.has_value(); }

  // Creates the fragment file for outputPath in writer: a new file with its header (which
  // holds sourceLength), or the continuation of the earlier one. scanSize is the size the
  // scan covers, which the state records (a raw device may report no length of its own).
  // Throws what the writer throws, and EQuillonError when an earlier file set aside cannot
  // be removed after the copy.
  void StartFile(TFragmentFileWriter& writer, const std::string& outputPath,
                 const std::string& sourcePath, TStream& source, std::int64_t sourceLength,
                 std::int64_t scanSize);

  std::int64_t StartOffset() const override;
  std::int64_t StartFragments() const override;
  std::vector<TByteRange> StartUnreadable() const override;
  void AtChunkBoundary(std::int64_t position, const TByteRanges& unreadable,
                       TFragmentFileWriter& writer, bool last) override;

  // The offset the last state written says a continued run starts at; -1 before any.
  std::int64_t SavedOffset() const { return saved_ ? state_.Restart.SourceOffset : -1; }
  const std::string& StatePath() const { return statePath_; }

 private:
  void WriteState();  // throws EWriteError naming the state file

  IFileSystem& fileSystem_;
  std::string statePath_;
  TScanClock::duration interval_;
  TScanState state_;  // the state as last written, or as read back for a continued run
  struct TEarlier {
    std::string Path;
    std::string Shown;
    TScanState State;  // as read back: where this run starts
    bool SetAside = false;  // removed once copied
  };
  std::optional<TEarlier> earlier_;
  bool saved_ = false;                // a state was written by this run
  TScanClock::time_point lastSaved_;  // when
};

}  // namespace quillon
