#include "storage/library_search.h"

namespace quillon {

// The dynamic loader's search path is the system's business here.
void LoadLibrariesFromSystemFolderOnly() {}

}  // namespace quillon
