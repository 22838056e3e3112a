// The command line as a user types it: --version, the exit statuses in --help, and
// mistyped commands and options named with the nearest valid one.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli/command_line.h"

namespace quillon {
namespace {

struct TParsed {
  std::optional<int> Status;
  std::string Out;
  std::string Err;
  TCommandLine Line;
};

TParsed Parse(std::vector<std::string> arguments) {
  TParsed parsed;
  std::ostringstream out;
  std::ostringstream err;
  parsed.Status = ParseCommandLine(arguments, parsed.Line, out, err);
  parsed.Out = out.str();
  parsed.Err = err.str();
  return parsed;
}

TEST(CommandLine, VersionAndHelpEndWithStatusZeroOnStandardOutput) {
  const TParsed version = Parse({"--version"});
  EXPECT_EQ(version.Status, kExitOk);
  EXPECT_EQ(version.Out, std::string("quillon-cli ") + QUILLON_VERSION + "\n");
  EXPECT_EQ(version.Err, "");

  // Every command's help lists every exit status, the usage error's among them.
  for (const char* command : {"scan", "inspect", "rows", "recover", "sources"}) {
    const TParsed help = Parse({command, "--help"});
    EXPECT_EQ(help.Status, kExitOk) << command;
    for (const char* status : {"\n  0 ", "\n  1 ", "\n  2 ", "\n  3 ", "\n  130 "})
      EXPECT_NE(help.Out.find(status), std::string::npos) << command << " lacks" << status;
  }
  EXPECT_NE(Parse({"--help"}).Out.find("\n  2    a usage error"), std::string::npos);
}

TEST(CommandLine, MistypedNamesAreNamedWithTheNearestValidOne) {
  const struct {
    std::vector<std::string> Arguments;
    std::string FirstLine;
  } cases[] = {
      {{"scna", "a", "b"}, "Unknown command \"scna\". Did you mean \"scan\"?"},
      {{"inpsect", "f"}, "Unknown command \"inpsect\". Did you mean \"inspect\"?"},
      {{"rec", "a", "b"}, "Unknown command \"rec\". Did you mean \"recover\"?"},
      {{"backup"},
       "Unknown command \"backup\". The commands are scan, inspect, rows, recover and sources."},
      {{"--verison"}, "Unknown option \"--verison\". Did you mean \"--version\"?"},
      // Named before the missing OUTPUT it also causes, and with a value after "=".
      {{"scan", "--frce", "a"}, "Unknown option \"--frce\" for scan. Did you mean \"--force\"?"},
      {{"scan", "--indx=list.tsv", "a", "b"},
       "Unknown option \"--indx\" for scan. Did you mean \"--index\"?"},
      {{"rows", "--jsno", "f"}, "Unknown option \"--jsno\" for rows. Did you mean \"--json\"?"},
      // One letter is a typo of nothing: no guess.
      {{"rows", "-x", "f"}, "Unknown option \"-x\" for rows."},
  };
  for (const auto& c : cases) {
    const TParsed parsed = Parse(c.Arguments);
    EXPECT_EQ(parsed.Status, kExitUsage) << c.FirstLine;
    EXPECT_EQ(parsed.Err.substr(0, parsed.Err.find('\n')), c.FirstLine);
    EXPECT_EQ(parsed.Out, "");
  }
}

TEST(CommandLine, OtherUsageErrorsKeepStatusTwoAndAValidLineRuns) {
  const TParsed none = Parse({});
  EXPECT_EQ(none.Status, kExitUsage);
  EXPECT_EQ(none.Err.substr(0, none.Err.find('\n')),
            "A command is required: scan, inspect, rows, recover or sources.");
  const TParsed missing = Parse({"scan", "image.img"});
  EXPECT_EQ(missing.Status, kExitUsage);
  EXPECT_NE(missing.Err.find("OUTPUT"), std::string::npos) << missing.Err;
  EXPECT_EQ(Parse({"scan", "a", "b", "c"}).Status, kExitUsage);

  const TParsed valid = Parse({"scan", "-f", "--index", "-", "disk.img", "out.frag"});
  ASSERT_FALSE(valid.Status.has_value()) << valid.Err;
  EXPECT_EQ(valid.Line.Command, TCliCommand::Scan);
  EXPECT_EQ(valid.Line.Scan.Source, "disk.img");
  EXPECT_EQ(valid.Line.Scan.Output, "out.frag");
  EXPECT_EQ(valid.Line.Scan.Index, "-");
  EXPECT_TRUE(valid.Line.Scan.Force);
}

TEST(NearestName, SlipsAreFoundAndDistantWordsAreNot) {
  const std::vector<std::string> commands{"scan", "inspect", "rows", "recover", "sources"};
  EXPECT_EQ(NearestName("scna", commands), "scan");   // two letters swapped
  EXPECT_EQ(NearestName("sorces", commands), "sources");  // one missing
  EXPECT_EQ(NearestName("rowss", commands), "rows");  // one extra
  EXPECT_EQ(NearestName("r", commands), "") << "one letter starts two names";
  EXPECT_EQ(NearestName("reco", commands), "recover");
  EXPECT_EQ(NearestName("delete", commands), "");
  EXPECT_EQ(NearestName("", commands), "");
}

}  // namespace
}  // namespace quillon

namespace quillon {
namespace {

// --lang before the command or among its options; without it nothing is chosen here (the
// program then takes the system's); any other word is a usage error that names it.
TEST(CommandLine, LangChoosesTheLanguageBeforeOrAfterTheCommand) {
  EXPECT_EQ(Parse({"scan", "a", "b"}).Line.Language, std::nullopt);
  const TParsed before = Parse({"--lang", "en", "scan", "a", "b"});
  EXPECT_EQ(before.Status, std::nullopt) << before.Err;
  EXPECT_EQ(before.Line.Language, TLanguage::English);
  const TParsed after = Parse({"recover", "a", "b", "--lang=zh"});
  EXPECT_EQ(after.Status, std::nullopt) << after.Err;
  EXPECT_EQ(after.Line.Command, TCliCommand::Recover);
  EXPECT_EQ(after.Line.Language, TLanguage::Chinese);
  EXPECT_EQ(Parse({"sources", "--lang", "en"}).Line.Language, TLanguage::English);

  for (const char* wrong : {"fr", "zh_CN", "EN", ""}) {
    const TParsed refused = Parse({"scan", "--lang", wrong, "a", "b"});
    EXPECT_EQ(refused.Status, kExitUsage) << wrong;
    EXPECT_NE(refused.Err.find("--lang"), std::string::npos) << refused.Err;
  }
  EXPECT_NE(Parse({"scan", "--help"}).Out.find("--lang"), std::string::npos);
}

}  // namespace
}  // namespace quillon
