// The command line's own texts: the progress line and JSON strings.

#include <gtest/gtest.h>

#include "cli/json_text.h"
#include "cli/progress_meter.h"

namespace quillon {
namespace {

TEST(ProgressMeter, LineShowsBarPercentRateAndTimeLeft) {
  TProgressMeter meter;
  const auto start = TProgressMeter::TClock::time_point{};
  meter.Start(1'000'000'000, start);
  const auto line = meter.Line(250'000'000, "碎片：3", start + std::chrono::seconds(1), 8);
  EXPECT_EQ(line, "[##......]  25%    250.0 MB/s  0:03 left  碎片：3");
  EXPECT_EQ(meter.Line(0, "", start, 4), "[....]   0%");
  EXPECT_EQ(meter.Line(2'000'000'000, "", start + std::chrono::seconds(2), 4).substr(0, 11),
            "[####] 100%");
}

TEST(ProgressMeter, Durations) {
  EXPECT_EQ(DurationText(0), "0:00");
  EXPECT_EQ(DurationText(125), "2:05");
  EXPECT_EQ(DurationText(3 * 3600 + 61), "3:01:01");
}

TEST(JsonString, EscapesQuotesControlsAndStrayBytes) {
  EXPECT_EQ(JsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(JsonString("tab\there"), "\"tab\\u0009here\"");
  EXPECT_EQ(JsonString("扫描"), "\"扫描\"");
  EXPECT_EQ(JsonString("\xB4\xC5"), "\"\\u00b4\\u00c5\"");  // GBK bytes, not UTF-8
}

}  // namespace
}  // namespace quillon
