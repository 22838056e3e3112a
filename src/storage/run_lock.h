#pragma once
// The body of IFileSystem::TryLock, one per platform: an advisory lock that the system lets
// go of with the process (flock on POSIX, a handle opened without sharing on Windows), so
// that neither a crash, a kill nor a power cut leaves a false "in use" behind.

#include <memory>
#include <string>
#include <string_view>

#include "core/stream.h"

namespace quillon {

// What a lock file holds: a file at the lock's path with anything else in it is not ours to
// take over or remove. An empty one is taken over (a power cut may lose what was written).
inline constexpr std::string_view kRunLockText =
    "quillon run lock: held while a run writes beside it; removed when the run ends.\n";

// See IFileSystem::TryLock.
std::unique_ptr<TRunLock> TryPlatformRunLock(const std::string& path);

}  // namespace quillon
