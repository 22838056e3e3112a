// The command line's own texts: the progress line, JSON strings and CSV fields.

#include <gtest/gtest.h>

#include "cli/json_output.h"
#include "cli/rows_output.h"
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

// The JSON library does the escaping; bytes that are not UTF-8 must neither make it throw
// nor vanish: each becomes U+00XX, the value a "\u00XX" escape stands for.
TEST(JsonString, EscapesQuotesControlsAndStrayBytes) {
  const auto line = [](const std::string& text) { return JsonLine(TJson(JsonSafeText(text))); };
  EXPECT_EQ(line("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(line("tab\there\x01"), "\"tab\\there\\u0001\"");
  EXPECT_EQ(line("扫描"), "\"扫描\"");
  // GBK bytes, not UTF-8; and a UTF-8 encoded surrogate, which is not valid UTF-8 either.
  EXPECT_EQ(TJson::parse(line("\xB4\xC5")).get<std::string>(), "\u00b4\u00c5");
  EXPECT_EQ(TJson::parse(line("a\xED\xA0\x80")).get<std::string>(), "a\u00ed\u00a0\u0080");
  EXPECT_EQ(TJson::parse(line("\xE6\x89")).get<std::string>(), "\u00e6\u0089");  // cut short
}

TEST(CsvField, QuotesOnlyWhatNeedsIt) {
  EXPECT_EQ(CsvField("Athens 址交"), "Athens 址交");
  EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
  EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(CsvField("two\r\nlines"), "\"two\r\nlines\"");
  EXPECT_EQ(CsvField(""), "");
}

}  // namespace
}  // namespace quillon
