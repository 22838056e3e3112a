#include "rows/catalog_reading.h"

namespace quillon {

TFragmentFileReport ReadPageCatalog(TStream& file, TPageCatalog& catalog) {
  const TFragmentFileReport report =
      ReadFragmentFile(file, [&catalog](std::uint64_t index, TPageBytes bytes) {
        catalog.Add(index, bytes);
      });
  catalog.FinishAdding();
  return report;
}

}  // namespace quillon
