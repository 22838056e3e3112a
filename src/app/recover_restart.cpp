#include "app/recover_restart.h"

#include "core/errors.h"
#include "core/fragment_file_writer.h"
#include "recover/page_map_state.h"

namespace quillon {

TRecoverRestartKeeper::TRecoverRestartKeeper(IFileSystem& fileSystem, std::string scanStatePath,
                                             std::string mapStatePath,
                                             TScanClock::duration interval)
    : TScanRestartKeeper(fileSystem, std::move(scanStatePath), interval),
      fileSystem_(fileSystem),
      mapStatePath_(std::move(mapStatePath)),
      interval_(interval) {}

void TRecoverRestartKeeper::AtChunkBoundary(std::int64_t position, const TByteRanges& unreadable,
                                            TFragmentFileWriter& writer, bool last) {
  // The same rule as the scan's keeper: no points once the file was finished early, and at
  // most one per interval unless the loop ends here. This keeper decides, and then asks
  // the scan's keeper for its point whatever its own clock says.
  if (map_ == nullptr || !writer.CanContinue()) return;
  const TScanClock::time_point now = TScanClock::now();
  if (taken_ && !last && now - lastTaken_ < interval_) return;
  points_.push_back(map_->TakeRestartPoint(position));
  if (points_.size() > 2) points_.erase(points_.begin());
  // Written whole under another name, then moved over the old state, as the scan's.
  const std::string text = recover::FormatPageMapState(points_);
  const std::string fresh = mapStatePath_ + ".new";
  {
    const std::unique_ptr<TStream> file = fileSystem_.Open(fresh, TOpenMode::CreateExclusive);
    if (file->Write(text.data(), text.size()) != text.size() || !file->Flush()) {
      const std::string reason = file->LastErrorText();
      throw EWriteError(fresh, reason);
    }
  }
  fileSystem_.Replace(fresh, mapStatePath_);
  TScanRestartKeeper::AtChunkBoundary(position, unreadable, writer, true);
  taken_ = true;
  lastTaken_ = now;
}

}  // namespace quillon
