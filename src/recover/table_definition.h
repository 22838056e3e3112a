#pragma once
// Table definitions are read by the format module (jet/table_definition.h); recovery names
// their types and readers as its own.

#include "jet/table_definition.h"

namespace quillon::recover {

using jet::BuiltInCatalogDefinition;
using jet::NaturalSize;
using jet::NextDefinitionPage;
using jet::ParseTableDefinition;
using jet::SystemDefinitionPage;
using jet::TColumn;
using jet::TColumnType;
using jet::TDefinitionParse;
using jet::TDefinitionResult;
using jet::TTableDefinition;

}  // namespace quillon::recover
