#include "core/replacing_file.h"

#include "core/errors.h"

namespace quillon {

void TReplacingFile::Create(const std::string& path) {
  Close();
  path_ = path;
  const std::string partial = PartialPath();
  if (fileSystem_.Facts(partial).Kind != TPathKind::Missing) {
    throw EQuillonError(CreateErrorText(
        partial,
        "It already exists: another scan may be writing \"" + path +
            "\" right now, or an earlier one that did not finish left it (it may still hold "
            "what that scan found). Move or delete it, or choose another output name"));
  }
  before_ = fileSystem_.Facts(path);
  stream_ = fileSystem_.Open(partial, TOpenMode::CreateNew);
}

void TReplacingFile::Commit() {
  Close();
  const TPathFacts now = fileSystem_.Facts(path_);
  const bool unchanged = now.Kind == before_.Kind &&
                         (now.Kind == TPathKind::Missing || now.Identity == before_.Identity);
  if (!unchanged) {
    throw EQuillonError("\"" + path_ +
                        "\" was changed by another program or another scan while this one "
                        "was writing, so it was left as it is. This scan's file is kept as \"" +
                        PartialPath() + "\"");
  }
  fileSystem_.Replace(PartialPath(), path_);
}

}  // namespace quillon
