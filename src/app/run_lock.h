#pragma once
// Keeps two runs off one output: a scan holds OUTPUT.lock beside its fragment file, and a
// recover holds OUTDIR/.quillon-recover.lock, from before its first check of what an
// earlier run left until it ends. The lock is the system's (IFileSystem::TryLock): a run
// that crashed, was killed or lost its power holds none, whatever file it left.

#include <memory>
#include <string>

#include "app/language.h"
#include "core/stream.h"

namespace quillon {

inline constexpr const char* kScanLockSuffix = ".lock";
inline constexpr const char* kRecoverLockName = ".quillon-recover.lock";

// The lock file of a scan into output.
std::string ScanLockPathFor(const std::string& output);

// Takes the lock at lockPath for the run that writes shownOutput (the file or folder as a
// person reads it). Throws EQuillonError with texts::kOutputInUse in language when another
// run holds it, or with the system's reason when it cannot be taken.
std::unique_ptr<TRunLock> LockForRun(IFileSystem& fileSystem, const std::string& lockPath,
                                     const std::string& shownOutput, TLanguage language);
// The same, but nothing where no lock file can be made at all (its folder is missing or
// takes no new file): the run's own files cannot be made there either, and their failure
// says why in the run's own words.
std::unique_ptr<TRunLock> LockForRunWherePossible(IFileSystem& fileSystem,
                                                  const std::string& lockPath,
                                                  const std::string& shownOutput,
                                                  TLanguage language);

}  // namespace quillon
