// The two languages: how the language is chosen, how a text's parts are filled in, and
// that docs/texts.md lists every text of the table as it is.

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "app/language.h"
#include "app/texts.h"

namespace quillon {
namespace {

TEST(LanguageTest, TheFirstLocaleVariableThatIsSetDecides) {
  using TVariables = std::map<std::string, std::string>;
  const auto of = [](const TVariables& variables) {
    return LanguageOfLocale([&](const char* name) {
      const auto found = variables.find(name);
      return found == variables.end() ? std::string() : found->second;
    });
  };
  EXPECT_EQ(of({}), TLanguage::English);  // nothing set: English
  EXPECT_EQ(of({{"LANG", "zh_CN.UTF-8"}}), TLanguage::Chinese);
  EXPECT_EQ(of({{"LANG", "zh_TW.UTF-8"}}), TLanguage::Chinese);
  EXPECT_EQ(of({{"LANG", "zh"}}), TLanguage::Chinese);
  EXPECT_EQ(of({{"LANG", "en_US.UTF-8"}}), TLanguage::English);
  EXPECT_EQ(of({{"LANG", "C.UTF-8"}}), TLanguage::English);
  EXPECT_EQ(of({{"LANG", "POSIX"}}), TLanguage::English);
  EXPECT_EQ(of({{"LANG", "de_DE.UTF-8"}}), TLanguage::English);
  // LANGUAGE, LC_ALL, LC_MESSAGES, LANG in that order; an empty one counts as unset.
  EXPECT_EQ(of({{"LANG", "zh_CN.UTF-8"}, {"LC_MESSAGES", "C"}}), TLanguage::English);
  EXPECT_EQ(of({{"LANG", "en_US.UTF-8"}, {"LC_MESSAGES", "zh_CN.UTF-8"}}), TLanguage::Chinese);
  EXPECT_EQ(of({{"LC_MESSAGES", "en_US.UTF-8"}, {"LC_ALL", "zh_CN.UTF-8"}}), TLanguage::Chinese);
  EXPECT_EQ(of({{"LC_ALL", "C"}, {"LANGUAGE", "zh_CN:en"}}), TLanguage::Chinese);
  EXPECT_EQ(of({{"LANG", "zh_CN.UTF-8"}, {"LANGUAGE", "en_GB:zh_CN"}}), TLanguage::English);
  EXPECT_EQ(of({{"LANG", "zh_CN.UTF-8"}, {"LANGUAGE", ""}, {"LC_ALL", ""}}), TLanguage::Chinese);
  // "zh" at the start of the value, not anywhere in it.
  EXPECT_EQ(of({{"LANG", "en_US.zh"}}), TLanguage::English);
}

TEST(LanguageTest, TheOptionNamesExactlyTwoLanguages) {
  EXPECT_EQ(LanguageNamed("zh"), TLanguage::Chinese);
  EXPECT_EQ(LanguageNamed("en"), TLanguage::English);
  EXPECT_EQ(LanguageNamed("zh_CN"), std::nullopt);
  EXPECT_EQ(LanguageNamed("EN"), std::nullopt);
  EXPECT_EQ(LanguageNamed(""), std::nullopt);
}

TEST(LanguageTest, FillPutsEachValueInOnceAndNeverReadsTheValues) {
  EXPECT_EQ(Fill("碎片：{N}", {{"N", "12"}}), "碎片：12");
  EXPECT_EQ(Fill("{X} of {Y} ({Z}%)", {{"Z", "3"}, {"X", "1"}, {"Y", "2"}}), "1 of 2 (3%)");
  // A path that holds a part's name in braces is copied as it is.
  EXPECT_EQ(Fill("{PATH} and {N}", {{"PATH", "/a/{N}/b"}, {"N", "5"}}), "/a/{N}/b and 5");
  // An unknown part, an unclosed brace and a text without parts stay as written.
  EXPECT_EQ(Fill("a {Q} b", {{"N", "1"}}), "a {Q} b");
  EXPECT_EQ(Fill("a {N", {{"N", "1"}}), "a {N");
  EXPECT_EQ(Fill("完成！", {}), "完成！");
  EXPECT_EQ(Fill("", {}), "");
  EXPECT_EQ(FixedStart("未完成的扫描文件保留为: {PATH}"), "未完成的扫描文件保留为: ");
  EXPECT_EQ(FixedStart("完成！"), "完成！");
}

// The Chinese lines as the window always wrote them, from the table.
TEST(LanguageTest, TheChineseLinesAreTheKnownOnes) {
  const TLanguage zh = TLanguage::Chinese;
  EXPECT_EQ(Fill(texts::kUnreadable, zh, {{"N", "1536"}, {"M", "2"}}),
            "无法读取 1536 字节（共 2 处），已按零处理；其余数据均已扫描。");
  EXPECT_EQ(Fill(texts::kStopped, zh, {{"X", "262144"}, {"Y", "1048576"}, {"Z", "25"}}),
            "扫描已停止于第 262144 字节（共 1048576 字节，25%）；之后的数据没有扫描。");
  EXPECT_EQ(Fill(texts::kRecoveryDone, zh,
                 {{"D", "1"}, {"T", "2"}, {"R", "3"}, {"PATH", "/out"}}),
            "恢复完成：1 个数据库，2 张表，3 行数据，保存在: /out");
  EXPECT_EQ(Fill(texts::kOutputOnSourceDevice, zh, {{"PATH", "/mnt/a"}, {"DISK", "/dev/sdb"}}),
            "保存文件 \"/mnt/a\" 位于要扫描的磁盘 /dev/sdb 上。写入它会覆盖这个磁盘的空闲空间，"
            "而要恢复的数据可能就在那里。请把文件保存到另一个磁盘。\n\n仍要继续扫描吗？");
}

// Both forms of a text fill in the same parts: an English text never loses a value, nor
// names one the program does not give.
TEST(LanguageTest, BothFormsOfATextHaveTheSameParts) {
  const auto parts = [](std::string_view text) {
    std::multiset<std::string> names;
    for (std::size_t open = text.find('{'); open != std::string_view::npos;
         open = text.find('{', open + 1)) {
      names.insert(std::string(text.substr(open, text.find('}', open) - open + 1)));
    }
    return names;
  };
  for (const TText* text : texts::kAllTexts) {
    EXPECT_EQ(parts(text->Chinese), parts(text->English)) << text->Chinese;
    EXPECT_NE(std::string(text->English), "") << text->Chinese;
  }
}

// One row of docs/texts.md: "| Chinese | where | English |", <br> standing for a line break.
std::vector<std::string> Cells(const std::string& line) {
  std::vector<std::string> cells;
  std::size_t at = 1;
  while (at < line.size()) {
    const std::size_t end = line.find(" |", at);
    if (end == std::string::npos) break;
    std::string cell = line.substr(at, end - at);
    if (!cell.empty() && cell.front() == ' ') cell.erase(0, 1);
    for (std::size_t br = cell.find("<br>"); br != std::string::npos; br = cell.find("<br>"))
      cell.replace(br, 4, "\n");
    cells.push_back(cell);
    at = end + 2;
  }
  return cells;
}

TEST(LanguageTest, TheDocumentListsEveryTextOfTheTableAsItIs) {
  std::ifstream doc(QUILLON_DOCS_DIR "/texts.md");
  ASSERT_TRUE(doc.good()) << "cannot read " QUILLON_DOCS_DIR "/texts.md";
  std::set<std::pair<std::string, std::string>> listed;
  std::string line;
  while (std::getline(doc, line)) {
    if (line.rfind("| ", 0) != 0) continue;
    const std::vector<std::string> cells = Cells(line);
    if (cells.size() != 3 || cells[0] == "Chinese") continue;  // the heading
    // The customer-service label is a build setting: the doc shows its defaults.
    if (cells[1].find("build setting") != std::string::npos) continue;
    listed.insert({cells[0], cells[2]});
  }
  std::set<std::pair<std::string, std::string>> table;
  for (const TText* text : texts::kAllTexts) table.insert({text->Chinese, text->English});
  for (const auto& [chinese, english] : table) {
    EXPECT_TRUE(listed.contains({chinese, english})) << "not in docs/texts.md: " << chinese
                                                     << " | " << english;
  }
  for (const auto& [chinese, english] : listed) {
    EXPECT_TRUE(table.contains({chinese, english})) << "not in app/texts.h: " << chinese
                                                    << " | " << english;
  }
}

}  // namespace
}  // namespace quillon
