// The gauge's own rules: clamping, refused ranges and the truncated percentage.

#include <gtest/gtest.h>

#include <limits>

#include "app/gauge.h"
#include "core/errors.h"

namespace quillon {
namespace {

TEST(Gauge, StartsAtZeroOfHundred) {
  TGauge gauge;
  EXPECT_EQ(gauge.Min(), 0);
  EXPECT_EQ(gauge.Max(), 100);
  EXPECT_EQ(gauge.Percent(), 0);
}

TEST(Gauge, PercentIsTruncated) {
  TGauge gauge;
  gauge.SetMax(1000);
  gauge.SetPosition(999);
  EXPECT_EQ(gauge.Percent(), 99);
  gauge.SetPosition(1000);
  EXPECT_EQ(gauge.Percent(), 100);
  gauge.SetPosition(9);
  EXPECT_EQ(gauge.Percent(), 0);
  gauge.SetMax(std::numeric_limits<std::int32_t>::max());  // no overflow on large ranges
  gauge.SetPosition(std::numeric_limits<std::int32_t>::max() - 1);
  EXPECT_EQ(gauge.Percent(), 99);
}

TEST(Gauge, EqualMinimumAndMaximumReadZero) {
  TGauge gauge;
  gauge.SetMax(0);
  EXPECT_EQ(gauge.Percent(), 0);
  gauge.SetPosition(5);
  EXPECT_EQ(gauge.Position(), 0);
  EXPECT_EQ(gauge.Percent(), 0);
}

TEST(Gauge, PositionIsClampedAndPulledDownByANewMaximum) {
  TGauge gauge;
  gauge.SetPosition(500);
  EXPECT_EQ(gauge.Position(), 100);
  gauge.SetPosition(-3);
  EXPECT_EQ(gauge.Position(), 0);
  gauge.SetPosition(80);
  gauge.SetMax(50);
  EXPECT_EQ(gauge.Position(), 50);
}

TEST(Gauge, InvertedRangesAreRefusedAndChangeNothing) {
  TGauge gauge;
  gauge.SetMin(10);
  EXPECT_THROW(gauge.SetMax(9), EQuillonError);
  EXPECT_EQ(gauge.Max(), 100);
  EXPECT_THROW(gauge.SetMin(101), EQuillonError);
  EXPECT_EQ(gauge.Min(), 10);
  EXPECT_EQ(gauge.Position(), 10);  // a raised minimum pulls the position up
}

}  // namespace
}  // namespace quillon
