#pragma once
// Paths as the system holds them: made absolute, and asked whether they exist.

#include <string>

namespace quillon {

// The absolute, lexically normalised form of path ("." and ".." resolved, links kept), as
// error texts and the fragment file header show it. On Windows the system's own
// GetFullPathNameA, so the bytes stay those of the ANSI code page.
std::string FullPath(const std::string& path);

// Whether anything (a file, a folder, a device) exists at path.
bool PathExists(const std::string& path);

}  // namespace quillon
