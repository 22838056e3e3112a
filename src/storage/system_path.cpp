#include "core/errors.h"
#include "storage/file_system.h"

namespace quillon {

std::string SystemPathOf(IFileSystem& fileSystem, const std::string& chosenPath) {
  std::optional<std::string> path = fileSystem.FromDisplayText(chosenPath);
  if (!path) {
    throw EQuillonError("The path \"" + chosenPath +
                        "\" has characters that the system's code page cannot hold, so no file "
                        "can be opened or created under that name. Choose a folder and file name "
                        "without them");
  }
  return *path;
}

}  // namespace quillon
