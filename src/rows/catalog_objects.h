#pragma once
// The database's catalog (the system table whose definition is page 2) read without its
// definition: its row layout is the same in every Jet 4 and ACE file. Each row describes one
// object: its Id, whose low 24 bits are, for a table, the page number of the table's
// definition (the owner value of its data pages), its name and its type.
//
//   fixed part: Id (u32) | ParentId (u32) | Type (i16) | DateCreate (8) | DateUpdate (8) |
//               Flags (u32) | ...
//   variable part: Name (Jet text) first, then Owner and the others.

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "rows/page_catalog.h"

namespace quillon {

inline constexpr std::uint32_t kCatalogOwner = 2;  // the catalog's definition page
inline constexpr std::int16_t kLocalTableType = 1;

struct TCatalogObject {
  std::uint32_t Id = 0;
  std::uint32_t ParentId = 0;
  std::int16_t Type = 0;  // 1 a local table; others are queries, forms, containers ...
  std::string Name;       // UTF-8
  // For a local table: the page number of its definition, the owner of its data pages.
  std::uint32_t DefinitionPage() const { return Id & 0xFFFFFF; }
};

// One catalog row; nothing when the bytes are not one: another column count than a catalog
// row has, a fixed part too short, or a name that is missing or not text.
std::optional<TCatalogObject> ReadCatalogObject(std::span<const std::uint8_t> row);

// The names of the local tables, by definition page, from the live rows of every catalog
// page in the catalog (flag 0x8000 alone is a moved row's data, live too). A file holding
// two databases can give one page two names: they are joined with " or ".
std::map<std::uint32_t, std::string> ReadTableNames(const TPageCatalog& catalog);

}  // namespace quillon
