#pragma once
// The command line's side of "recover --resume": the reading of an interrupted recover is
// continued inside its staging folder (OUTDIR/.quillon-recover.partial), which holds the
// fragment file with its scan state (as "scan --resume" continues it, see scan_resume.h)
// and the page map with its own state (recover/page_map_state.h). The decoding is done
// again from the start; what an interrupted decoding wrote is removed first.
//
// In the staging folder, besides the manifest and the fragment file's names:
//   fragments.pagemap              the page map (the earlier one, or the one being written)
//   fragments.pagemap.interrupted  the earlier map, set aside by a continued run
//   fragments.pagemap.resume       its restart points

#include <cstdint>
#include <string>

#include "app/recover_output.h"
#include "app/recover_restart.h"
#include "app/recovery_run.h"

namespace quillon {

// The system paths of the reading's files inside folder's staging folder.
struct TRecoverStagingFiles {
  std::string Fragments;       // fragments.frag
  std::string Map;             // fragments.pagemap
  std::string MapInterrupted;  // fragments.pagemap.interrupted
  std::string MapState;        // fragments.pagemap.resume
  std::string ScanState;       // fragments.frag.resume
};
TRecoverStagingFiles RecoverStagingFiles(const TRecoverFolder& folder);

// Before a recover with --resume, once folder's checks passed and before it is opened:
// checks that the staging folder holds an interrupted reading whose states read back, that
// the source at sourcePath (shown as shownSource, covered to sourceSize) is its source, and
// that each file there is the earlier run's; then sets aside the earlier files, removes what
// an interrupted decoding wrote, and gives the fragment file's part to keeper. Returns where
// the page map continues from. Throws EQuillonError naming the file and the cause; nothing
// is changed before every check has passed.
TPageMapContinuation PrepareRecoverResume(IFileSystem& fileSystem, const TRecoverFolder& folder,
                                          TRecoverRestartKeeper& keeper,
                                          const std::string& sourcePath, std::int64_t sourceSize,
                                          const std::string& shownSource);

// Once the decoding is done and before the commit: removes the states and the earlier files
// set aside, which are not part of the result. Returns false when a removal failed.
bool TidyRecoverStaging(IFileSystem& fileSystem, const TRecoverFolder& folder);

}  // namespace quillon
