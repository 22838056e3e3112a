// Every table the catalog lists is said to be recovered, partly recovered or lost.

#include <gtest/gtest.h>

#include "recover/catalog_accounting.h"
#include "recover/recovery_report.h"

namespace quillon::recover {
namespace {

TTableReport Read(const char* name, std::uint32_t page) {
  TTableReport table;
  table.Name = name;
  table.DefinitionPage = page;
  table.Typed = true;
  table.Columns = 3;
  table.Rows = 10;
  return table;
}

TEST(CatalogAccounting, TablesWithNoPageFoundAreNamedAsLost) {
  TDatabaseReport database;
  database.Tables = {Read("Orders", 40), Read("table-77", 77)};
  AccountForCatalog({{40, "Orders", ""}, {50, "Customers", "2020-01-02 03:04:05"},
                     {60, "Shippers", ""}},
                    database);
  ASSERT_EQ(database.Tables.size(), 4u);
  EXPECT_EQ(database.Tables[0].State, TTableState::Recovered);
  EXPECT_EQ(database.Tables[1].State, TTableState::Recovered);
  EXPECT_EQ(database.Tables[2].Name, "Customers");
  EXPECT_EQ(database.Tables[2].State, TTableState::Lost);
  EXPECT_EQ(database.Tables[2].LastUpdate, "2020-01-02 03:04:05");
  EXPECT_EQ(database.Tables[3].Name, "Shippers");
  EXPECT_EQ(database.Tables[3].State, TTableState::Lost);
  EXPECT_STREQ(TableStateName(database.Tables[3].State), "lost");
  // Accounting again adds nothing.
  AccountForCatalog({{50, "Customers", ""}}, database);
  EXPECT_EQ(database.Tables.size(), 4u);
}

TEST(CatalogAccounting, WhatIsMissingMakesATablePartlyRecovered) {
  TTableReport table = Read("Orders", 40);
  table.RowsMissing = 2;
  table.UnreadableRows = 1;
  table.ValuesNotFound = 4;
  SetTableState(table);
  EXPECT_EQ(table.State, TTableState::Partial);
  EXPECT_EQ(table.ValuesMissing, 4 + (2 + 1) * 3);

  TTableReport pages = Read("Orders", 40);
  pages.PagesMissing = 1;  // the number of rows on it cannot be told
  SetTableState(pages);
  EXPECT_EQ(pages.State, TTableState::Partial);

  TTableReport untyped = Read("Orders", 40);
  untyped.Typed = false;
  SetTableState(untyped);
  EXPECT_EQ(untyped.State, TTableState::Partial);
  EXPECT_STREQ(TableStateName(untyped.State), "partly recovered");
}

}  // namespace
}  // namespace quillon::recover
