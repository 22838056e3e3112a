// Which copy of a database a page is: only where it lies tells copies apart.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "jet/row_slots.h"
#include "recover/copy_membership.h"
#include "recover/pages_of_rows.h"

namespace quillon::recover {
namespace {

constexpr std::int64_t kPage = testing::kPlaceBytes;

using TFixture = testing::TPagesOfRows;

std::vector<std::size_t> Sorted(std::vector<std::size_t> indices) {
  std::sort(indices.begin(), indices.end());
  return indices;
}

TEST(CopyMembership, OnlyPagesAtTheirPlacesFromTheCopysBaseAreCertainlyItsOwn) {
  TFixture store;
  // The live copy from place 100, the older copy from place 500; each has its page 7 at its
  // place. Pages 8 and 9 of some copy lie at places 300 and 301, numbered by what they say
  // (owner, usage map) in the live copy: the same in every copy, so whose they are is not
  // known; the older copy holds no page 8 or 9 of its own.
  const std::size_t live7 = store.Add(107, {"r1", "r2"});
  const std::size_t older7 = store.Add(507, {"r1", "r2", "r3"});
  const std::size_t moved8 = store.Add(300, {"r4"});
  const std::size_t moved9 = store.Add(301, {"r5"});
  const std::size_t unnumbered = store.Add(302, {"r6"});
  const std::size_t longValues = store.Add(303, {"lv"}, jet::kLvalOwner);
  const std::size_t catalog = store.Add(304, {"c"}, 2);
  const std::size_t noLiveRow = store.Add(305, {});  // shows nothing as the copy's
  TDatabasePages live, older;
  live.Base = 100 * kPage;
  older.Base = 500 * kPage;
  live.Pages = {{7, live7}, {8, moved8}, {9, moved9}, {kUnnumberedPage, unnumbered},
                {20, longValues}, {21, catalog}, {22, noLiveRow}};
  older.Pages = {{7, older7}};
  EXPECT_EQ(Sorted(PagesOfUncertainCopy(store.Entries, live, {&older}, store.RowsOf(), false)),
            (std::vector<std::size_t>{moved8, moved9, unnumbered}));
  EXPECT_TRUE(PagesOfUncertainCopy(store.Entries, older, {&live}, store.RowsOf(), false).empty());
  // A database found in one copy only keeps every page.
  EXPECT_TRUE(PagesOfUncertainCopy(store.Entries, live, {}, store.RowsOf(), false).empty());
}

TEST(CopyMembership, APageIsItsCopysWhereEveryOtherCopyHoldsItsOwnVersion) {
  TFixture store;
  // The older copy lies whole from place 500; the live copy's pieces lie elsewhere. Its
  // page 8, moved, is none of the older copy's: that one has its own page 8 in place. Its
  // page without a number shares a row with the older copy's page 9 in place: another
  // version of that page, so none of the older copy's either.
  const std::size_t older8 = store.Add(508, {"r1", "r2"});
  const std::size_t older9 = store.Add(509, {"r3", "r4"});
  const std::size_t live8 = store.Add(300, {"r1"});
  const std::size_t live9 = store.Add(301, {"r4"});
  const std::size_t otherTable = store.Add(302, {"r3"}, 41);  // shares bytes, not a table
  const std::size_t liveLoose = store.Add(303, {"r9"});         // a version of nothing held
  TDatabasePages live, older;
  live.Base = 100 * kPage;
  older.Base = 500 * kPage;
  live.Pages = {{8, live8}, {kUnnumberedPage, live9}, {kUnnumberedPage + 1, otherTable},
                {kUnnumberedPage + 2, liveLoose}};
  older.Pages = {{8, older8}, {9, older9}};
  EXPECT_EQ(Sorted(PagesOfUncertainCopy(store.Entries, live, {&older}, store.RowsOf(), false)),
            (std::vector<std::size_t>{otherTable, liveLoose}));

  // With a third copy that holds no page 8 in place, page 8 could be that copy's.
  TDatabasePages third;
  third.Base = 900 * kPage;
  const std::size_t thirdMoved8 = store.Add(200, {"r1", "r2"});
  third.Pages = {{8, thirdMoved8}};
  EXPECT_EQ(Sorted(PagesOfUncertainCopy(store.Entries, live, {&older, &third}, store.RowsOf(), false)),
            (std::vector<std::size_t>{live8, live9, otherTable, liveLoose}));
  // Another table's page at the number, in place, is no version of it.
  store.Entries[thirdMoved8] = {908 * kPage, TPageKind::Data, 41};
  EXPECT_EQ(Sorted(PagesOfUncertainCopy(store.Entries, live, {&older, &third}, store.RowsOf(), false)),
            (std::vector<std::size_t>{live8, live9, otherTable, liveLoose}));
  store.Entries[thirdMoved8] = {908 * kPage, TPageKind::Data, 40};
  EXPECT_EQ(Sorted(PagesOfUncertainCopy(store.Entries, live, {&older, &third}, store.RowsOf(), false)),
            (std::vector<std::size_t>{live9, otherTable, liveLoose}));
}

TEST(CopyMembership, TheNewestCopyKeepsNoPageOlderThanAnotherVersionOfIt) {
  TFixture store;
  // The newest copy from place 100: its pages 0 to 2 lie in place, but page 2 there is an
  // older copy's, written right after the newest copy's first pages (the same numbering,
  // as pieces of two copies written in turn give it). The newest copy's own page 2, moved,
  // holds deleted the row "r5" that the page in place holds live.
  const std::size_t page1 = store.Add(101, {"r1", "r2"});
  const std::size_t olderPage2 = store.Add(102, {"r4", "r5"});
  const std::size_t ownPage2 = store.Add(300, {"r4"});
  store.Deleted[ownPage2] = {"r5"};
  // A page that holds deleted a row another page holds live, but shares no live row with
  // it, is no version of it: a row deleted and written again on another page, say.
  const std::size_t rewritten = store.Add(400, {"r9"});
  store.Deleted[rewritten] = {"r1"};
  TDatabasePages newest, older;
  newest.Base = 100 * kPage;
  newest.Pages = {{1, page1}, {2, olderPage2}};
  older.Base = 700 * kPage;
  older.Pages = {{2, ownPage2}, {kUnnumberedPage, rewritten}};
  EXPECT_EQ(PagesOfUncertainCopy(store.Entries, newest, {&older}, store.RowsOf(), true),
            (std::vector<std::size_t>{olderPage2}));
  // Not known to be the newest: where it lies in place, it is taken as its own.
  EXPECT_TRUE(PagesOfUncertainCopy(store.Entries, newest, {&older}, store.RowsOf(), false).empty());
  // A row the other version holds both live and deleted (written again on its page) says
  // nothing of which is older.
  store.Rows[ownPage2] = {"r4", "r5"};
  EXPECT_TRUE(PagesOfUncertainCopy(store.Entries, newest, {&older}, store.RowsOf(), true).empty());
}

TEST(CopyMembership, AVersionAtTheSameNumberNeedShareNoLiveRow) {
  TFixture store;
  // A table of one row: the newest copy deleted it, so its own page 1 holds no live row, and
  // the older copy's page 1, lying in the newest copy's place, holds it live.
  const std::size_t olderPage1 = store.Add(101, {"r1"});
  const std::size_t ownPage1 = store.Add(300, {});
  store.Deleted[ownPage1] = {"r1"};
  TDatabasePages newest, older;
  newest.Base = 100 * kPage;
  newest.Pages = {{1, olderPage1}};
  older.Base = 299 * kPage;
  older.Pages = {{1, ownPage1}};
  EXPECT_EQ(PagesOfUncertainCopy(store.Entries, newest, {&older}, store.RowsOf(), true),
            (std::vector<std::size_t>{olderPage1}));
  // At another number, a page that holds the row deleted is no version of it.
  older.Pages = {{2, ownPage1}};
  EXPECT_TRUE(PagesOfUncertainCopy(store.Entries, newest, {&older}, store.RowsOf(), true).empty());
}

}  // namespace
}  // namespace quillon::recover
