// The newest copy takes its versions of pages lying among other copies' pieces, and only
// where the versions form one chain, one per copy.

#include <gtest/gtest.h>

#include <map>

#include "core/page_head.h"
#include "recover/newest_versions.h"

namespace quillon::recover {
namespace {

constexpr std::int64_t kPage = 4096;

// Data pages of owner 40 unless said otherwise, at the given 4 KiB places, with live and
// deleted rows.
struct TFixture {
  std::vector<TPageEntry> Entries;
  std::map<std::size_t, std::vector<std::string>> Live, Deleted;

  std::size_t Add(std::int64_t place, std::vector<std::string> live,
                  std::vector<std::string> deleted = {}, std::uint32_t owner = 40) {
    Entries.push_back({place * kPage, TPageKind::Data, owner});
    Live[Entries.size() - 1] = std::move(live);
    Deleted[Entries.size() - 1] = std::move(deleted);
    return Entries.size() - 1;
  }
  TRowsOfCopies RowsOf() const {
    return {[this](std::size_t index) { return Live.at(index); },
            [this](std::size_t index) { return Deleted.at(index); }};
  }
};

// Three copies: the live one from place 100, older ones from 500 and 900. Page 7 of the two
// older copies lies in place; the live copy's page 7 lies at place 300, among pages that
// position gave the oldest copy unnumbered.
struct TThreeCopies {
  TFixture Store;
  TDatabasePages Live, Older, Oldest;
  std::size_t Older7 = 0, Oldest7 = 0, Stray = 0;
  std::optional<std::uint32_t> OnlyListed;  // what the live copy's map lists, where one page

  TThreeCopies(std::vector<std::string> strayLive, std::vector<std::string> strayDeleted) {
    Oldest7 = Store.Add(907, {"r1", "r2", "r3"});
    Older7 = Store.Add(507, {"r2", "r3"}, {"r1"});
    Stray = Store.Add(300, std::move(strayLive), std::move(strayDeleted));
    Live.Base = 100 * kPage;
    Older.Base = 500 * kPage;
    Oldest.Base = 900 * kPage;
    Older.Pages = {{7, Older7}};
    Oldest.Pages = {{7, Oldest7}, {kUnnumberedPage, Stray}};
  }
  std::size_t Give() {
    return GiveNewestVersions(Store.Entries, {&Live, &Older, &Oldest}, Store.RowsOf(),
                              [this](std::uint32_t) { return OnlyListed; });
  }
};

TEST(NewestVersions, TheNewestOfAChainOfOneVersionPerCopyIsTheNewestCopysPage) {
  TThreeCopies copies({"r3"}, {"r1", "r2"});
  EXPECT_EQ(copies.Give(), 1u);
  EXPECT_EQ(copies.Live.Pages.at(7), copies.Stray);
  EXPECT_TRUE(copies.Live.GivenAsNewest.contains(copies.Stray));
  EXPECT_EQ(copies.Oldest.Pages.size(), 1u);  // taken from where position put it
  EXPECT_EQ(copies.Older.Pages.at(7), copies.Older7);
}

TEST(NewestVersions, NothingMovesWhereTheVersionsDoNotSayWhichIsNewest) {
  // Not newer than the older copy's version (it holds r2 live, deleted there too: no order
  // between r2 and itself, and nothing deleted since): the chain is not whole.
  TThreeCopies same({"r2", "r3"}, {"r1"});
  EXPECT_EQ(same.Give(), 0u);
  EXPECT_TRUE(same.Live.Pages.empty());
  // Both ways: a row deleted in each that the other holds live.
  TThreeCopies crossed({"r1"}, {"r2", "r3"});
  EXPECT_EQ(crossed.Give(), 0u);
  EXPECT_TRUE(crossed.Live.Pages.empty());
}

TEST(NewestVersions, NothingMovesWhereTheVersionsAreNotOnePerCopy) {
  // The live copy's version lost: two versions for three copies, the newer the older copy's
  // perhaps.
  TThreeCopies two({"r3"}, {"r1", "r2"});
  two.Oldest.Pages.erase(7);
  EXPECT_EQ(two.Give(), 0u);
  // A fourth version of the page: some other copy's, whose page 0 was not found.
  TThreeCopies four({"r3"}, {"r1", "r2"});
  const std::size_t extra = four.Store.Add(301, {}, {"r1", "r2", "r3"});
  four.Oldest.Pages.emplace(kUnnumberedPage + 1, extra);
  EXPECT_EQ(four.Give(), 0u);
  // The live copy holds another page at that number already.
  TThreeCopies taken({"r3"}, {"r1", "r2"});
  const std::size_t other = taken.Store.Add(107, {"x"}, {}, 41);
  taken.Live.Pages.emplace(7, other);
  EXPECT_EQ(taken.Give(), 0u);
  EXPECT_EQ(taken.Live.Pages.at(7), other);
}

TEST(NewestVersions, AVersionInPlaceForTheNewestCopyOrAtTwoNumbersMovesNothing) {
  // The live copy's version in place: it is its own already.
  TThreeCopies inPlace({"r3"}, {"r1", "r2"});
  inPlace.Store.Entries[inPlace.Stray].SourceOffset = 107 * kPage;
  inPlace.Oldest.Pages.erase(kUnnumberedPage);
  inPlace.Live.Pages = {{7, inPlace.Stray}};
  EXPECT_EQ(inPlace.Give(), 0u);
  EXPECT_TRUE(inPlace.Live.GivenAsNewest.empty());
  // The older copies' versions in place at different numbers: no one number for them.
  TThreeCopies twoNumbers({"r3"}, {"r1", "r2"});
  twoNumbers.Store.Entries[twoNumbers.Older7].SourceOffset = 508 * kPage;
  twoNumbers.Older.Pages = {{8, twoNumbers.Older7}};
  EXPECT_EQ(twoNumbers.Give(), 0u);
}

TEST(NewestVersions, WhereNoVersionLiesInPlaceTheNewestCopysMapOfTheTablesOnePageNumbersIt) {
  // Every copy's version of the table's one page lies away from its page 0.
  TThreeCopies copies({"r3"}, {"r1", "r2"});
  copies.Store.Entries[copies.Older7].SourceOffset = 700 * kPage;
  copies.Store.Entries[copies.Oldest7].SourceOffset = 800 * kPage;
  EXPECT_EQ(copies.Give(), 0u);  // the map lists several pages, or was not read
  copies.OnlyListed = 9;
  EXPECT_EQ(copies.Give(), 1u);
  EXPECT_EQ(copies.Live.Pages.at(9), copies.Stray);
}

TEST(NewestVersions, APageGivenAsNewestStaysTheNewestCopysWhereOnlyOneOtherHoldsItInPlace) {
  // The older copy's version lies away from its page 0 too: without the chain, the live
  // copy's page 7 would be none of its own for want of the other copies' versions in place.
  TThreeCopies copies({"r3"}, {"r1", "r2"});
  copies.Store.Entries[copies.Older7].SourceOffset = 700 * kPage;
  ASSERT_EQ(copies.Give(), 1u);
  const std::vector<const TDatabasePages*> others{&copies.Older, &copies.Oldest};
  EXPECT_TRUE(
      PagesOfUncertainCopy(copies.Store.Entries, copies.Live, others, copies.Store.RowsOf(), true)
          .empty());
  copies.Live.GivenAsNewest.clear();
  EXPECT_EQ(PagesOfUncertainCopy(copies.Store.Entries, copies.Live, others, copies.Store.RowsOf(),
                                 true),
            (std::vector<std::size_t>{copies.Stray}));
}

}  // namespace
}  // namespace quillon::recover
