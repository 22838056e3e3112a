// Telling definitions of one shape apart by the pages their usage maps list.

#include <gtest/gtest.h>

#include "recover/map_ties.h"

namespace quillon::recover {
namespace {

TMapHypothesis Hypothesis(std::size_t definition, std::uint32_t owner,
                          std::optional<std::set<std::uint32_t>> listed,
                          std::set<std::uint32_t> nearby = {}) {
  TMapHypothesis hypothesis;
  hypothesis.Definition = definition;
  hypothesis.Owner = owner;
  hypothesis.Listed = std::move(listed);
  hypothesis.HeldNearby = std::move(nearby);
  return hypothesis;
}

TEST(MapTies, AMapWhoseListedPagesCarryTheOwnerTiesItsDefinitionAndNoOther) {
  // Definitions at store pages 7 and 8 fit the rows of tables 96 and 100 alike. Read as
  // 96's, page 7's map lists 120, where a page of 96 is numbered; read as 100's it lists
  // 131, which holds a page of 100. Page 8 read as either gives maps whose places hold
  // other tables' pages, or nothing numbered.
  const TOwnerAt numbered = {{120, 96}, {131, 100}, {140, 55}};
  const std::vector<TMapHypothesis> hypotheses = {
      Hypothesis(7, 96, std::set<std::uint32_t>{120}),
      Hypothesis(7, 100, std::set<std::uint32_t>{140}),
      Hypothesis(8, 96, std::set<std::uint32_t>{131}),
      Hypothesis(8, 100, std::set<std::uint32_t>{131})};
  EXPECT_EQ(TieByUsageMaps(hypotheses, numbered), (std::vector<std::size_t>{0, 3}));
}

TEST(MapTies, NothingIsTiedWithoutAPageSeenOrAgainstAPageThatDisagrees) {
  // Nothing it lists is numbered or seen nearby: no evidence either way.
  EXPECT_TRUE(TieByUsageMaps({Hypothesis(7, 96, std::set<std::uint32_t>{120})}, {}).empty());
  // One listed page carries the owner, another listed place holds a definition page or
  // another table's page: the map is not this table's.
  EXPECT_TRUE(TieByUsageMaps({Hypothesis(7, 96, std::set<std::uint32_t>{120, 121})},
                             {{120, 96}, {121, kNotDataPage}})
                  .empty());
  EXPECT_TRUE(TieByUsageMaps({Hypothesis(7, 96, std::set<std::uint32_t>{120, 121})},
                             {{120, 96}, {121, 97}})
                  .empty());
  // An unreadable or empty map says nothing.
  EXPECT_TRUE(TieByUsageMaps({Hypothesis(7, 96, std::nullopt)}, {{120, 96}}).empty());
  EXPECT_TRUE(TieByUsageMaps({Hypothesis(7, 96, std::set<std::uint32_t>{})}, {{120, 96}}).empty());
}

TEST(MapTies, APageSeenAtItsDistanceCountsOnlyWhereItsNumberIsNotKnown) {
  // 300 and 302 lie at their distances from the definition and carry the owner; the
  // numbered pages the map lists agree or are not there (lost).
  EXPECT_EQ(TieByUsageMaps({Hypothesis(7, 295, std::set<std::uint32_t>{201, 300, 302},
                                       {300, 302})},
                           {}),
            (std::vector<std::size_t>{0}));
  // A certain number holding another page outweighs what lies nearby.
  EXPECT_TRUE(TieByUsageMaps({Hypothesis(7, 295, std::set<std::uint32_t>{201, 300, 302},
                                         {300, 302})},
                             {{201, 44}})
                  .empty());
}

TEST(MapTies, TwoHypothesesThatHoldForOneDefinitionOrOneOwnerTieNeither) {
  const TOwnerAt numbered = {{120, 96}, {131, 100}};
  // Page 7 would be 96's and 100's alike (both maps read so find their pages).
  EXPECT_TRUE(TieByUsageMaps({Hypothesis(7, 96, std::set<std::uint32_t>{120}),
                              Hypothesis(7, 100, std::set<std::uint32_t>{131})},
                             numbered)
                  .empty());
  // Table 96 would have two definitions: neither is tied, the other table's still is.
  EXPECT_EQ(TieByUsageMaps({Hypothesis(7, 96, std::set<std::uint32_t>{120}),
                            Hypothesis(8, 96, std::set<std::uint32_t>{120}),
                            Hypothesis(9, 100, std::set<std::uint32_t>{131})},
                           numbered),
            (std::vector<std::size_t>{2}));
}

}  // namespace
}  // namespace quillon::recover
