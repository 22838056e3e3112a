#pragma once
// The platform's file system: chosen at build time, one implementation per platform.

#include <memory>

#include "core/stream.h"

namespace quillon {

// Opens files and devices the way the program needs them: sources shared for reading,
// the fragment file created without sharing. A path that is open as a source cannot be
// created over, also under another name or through a link.
std::unique_ptr<IFileSystem> MakePlatformFileSystem();

}  // namespace quillon
