#pragma once
// A table definition read whole from its first page and its continuation pages: found by
// their page numbers where the database's pages are numbered, or by their distances on the
// source from a definition page whose number is only assumed.

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "recover/database_reader.h"
#include "recover/table_definition.h"

namespace quillon::recover {

// The definition whose first page is database page `number`, its continuation pages taken
// by their numbers; nothing when it is not there whole.
std::optional<TTableDefinition> DefinitionAt(const TDatabaseReader& reader,
                                             const std::vector<TPageEntry>& entries,
                                             const TDatabasePages& database, std::uint32_t number);

// The definition whose first page is store page `index`, parsed without its page number:
// one that goes on over further pages is parsed once per owner it might be, since its
// continuation is found by number. `assumedNumber` is the number taken for the first page;
// `definitionByOffset` holds the definition pages by their offsets on the source.
std::optional<TTableDefinition> DefinitionFromPage(
    const TDatabaseReader& reader, const std::vector<TPageEntry>& entries,
    const std::unordered_map<std::int64_t, std::size_t>& definitionByOffset, std::size_t index,
    std::uint32_t assumedNumber);

}  // namespace quillon::recover
