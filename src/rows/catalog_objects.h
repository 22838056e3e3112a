#pragma once
// The names of the local tables of the databases in a catalog of pages, from the rows of
// the Jet catalog (jet/catalog.h) read without its definition.

#include <cstdint>
#include <map>
#include <string>

#include "jet/catalog.h"
#include "rows/page_catalog.h"

namespace quillon {

using jet::kCatalogOwner;
using jet::kLocalTableType;
using jet::ReadCatalogObject;
using jet::TCatalogObject;

// The names of the local tables, by definition page, from the live rows of every catalog
// page in the catalog (flag 0x8000 alone is a moved row's data, live too). A file holding
// two databases can give one page two names: they are joined with " or ".
std::map<std::uint32_t, std::string> ReadTableNames(const TPageCatalog& catalog);

}  // namespace quillon
