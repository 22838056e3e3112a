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

}  // namespace quillon
