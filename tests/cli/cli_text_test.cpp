// The command line's own texts: the progress line, JSON strings and CSV fields.

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "cli/commands.h"
#include "cli/json_output.h"
#include "cli/rows_output.h"
#include "cli/progress_line.h"
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

// A resumed scan: the bar counts the earlier run's bytes, the rate and time left only this
// run's.
TEST(ProgressMeter, AResumedScansRateCountsOnlyWhatThisRunScanned) {
  TProgressMeter meter;
  const auto start = TProgressMeter::TClock::time_point{};
  meter.Start(1'000'000'000, start, 600'000'000);
  EXPECT_EQ(meter.Line(700'000'000, "", start + std::chrono::seconds(1), 10),
            "[#######...]  70%    100.0 MB/s  0:03 left");
  EXPECT_EQ(meter.Line(600'000'000, "", start + std::chrono::seconds(1), 10),
            "[######....]  60%");
}

TEST(ProgressMeter, Durations) {
  EXPECT_EQ(DurationText(0), "0:00");
  EXPECT_EQ(DurationText(125), "2:05");
  EXPECT_EQ(DurationText(3 * 3600 + 61), "3:01:01");
}

// The longest line a scan draws: a four-digit rate, hours left and a nine-digit count.
TEST(ProgressMeter, TheLongestLineFitsAnEightyColumnConsole) {
  TProgressMeter meter;
  const auto start = TProgressMeter::TClock::time_point{};
  meter.Start(100'000'000'000'000, start);
  const std::string status = "碎片：123456789";
  const auto now = start + std::chrono::seconds(4000);
  const std::int64_t done = 12'000'000'000'000;
  ASSERT_GT(TerminalColumns(meter.Line(done, status, now)), 79);
  const std::string fitted = meter.FittedLine(done, status, now, 79);
  EXPECT_LE(TerminalColumns(fitted), 79);
  EXPECT_NE(fitted.find("3000.0 MB/s  8:08:53 left  " + status), std::string::npos)
      << "the bar gives way, not the figures: " << fitted;
  EXPECT_EQ(fitted.rfind("[###", 0), 0u) << fitted;
}

TEST(TerminalColumns, WideCharactersTakeTwoAndAreNeverCutInHalf) {
  EXPECT_EQ(TerminalColumns("abc"), 3);
  EXPECT_EQ(TerminalColumns("碎片：12"), 8);  // the full-width colon is wide too
  EXPECT_EQ(TerminalColumns("é"), 1);
  EXPECT_EQ(FitColumns("ab碎片", 3), "ab");
  EXPECT_EQ(FitColumns("ab碎片", 4), "ab碎");
  EXPECT_EQ(FitColumns("abc", 10), "abc");
  EXPECT_EQ(FitColumns("a\xE6\x89", 2), "a\xE6") << "a cut sequence counts byte by byte";
}

// Records what the progress line writes, as a console with or without escape sequences.
class TRecordedConsole : public IConsoleOutput {
 public:
  explicit TRecordedConsole(bool escapes) : escapes_(escapes) {}
  void Write(std::FILE* stream, std::string_view text) override {
    EXPECT_EQ(stream, stderr);
    Written.emplace_back(text);
  }
  bool TakesEscapes(std::FILE*) override { return escapes_; }
  std::vector<std::string> Written;

 private:
  bool escapes_;
};

TEST(ProgressLine, AClassicConsoleGetsSpacesInsteadOfEscapes) {
  TRecordedConsole classic(false);
  TProgressLine line(stderr, classic);
  line.Show(std::string(70, '#') + " 碎片：123456");  // 83 columns, cut to 79
  line.Show("short");
  line.Clear();
  line.Clear();  // nothing more: the line is gone
  ASSERT_EQ(classic.Written.size(), 3u);
  EXPECT_EQ(classic.Written[0], "\r" + std::string(70, '#') + " 碎片：12");
  EXPECT_EQ(classic.Written[1], "\rshort" + std::string(74, ' ')) << "the longer line is covered";
  EXPECT_EQ(classic.Written[2], "\r" + std::string(5, ' ') + "\r");
  for (const std::string& text : classic.Written) {
    EXPECT_EQ(text.find('\033'), std::string::npos) << "shown as ←[K by a classic console";
  }

  TRecordedConsole modern(true);
  TProgressLine drawn(stderr, modern);
  drawn.Show("line");
  drawn.Clear();
  EXPECT_EQ(modern.Written, (std::vector<std::string>{"\rline\033[K", "\r\033[K"}));
}

// The JSON library does the escaping; bytes that are not UTF-8 must neither make it throw
// nor vanish unmarked: each becomes U+FFFD, as on the report page.
TEST(JsonString, EscapesQuotesControlsAndStrayBytes) {
  const auto line = [](const std::string& text) { return JsonLine(TJson(JsonSafeText(text))); };
  EXPECT_EQ(line("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(line("tab\there\x01"), "\"tab\\there\\u0001\"");
  EXPECT_EQ(line("扫描"), "\"扫描\"");
  // GBK bytes, not UTF-8; and a UTF-8 encoded surrogate, which is not valid UTF-8 either.
  EXPECT_EQ(TJson::parse(line("\xB4\xC5")).get<std::string>(), "\ufffd\ufffd");
  EXPECT_EQ(TJson::parse(line("a\xED\xA0\x80")).get<std::string>(), "a\ufffd\ufffd\ufffd");
  EXPECT_EQ(TJson::parse(line("\xE6\x89")).get<std::string>(), "\ufffd\ufffd");  // cut short
  // A string that skipped JsonSafeText still gives a line, repaired by the same rule.
  TJson raw;
  raw["path"] = std::string("/tmp/\xCA\xFD\xBE\xDD");  // GBK for 数据
  EXPECT_EQ(TJson::parse(JsonLine(raw))["path"].get<std::string>(),
            "/tmp/\ufffd\ufffd\ufffd\ufffd");
}

// A line with a path of another code page is shown repaired and fitted by whole characters.
TEST(ProgressLine, BytesThatAreNotUtf8AreShownAsReplacements) {
  TRecordedConsole modern(true);
  TProgressLine drawn(stderr, modern);
  drawn.Show("out/\xBB\xD6\xE4\xB8");
  ASSERT_EQ(modern.Written.size(), 1u);
  EXPECT_EQ(modern.Written[0], "\rout/\uFFFD\uFFFD\uFFFD\uFFFD\033[K");
  EXPECT_EQ(TerminalColumns("a\xE4\xB8"), 3);  // a cut sequence: two bad bytes
  EXPECT_EQ(FitColumns("\xE4\xB8" "ab", 1), "\xE4");
}

TEST(CsvField, QuotesOnlyWhatNeedsIt) {
  EXPECT_EQ(CsvField("Athens 址交"), "Athens 址交");
  EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
  EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
  EXPECT_EQ(CsvField("two\r\nlines"), "\"two\r\nlines\"");
  EXPECT_EQ(CsvField(""), "");
}

TEST(SourcesWarning, SaysWhatTheSystemSaidAndOnlyAsksForRightsWhereTheyHelp) {
  // Root in a container whose device rules forbid the disks: EPERM, not a want of rights.
  const std::string held = DevicesRefusedText("/dev/sda: Operation not permitted", false);
  EXPECT_EQ(held.find("/dev/sda: Operation not permitted"), 40u) << held;
  EXPECT_EQ(held.find("needs administrator"), std::string::npos) << held;
  EXPECT_NE(held.find("do not lift"), std::string::npos) << held;
  // A user without the rights: the request for them, with the system's words after it.
  const std::string user = DevicesRefusedText("/dev/sda: Permission denied", true);
  EXPECT_EQ(user.rfind("Drives and volumes could not be opened: that needs administrator (root) rights.", 0), 0u);
  EXPECT_TRUE(user.ends_with(" (/dev/sda: Permission denied)")) << user;
  EXPECT_TRUE(DevicesRefusedText("", true).ends_with("to see them all."));
}

}  // namespace
}  // namespace quillon
