#include "app/run_lock.h"

#include "app/texts.h"
#include "core/errors.h"

namespace quillon {

std::string ScanLockPathFor(const std::string& output) { return output + kScanLockSuffix; }

std::unique_ptr<TRunLock> LockForRun(IFileSystem& fileSystem, const std::string& lockPath,
                                     const std::string& shownOutput, TLanguage language) {
  std::unique_ptr<TRunLock> lock = fileSystem.TryLock(lockPath);
  if (!lock) {
    throw EQuillonError(Fill(texts::kOutputInUse, language,
                             {{"PATH", shownOutput}, {"LOCK", fileSystem.ToDisplayText(lockPath)}}));
  }
  return lock;
}

std::unique_ptr<TRunLock> LockForRunWherePossible(IFileSystem& fileSystem,
                                                  const std::string& lockPath,
                                                  const std::string& shownOutput,
                                                  TLanguage language) {
  try {
    return LockForRun(fileSystem, lockPath, shownOutput, language);
  } catch (const EQuillonError&) {
    // Refused by another run, or something at the path that is no lock file: said as it is.
    if (fileSystem.Facts(lockPath).Kind != TPathKind::Missing) throw;
    return nullptr;
  }
}

}  // namespace quillon
