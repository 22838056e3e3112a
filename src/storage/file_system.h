#pragma once
// The platform's file system: chosen at build time, one implementation per platform.

#include <memory>
#include <string>

#include "core/stream.h"

namespace quillon {

// Opens files and devices the way the program needs them: sources shared for reading,
// the fragment file created without sharing. A path that is open as a source cannot be
// created over, also under another name or through a link.
std::unique_ptr<IFileSystem> MakePlatformFileSystem();

// A path a person chose (UTF-8, from a dialog or the command line) in the form the system
// opens; throws EQuillonError with a clear text when the system's code page cannot hold it.
std::string SystemPathOf(IFileSystem& fileSystem, const std::string& chosenPath);

}  // namespace quillon
