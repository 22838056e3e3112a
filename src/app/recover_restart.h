#pragma once
// Keeps the reading phase of a recovery resumable: at each restart point the page map is
// brought to the disk and its own point written to its state file (see
// recover/page_map_state.h), then the scan's restart point is taken as a scan takes it
// (core/scan_restart.h). The page map's point comes first, so the scan's state never names
// a point the page map's state does not hold.

#include <string>
#include <vector>

#include "core/scan_restart.h"
#include "recover/page_map_writer.h"

namespace quillon {

class TRecoverRestartKeeper : public TScanRestartKeeper {
 public:
  // fileSystem writes both state files: the scan's at scanStatePath, the page map's at
  // mapStatePath; interval: the least time between two restart points.
  TRecoverRestartKeeper(IFileSystem& fileSystem, std::string scanStatePath,
                        std::string mapStatePath, TScanClock::duration interval);

  // The map the points are taken of; set before the scan starts. For a continued run,
  // from: the page map's point it continues from.
  void SetMap(recover::TPageMapWriter* map) { map_ = map; }
  void ContinueMapFrom(const recover::TPageMapRestartPoint& from) { points_ = {from}; }

  void AtChunkBoundary(std::int64_t position, const TByteRanges& unreadable,
                       TFragmentFileWriter& writer, bool last) override;

  const std::string& MapStatePath() const { return mapStatePath_; }

 private:
  IFileSystem& fileSystem_;
  std::string mapStatePath_;
  TScanClock::duration interval_;
  recover::TPageMapWriter* map_ = nullptr;
  std::vector<recover::TPageMapRestartPoint> points_;  // the last two written, newer last
  bool taken_ = false;
  TScanClock::time_point lastTaken_;
};

}  // namespace quillon
