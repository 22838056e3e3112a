// Two versions of one page number among a database's pages: an older copy's page numbered
// from an anchor while the live file's page lies at that number by the database's base.

#include <gtest/gtest.h>

#include <map>

#include "jet/row_slots.h"
#include "recover/page_versions.h"
#include "recover/pages_of_rows.h"

namespace quillon::recover {
namespace {

constexpr std::int64_t kPage = testing::kPlaceBytes;

using TFixture = testing::TPagesOfRows;

TEST(PageVersions, CopiesOfOnePageNumberAreToldApartFromExchangedPieces) {
  TFixture store;
  // The live file from place 100 (its base); the older copy's page 70 at place 10, numbered
  // 70 from an anchor in it. The live page 70 lies at place 170, left without a number.
  const std::size_t older = store.Add(10, {"id1 old", "id2", "id3"});
  const std::size_t live = store.Add(170, {"id1 new", "id2", "id3"});
  TDatabasePages grid, numbered;
  grid.Pages = {{70, live}, {kUnnumberedPage, older}};
  numbered.Pages = {{70, older}, {kUnnumberedPage, live}};
  TPageVersions versions = FindPageVersions(store.Entries, grid, numbered, store.RowsOf().Live);
  EXPECT_EQ(versions.Disputed, (std::set<std::size_t>{older, live}));
  EXPECT_TRUE(versions.Repeated.empty());
  EXPECT_EQ(versions.NumbersDisputed, 1u);

  // The same rows in both: the page is read once, at its number.
  store.Rows[live] = store.Rows[older];
  versions = FindPageVersions(store.Entries, grid, numbered, store.RowsOf().Live);
  EXPECT_TRUE(versions.Disputed.empty());
  EXPECT_EQ(versions.Repeated, (std::set<std::size_t>{live}));

  // A page of the same table that lies there because pieces were exchanged shares no row:
  // both are read.
  store.Rows[live] = {"id7", "id8"};
  versions = FindPageVersions(store.Entries, grid, numbered, store.RowsOf().Live);
  EXPECT_TRUE(versions.Disputed.empty());
  EXPECT_TRUE(versions.Repeated.empty());
}

TEST(PageVersions, PagesWithNumbersOfTheirOwnOrOfOtherTablesAreNoVersions) {
  TFixture store;
  const std::size_t anchored = store.Add(10, {"a", "b"});
  const std::size_t elsewhere = store.Add(170, {"a", "b", "c"});
  const std::size_t otherTable = store.Add(171, {"x"}, 41);
  const std::size_t anchoredToo = store.Add(11, {"x", "y"}, 40);
  const std::size_t longValues = store.Add(172, {"lv"}, jet::kLvalOwner);
  const std::size_t longValuesToo = store.Add(12, {"lv", "lw"}, jet::kLvalOwner);
  TDatabasePages grid, numbered;
  // The page at 70 by the base was numbered 90 by an anchor of its own: it moved, no copy.
  grid.Pages = {{70, elsewhere}, {71, otherTable}, {72, longValues}};
  numbered.Pages = {{70, anchored}, {90, elsewhere}, {71, anchoredToo},
                    {kUnnumberedPage, otherTable}, {72, longValuesToo},
                    {kUnnumberedPage + 1, longValues}};
  const TPageVersions versions =
      FindPageVersions(store.Entries, grid, numbered, store.RowsOf().Live);
  EXPECT_TRUE(versions.Disputed.empty());
  EXPECT_TRUE(versions.Repeated.empty());
  EXPECT_EQ(versions.NumbersDisputed, 0u);
}

TEST(PageVersions, AnUnnumberedPageSharingRowsWithAnotherPageOfItsTableIsAnotherVersionOfIt) {
  TFixture store;
  // Out of order, nothing numbered two pages of table 40 (one of them an older copy's, in a
  // piece taken in with the database's own): the same row bytes on both.
  const std::size_t mine = store.Add(100, {"id1", "id2 now", "id3"});
  const std::size_t theirs = store.Add(300, {"id1", "id2 then", "id3", "id4"});
  const std::size_t same = store.Add(301, {"id5", "id6"});
  const std::size_t sameToo = store.Add(400, {"id6", "id5"});
  const std::size_t own = store.Add(401, {"id9"});          // shares no row: read
  const std::size_t otherTable = store.Add(402, {"id1"}, 41);  // another table's row
  TDatabasePages grid, numbered;
  numbered.Pages = {{kUnnumberedPage, mine},    {kUnnumberedPage + 1, theirs},
                    {kUnnumberedPage + 2, same}, {30, sameToo},
                    {kUnnumberedPage + 3, own},  {kUnnumberedPage + 4, otherTable}};
  const TPageVersions versions =
      FindPageVersions(store.Entries, grid, numbered, store.RowsOf().Live);
  // Rows that disagree: which version is current is not known, so neither is read.
  EXPECT_EQ(versions.Disputed, (std::set<std::size_t>{mine, theirs}));
  // The same rows: read once, from the numbered page.
  EXPECT_EQ(versions.Repeated, (std::set<std::size_t>{same}));
  EXPECT_EQ(versions.NumbersDisputed, 1u);
}

}  // namespace
}  // namespace quillon::recover
