#include <windows.h>

#include "storage/library_search.h"

namespace quillon {

void LoadLibrariesFromSystemFolderOnly() {
  // Looked up: Windows 7 has it only with its update KB2533623. Without it the program still
  // loads the one DLL it asks for by full path (PrepareWindowControls).
  using TSetDefaultDllDirectories = BOOL(WINAPI*)(DWORD);
  const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
  const auto setDefault = reinterpret_cast<TSetDefaultDllDirectories>(
      reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
  if (setDefault != nullptr) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
  // The current folder leaves the search of the older calls too.
  ::SetDllDirectoryW(L"");
}

}  // namespace quillon
