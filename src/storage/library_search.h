#pragma once
// Where the program's DLLs come from. Called once at start-up by every program.

namespace quillon {

// On Windows, DLLs loaded from now on by name come from the system folder only, never from
// the program's own folder (a Downloads folder, where anyone can put a DLL of the same name)
// or the current one. Nothing on POSIX systems.
void LoadLibrariesFromSystemFolderOnly();

}  // namespace quillon
