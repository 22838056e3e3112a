#pragma once
// The database's catalog (the system table whose definition is page 2). Each row describes
// one object: its Id, whose low 24 bits are, for a table, the page number of the table's
// definition (the owner value of its data pages), its name and its type. Its row layout is
// the same in every Jet 4 and ACE file, so a row can be read without its definition:
//
//   fixed part: Id (u32) | ParentId (u32) | Type (i16) | DateCreate (8) | DateUpdate (8) |
//               Flags (u32) | ...
//   variable part: Name (Jet text) first, then Owner and the others.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace quillon::jet {

inline constexpr std::uint32_t kCatalogOwner = 2;  // the catalog's definition page
inline constexpr std::int16_t kLocalTableType = 1;
// Flags of objects that are not the user's: 0x80000000 system, 0x00000002 hidden.
inline constexpr std::uint32_t kSystemOrHiddenFlags = 0x80000002;

// For a local table's Id: the page number of its definition, the owner of its data pages.
inline std::uint32_t DefinitionPageOfId(std::uint32_t id) { return id & 0xFFFFFF; }

struct TCatalogObject {
  std::uint32_t Id = 0;
  std::uint32_t ParentId = 0;
  std::int16_t Type = 0;  // 1 a local table; others are queries, forms, containers ...
  std::string Name;       // UTF-8
  std::uint32_t DefinitionPage() const { return DefinitionPageOfId(Id); }
};

// One catalog row read without its definition; nothing when the bytes are not one: another
// column count than a catalog row has, a fixed part too short, or a name that is missing
// or not text.
std::optional<TCatalogObject> ReadCatalogObject(std::span<const std::uint8_t> row);

}  // namespace quillon::jet
