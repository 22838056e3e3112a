#pragma once
// The command line's side of a resumable scan: which state file and which earlier file a
// "scan --resume" continues from, the checks before it may (the same source, a state that
// reads back, a file that still holds what the state names), and the tidying after a run.
//
// OUTPUT.resume is the state; the earlier body is in OUTPUT.partial (a run that was cut
// off), OUTPUT.interrupted (that file, set aside by a continued run that was cut off in
// turn before its copy of it was on the disk) or OUTPUT (a run that stopped and finished
// its file). The continued run writes a new OUTPUT.partial, removes OUTPUT.interrupted once
// the copy is on the disk, and moves the new file over OUTPUT only when it is complete, as
// every scan does.

#include <cstdint>
#include <string>

#include "core/scan_restart.h"
#include "core/stream.h"

namespace quillon {

inline constexpr const char* kInterruptedSuffix = ".interrupted";

// The words of a resume's refusals, by the command that resumes: a recover continues its
// fragment file the way a scan does, and is named so.
struct TResumeWords {
  std::string Command;    // "scan" or "recover"
  std::string State;      // what its state file is called: "scan state", "reading's state"
  std::string StartOver;  // how to start over instead, one sentence without its full stop
};
TResumeWords ScanResumeWords();

std::string ScanStatePathFor(const std::string& output);

// Does the file at `path` begin with `bytes` bytes whose CRC-32 is `crc` (what a restart
// point names of the file it was taken in)?
bool BeginsWith(IFileSystem& fileSystem, const std::string& path, std::int64_t bytes,
                std::uint32_t crc);

// Does the file at `leftover` agree byte for byte with the one at `earlier` as far as both
// go, within `limit` bytes? A copy that stopped short does, and so does the file a copy was
// taken from; a leftover that does not is another program's, not ours to remove.
bool AgreesWith(IFileSystem& fileSystem, const std::string& leftover, const std::string& earlier,
                std::int64_t limit);

// Before a scan without --resume, once OUTPUT itself is known free or to be replaced: an
// earlier state that names nothing left to continue from is removed, as is one that force
// starts over; one whose earlier body was set aside is refused without force. With
// OUTPUT.partial there, nothing is touched: the scan refuses that file as ever. Throws
// EQuillonError with the refusal.
void ClearEarlierState(IFileSystem& fileSystem, const std::string& output, bool force);

// Before a scan with --resume: reads the state, checks that the source at sourcePath (shown
// as shownSource), which the scan covers to sourceSize, is the one it describes, finds the
// file that holds the earlier body (setting aside or removing the leftovers of earlier
// attempts) and gives all that to keeper. Throws EQuillonError with the refusal, naming the
// file, the cause and, in words, the command that resumes.
void PrepareResume(IFileSystem& fileSystem, TScanRestartKeeper& keeper, const std::string& output,
                   const std::string& sourcePath, std::int64_t sourceSize,
                   const std::string& shownSource, const TResumeWords& words = ScanResumeWords());

// After a run that left a complete file at OUTPUT (completed: the state goes too): the
// earlier body set aside as OUTPUT.interrupted is in OUTPUT now, and is removed. Returns
// false when a removal failed.
bool TidyAfterScan(IFileSystem& fileSystem, const std::string& output, bool completed);

}  // namespace quillon
