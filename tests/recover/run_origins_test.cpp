// One file per origin along a run: pieces of one run numbered from one origin that would go
// to different databases give way to the database with the better claim.

#include <gtest/gtest.h>

#include "recover/run_origins.h"

namespace quillon::recover {
namespace {

constexpr std::size_t kA = 0, kB = 1;
const TRunOrigin kRun3 = {3, 4096 * 100};

TEST(PiecesGivingWay, AStretchOfOneOriginGoesToTheDatabaseItsPagesWentToBefore) {
  // One piece for A, two for B: B has more, but A's pages at that origin were placed
  // before (its other tables' pieces, from their own catalog's names).
  const std::vector<TPieceClaim> claims = {{kA, kRun3}, {kB, kRun3}, {kB, kRun3}};
  EXPECT_EQ(PiecesGivingWay(claims, {{kRun3, {kA}}}), (std::vector<bool>{false, true, true}));
  // Pages of both placed there before: nothing tells which is right, so neither.
  EXPECT_EQ(PiecesGivingWay(claims, {{kRun3, {kA, kB}}}), (std::vector<bool>{true, true, true}));
  // A piece alone for a database other than the one the stretch went to gives way too.
  EXPECT_EQ(PiecesGivingWay({{kB, kRun3}}, {{kRun3, {kA}}}), (std::vector<bool>{true}));
}

TEST(PiecesGivingWay, ADatabaseLyingBesideThePieceDoesNotTakeItsStretch) {
  // A's pages were placed before at the origin, but lie beside B's piece (another file's
  // piece can begin where one file's piece ends) and its stretch is not A's: B keeps it.
  const std::vector<TPieceClaim> claims = {{kB, kRun3}};
  EXPECT_EQ(PiecesGivingWay(claims, {{kRun3, {kA}}}, {{kA}}), (std::vector<bool>{false}));
  // Beside for one claim only: another claim of the same origin still gives way.
  EXPECT_EQ(PiecesGivingWay({{kB, kRun3}, {kB, kRun3}}, {{kRun3, {kA}}}, {{kA}, {}}),
            (std::vector<bool>{false, true}));
  // With B's pages there too, B's claim is the one the stretch went to before.
  EXPECT_EQ(PiecesGivingWay(claims, {{kRun3, {kA, kB}}}, {{kA}}), (std::vector<bool>{false}));
  // Rivals of the same origin are still weighed: A's own claim there stands, B's ties
  // with it and gives way.
  EXPECT_EQ(PiecesGivingWay({{kB, kRun3}, {kA, kRun3}}, {{kRun3, {kA}}}, {{kA}, {}}),
            (std::vector<bool>{true, false}));
}

TEST(PiecesGivingWay, WithoutPagesPlacedBeforeTheDatabaseOfMostPiecesKeepsThemAndATieKeepsNone) {
  const std::vector<TPieceClaim> most = {{kA, kRun3}, {kB, kRun3}, {kA, kRun3}, {kA, kRun3}};
  EXPECT_EQ(PiecesGivingWay(most, {}), (std::vector<bool>{false, true, false, false}));
  const std::vector<TPieceClaim> tie = {{kA, kRun3}, {kB, kRun3}};
  EXPECT_EQ(PiecesGivingWay(tie, {{kRun3, {}}}), (std::vector<bool>{true, true}));
}

TEST(PiecesGivingWay, OtherOriginsAndOtherRunsAreNoRivals) {
  // The same run at another origin is another file's stretch (or the same file's piece
  // placed apart), and another run is another stretch: each claim there stands alone.
  const TRunOrigin otherOrigin = {3, 4096 * 7};
  const TRunOrigin otherRun = {4, 4096 * 100};
  const std::vector<TPieceClaim> claims = {{kA, kRun3}, {kB, otherOrigin}, {kB, otherRun},
                                           {kA, kRun3}};
  EXPECT_EQ(PiecesGivingWay(claims, {{kRun3, {kA}}, {otherRun, {kB}}}),
            (std::vector<bool>{false, false, false, false}));
}

}  // namespace
}  // namespace quillon::recover
