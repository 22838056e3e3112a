#include "core/scan_restart.h"

#include "core/errors.h"
#include "core/source_identity.h"

namespace quillon {

TScanRestartKeeper::TScanRestartKeeper(IFileSystem& fileSystem, std::string statePath,
                                       TScanClock::duration interval)
    : fileSystem_(fileSystem), statePath_(std::move(statePath)), interval_(interval) {}

void TScanRestartKeeper::ContinueFrom(TScanState state, std::string earlierPath,
                                      std::string shownEarlier, bool setAside) {
  state_ = state;
  earlier_ = TEarlier{std::move(earlierPath), std::move(shownEarlier), std::move(state), setAside};
}

void TScanRestartKeeper::StartFile(TFragmentFileWriter& writer, const std::string& outputPath,
                                   const std::string& sourcePath, TStream& source,
                                   std::int64_t sourceLength, std::int64_t scanSize) {
  if (earlier_) {
    {
      const std::unique_ptr<TStream> earlier =
          fileSystem_.Open(earlier_->Path, TOpenMode::ReadShared);
      writer.CreateContinuing(outputPath, *earlier, earlier_->State.Restart, earlier_->Shown);
    }
    // The copy is on the disk: a file set aside has done its part, and goes before this
    // run's first restart point. Past the point it holds what the earlier run wrote there
    // (compressed bytes cut at other places, or a finished stream), so once this file grows
    // past the point the two would no longer agree, and a later resume could not tell it
    // from another program's file.
    if (earlier_->SetAside && fileSystem_.Facts(earlier_->Path).Kind != TPathKind::Missing &&
        !fileSystem_.Remove(earlier_->Path)) {
      throw EQuillonError("Cannot remove \"" + fileSystem_.ToDisplayText(earlier_->Path) +
                          "\", whose body up to the restart point is now in \"" +
                          fileSystem_.ToDisplayText(writer.PartialPath()) +
                          "\"; move or delete it, then resume again.");
    }
    return;
  }
  writer.Create(outputPath);
  writer.WriteHeader(sourcePath, sourceLength);
  state_ = TScanState{};
  state_.SourcePath = sourcePath;
  state_.SourceSize = scanSize;
  state_.SourceIdentity = SourceIdentityOf(source, scanSize);
}

std::int64_t TScanRestartKeeper::StartOffset() const {
  return earlier_ ? earlier_->State.Restart.SourceOffset : 0;
}

std::int64_t TScanRestartKeeper::StartFragments() const {
  return earlier_ ? earlier_->State.Restart.Fragments : 0;
}

std::vector<TByteRange> TScanRestartKeeper::StartUnreadable() const {
  return earlier_ ? earlier_->State.Unreadable : std::vector<TByteRange>{};
}

void TScanRestartKeeper::AtChunkBoundary(std::int64_t position, const TByteRanges& unreadable,
                                         TFragmentFileWriter& writer, bool last) {
  // A file finished early (the session ended) takes no more restart points: the last one
  // written stays, and its bytes are still the file's first ones.
  if (!writer.CanContinue()) return;
  const TScanClock::time_point now = TScanClock::now();
  if (saved_ && !last && now - lastSaved_ < interval_) return;
  state_.Restart = writer.TakeRestartPoint(position);
  // What could not be read below the restart point: the earlier run's and this run's. The
  // read-ahead's failures at or past it are found again by the run that goes on from there.
  TByteRanges below;
  for (const TByteRange& range : StartUnreadable()) below.Add(range.Offset, range.Length);
  for (const TByteRange& range : unreadable.Ranges()) {
    if (range.Offset < position) below.Add(range.Offset, std::min(range.Length, position - range.Offset));
  }
  state_.Unreadable = below.Ranges();
  WriteState();
  saved_ = true;
  lastSaved_ = now;
}

void TScanRestartKeeper::WriteState() {
  // Written whole under another name, then moved over the old state: a stop at any moment
  // leaves one complete state, the old or the new.
  const std::string text = FormatScanState(state_);
  const std::string fresh = statePath_ + ".new";
  {
    const std::unique_ptr<TStream> file = fileSystem_.Open(fresh, TOpenMode::CreateExclusive);
    if (file->Write(text.data(), text.size()) != text.size() || !file->Flush()) {
      const std::string reason = file->LastErrorText();
      throw EWriteError(fresh, reason);
    }
  }
  fileSystem_.Replace(fresh, statePath_);
}

}  // namespace quillon
