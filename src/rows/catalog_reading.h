#pragma once
// Fills a page catalog from a fragment file: every fragment that inflates, also from a file
// that is cut short or damaged further on.

#include "core/fragment_file_reader.h"
#include "core/stream.h"
#include "rows/page_catalog.h"

namespace quillon {

// The reader's report on the file; the catalog holds the pages of the whole fragments read.
// Throws EQuillonError when the catalog's spill stream fails.
TFragmentFileReport ReadPageCatalog(TStream& file, TPageCatalog& catalog);

}  // namespace quillon
