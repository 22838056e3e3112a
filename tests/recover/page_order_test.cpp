// Judging whether a database's pages lie in order, and which lie in place when they do not.

#include <gtest/gtest.h>

#include <unordered_map>

#include "recover/page_order.h"

namespace quillon::recover {
namespace {

TTableOrderEvidence Table(std::uint32_t owner, std::vector<std::uint32_t> numbers,
                          std::optional<std::set<std::uint32_t>> listed, bool fits = true) {
  TTableOrderEvidence table;
  table.Owner = owner;
  table.Numbers = std::move(numbers);
  table.DefinitionThere = true;
  table.DefinitionFits = fits;
  table.Cataloged = true;
  table.Listed = std::move(listed);
  return table;
}

// What lies at each number: the owners of the tables' pages, definitions elsewhere.
TOwnerAt OwnersOf(const std::vector<TTableOrderEvidence>& tables) {
  TOwnerAt at;
  for (const auto& table : tables) {
    for (const std::uint32_t number : table.Numbers) at[number] = table.Owner;
    at[table.Owner] = kNotDataPage;
  }
  return at;
}

TEST(PageOrder, StalePagesAndChangedColumnsDoNotMakeAWholeFileOutOfOrder) {
  // Ten pages of table 20, only four listed (the rest stale); table 30's rows fit no
  // definition (columns changed since they were written) but its map's places hold its
  // own pages.
  std::vector<TTableOrderEvidence> tables = {
      Table(20, {40, 41, 42, 43, 44, 45, 46, 47, 48, 49}, std::set<std::uint32_t>{40, 41, 42, 43}),
      Table(30, {50, 51, 52}, std::set<std::uint32_t>{50, 51}, false)};
  EXPECT_TRUE(PagesLieInOrder(tables, OwnersOf(tables)));
  // A map listing a place that another table's page holds: pieces exchanged.
  tables[0].Listed->insert(50);
  EXPECT_FALSE(PagesLieInOrder(tables, OwnersOf(tables)));
}

TEST(PageOrder, ADroppedTablesPagesSayNothingButACatalogedTableWithoutItsDefinitionDoes) {
  TTableOrderEvidence dropped;
  dropped.Owner = 90;
  dropped.Numbers = {60, 61, 62, 63, 64, 65, 66, 67, 68, 69};
  std::vector<TTableOrderEvidence> tables = {Table(20, {40}, std::set<std::uint32_t>{40}),
                                             dropped};
  EXPECT_TRUE(PagesLieInOrder(tables, OwnersOf(tables)));
  // The catalog lists it, yet no definition lies at its number: its pages were moved.
  tables[1].Cataloged = true;
  EXPECT_FALSE(PagesLieInOrder(tables, OwnersOf(tables)));
  // Nothing vouches for pages that are there.
  tables[1].Cataloged = false;
  EXPECT_FALSE(PagesLieInOrder({dropped}, OwnersOf({dropped})));
  EXPECT_TRUE(PagesLieInOrder({}, {}));
}

TEST(PageOrder, PiecesMovedAheadOrLongValuesElsewhereAreOutOfOrder) {
  // A page of the table before page 0 while a listed place is empty: a piece moved ahead.
  std::vector<TTableOrderEvidence> tables = {
      Table(20, {40, kUnnumberedPage}, std::set<std::uint32_t>{40, 41})};
  EXPECT_FALSE(PagesLieInOrder(tables, OwnersOf(tables)));
  // The same listed place empty with every page at its number: a page simply lost.
  tables[0].Numbers = {40};
  EXPECT_TRUE(PagesLieInOrder(tables, OwnersOf(tables)));
  tables[0].LongValuesMisplaced = 1;
  EXPECT_FALSE(PagesLieInOrder(tables, OwnersOf(tables)));
  // A table whose rows fit no definition and whose map is unreadable does not vouch.
  std::vector<TTableOrderEvidence> unknown = {Table(20, {40, 41, 42}, std::nullopt, false),
                                              Table(30, {43}, std::nullopt)};
  EXPECT_FALSE(PagesLieInOrder(unknown, OwnersOf(unknown)));
}

TEST(PageOrder, WithPiecesMovedInPagesPastTheLastListedOneWhileAListedOneIsMissingAreOutOfOrder) {
  // Table 20's map lists 40 to 43; 42 and 43 are not there, and two of its pages lie at
  // 142 and 143, past every number any map lists: numbered from the base by position,
  // though they lie beyond other files.
  std::vector<TTableOrderEvidence> tables = {
      Table(20, {40, 41, 142, 143}, std::set<std::uint32_t>{40, 41, 42, 43}),
      Table(30, {50, 51}, std::set<std::uint32_t>{50, 51})};
  // A whole file (nothing moved in): pages past the end are stale ones, a listed page lost.
  EXPECT_TRUE(PagesLieInOrder(tables, OwnersOf(tables)));
  for (TTableOrderEvidence& table : tables) table.PiecesMovedIn = true;
  EXPECT_FALSE(PagesLieInOrder(tables, OwnersOf(tables)));
  // Stale pages within the file (below table 30's last listed page) say nothing of pieces.
  tables[0].Numbers = {40, 41, 44, 45};
  EXPECT_TRUE(PagesLieInOrder(tables, OwnersOf(tables)));
  // Past the end, but nothing the map lists is missing: stale pages beside the file whole.
  tables[0].Numbers = {40, 41, 42, 43, 142};
  EXPECT_TRUE(PagesLieInOrder(tables, OwnersOf(tables)));
}

TEST(PageOrder, APagePositionNumberedUnlistedThatEvidencePlacedAtAnEmptyListedNumberIsOutOfOrder) {
  // Table 20's map lists 40 and 63; position put its second page at 79 (a piece after a
  // gap, numbered by distance), where the map lists nothing, and 63 holds no page.
  std::vector<TTableOrderEvidence> tables = {
      Table(20, {40, 79}, std::set<std::uint32_t>{40, 63}),
      Table(30, {50, 51}, std::set<std::uint32_t>{50, 51})};
  // Alone, a stale page beside a listed page lost: in order.
  EXPECT_TRUE(PagesLieInOrder(tables, OwnersOf(tables)));
  // Evidence placed that page at 63: the numbering by position does not hold.
  tables[0].PlacedWhereListed = 1;
  EXPECT_FALSE(PagesLieInOrder(tables, OwnersOf(tables)));
}

TEST(PageOrder, OnlyPagesNumberedAsTheyLieAreInPlace) {
  TDatabasePages grid, numbered;
  grid.Pages = {{0, 100}, {1, 101}, {2, 102}, {3, 103}};
  // Pages 2 and 3 were exchanged; page 1's number is not certain.
  numbered.Pages = {{0, 100}, {kUnnumberedPage, 101}, {2, 103}, {3, 102}};
  EXPECT_EQ(NumbersInPlace(grid, numbered), (std::set<std::uint32_t>{0}));
}

TEST(PageOrder, PagesAnchorsLeaveUnnumberedKeepTheirPlacesWhereNoAnchoredPageTookThem) {
  // By place: the home 0-2, then a piece of the database's own at places 10-11 (really
  // pages 5-6), then a neighbour's page at place 12 and one before page 0.
  TDatabasePages grid;
  grid.Pages = {{0, 100}, {1, 101}, {2, 102}, {10, 110}, {11, 111}, {12, 112},
                {kUnnumberedPage + 7, 107}};
  // The anchors numbered the home and the piece at its own numbers, and a page of the
  // home (place 2) they left alone is wanted at its place; the piece's places 10-11 are free
  // now. The neighbour's page and the page before page 0 they did not number.
  TDatabasePages anchored;
  anchored.Pages = {{0, 100}, {1, 101}, {5, 110}, {6, 111}, {kUnnumberedPage, 102},
                    {kUnnumberedPage + 1, 112}, {kUnnumberedPage + 2, 107}};
  NumberLeftByPlace(anchored, grid);
  const std::unordered_map<std::uint32_t, std::size_t> expected = {
      {0, 100}, {1, 101}, {2, 102}, {5, 110}, {6, 111}, {12, 112}, {kUnnumberedPage, 107}};
  EXPECT_EQ(anchored.Pages, expected);

  // A page whose place an anchored page took keeps no number: the anchor is certain, the
  // place is not.
  anchored.Pages = {{0, 100}, {1, 101}, {2, 110}, {kUnnumberedPage, 102}};
  grid.Pages = {{0, 100}, {1, 101}, {2, 102}, {10, 110}};
  NumberLeftByPlace(anchored, grid);
  const std::unordered_map<std::uint32_t, std::size_t> displaced = {
      {0, 100}, {1, 101}, {2, 110}, {kUnnumberedPage, 102}};
  EXPECT_EQ(anchored.Pages, displaced);
}

}  // namespace
}  // namespace quillon::recover
