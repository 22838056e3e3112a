#pragma once

#include <string>

namespace quillon {

// The absolute, lexically normalised form of path (". " and ".." resolved, links kept),
// as error texts and the fragment file header show it.
std::string FullPath(const std::string& path);

}  // namespace quillon
