// report.html: what came from the disk stays text on the page, the embedded rows read back
// exactly as the CSV has them, and a report that cannot be written whole is never left
// under its name.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "core/errors.h"
#include "recover/recovery.h"
#include "recover/recovery_report.h"
#include "recover/report_html.h"
#include "support/memory_file_system.h"

namespace quillon::recover {
namespace {

class TNoProgress : public IRecoveryProgress {
 public:
  void Progress(const std::string&, std::int64_t, std::int64_t) override {}
};

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

int Occurrences(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The JSON arrays embedded in the page, in order.
std::vector<nlohmann::json> EmbeddedRows(const std::string& page) {
  std::vector<nlohmann::json> blocks;
  const std::string open = "<script type=\"application/json\">", close = "</script>";
  for (std::size_t at = page.find(open); at != std::string::npos; at = page.find(open, at)) {
    at += open.size();
    const std::size_t end = page.find(close, at);
    blocks.push_back(nlohmann::json::parse(page.substr(at, end - at)));
  }
  return blocks;
}

TEST(ReportHtmlText, EscapesMarkupAndRepairsBytesThatAreNotUtf8) {
  EXPECT_EQ(HtmlText("<b a='1'>\"&\"</b>"),
            "&lt;b a=&#39;1&#39;&gt;&quot;&amp;&quot;&lt;/b&gt;");
  EXPECT_EQ(HtmlText("客户 Müller"), "客户 Müller");
  // overlong '/', a surrogate, beyond U+10FFFF, a sequence cut short, a lone continuation, NUL
  const std::string bad =
      std::string("a\xC0\xAF" "b\xED\xA0\x80" "c\xF4\x90\x80\x80" "d\xE4\xB8" "e\x80") +
      std::string(1, '\0') + "f";
  const std::string fffd = "\xEF\xBF\xBD";
  EXPECT_EQ(ValidUtf8(bad), "a" + fffd + fffd + "b" + fffd + fffd + fffd + "c" + fffd + fffd +
                                fffd + fffd + "d" + fffd + fffd + "e" + fffd + fffd + "f");
  EXPECT_EQ(HtmlText(bad), ValidUtf8(bad));

  // Nothing in a JSON string can end the script element or the string, whatever it holds.
  const std::string hostile = "</script><script>alert(1)</script>\xE2\x80\xA8\xE2\x80\xA9\"\\\n\x01&";
  const std::string json = JsonText(hostile);
  EXPECT_EQ(json.find('<'), std::string::npos);
  EXPECT_EQ(json.find('>'), std::string::npos);
  EXPECT_EQ(json.find("\xE2\x80\xA8"), std::string::npos);
  EXPECT_EQ(json.find("\xE2\x80\xA9"), std::string::npos);
  EXPECT_EQ(json.find('\n'), std::string::npos);
  EXPECT_EQ(nlohmann::json::parse(json).get<std::string>(), hostile);
  EXPECT_EQ(nlohmann::json::parse(JsonText(bad)).get<std::string>(), ValidUtf8(bad));
}

class ReportOfMadeUpRecovery : public ::testing::Test {
 protected:
  void SetUp() override {
    TDatabaseReport database;
    database.Number = 1;
    database.FirstPageOffset = 4096;
    database.LastPageOffset = 65536;
    database.SqlitePath = "out/database-1.sqlite";
    database.CsvFolder = "out/database-1";
    TTableReport table;
    table.Name = "</script><img src=x onerror=alert(1)>";
    table.Columns = 3;
    table.ColumnList = {{"金额 <Amount>", "CURRENCY TEXT"}, {"When", "DATETIME"}, {"Note", "LONGTEXT"}};
    table.Rows = 4;
    table.DeletedRows = 1;
    table.Parts = {{table.Name, "out/database-1/t (1).csv", 4},
                   {table.Name + " (deleted)", "out/database-1/t (deleted).csv", 1}};
    database.Tables.push_back(table);
    report_.Databases.push_back(database);
    report_.PagesInStore = 17;

    const std::string longMemo = std::string(39, 'x') + "长长";  // the limit falls inside 长
    fileSystem_.Put("out/database-1/t (1).csv",
                    Bytes("\xEF\xBB\xBF\"金额 <Amount>\",When,Note\r\n"
                          "12345678901234.5678,2024-02-29 13:05:00,\"</script><script>alert(2)"
                          "</script>\"\r\n"
                          "0.0001,,\"two\r\nlines, \"\"quoted\"\"\xE2\x80\xA8\"\r\n"
                          "-922337203685477.5808,1899-12-30 00:00:00,bad \xFF byte\r\n" +
                          ("1,," + longMemo + "\r\n")));
    fileSystem_.Put("out/database-1/t (deleted).csv",
                    Bytes("\xEF\xBB\xBF\"金额 <Amount>\",When,Note\r\n3.5000,,gone\r\n"));
  }

  std::string Write(std::size_t rowsPerTable) {
    TNoProgress progress;
    const std::string path = WriteReportHtml(
        report_, fileSystem_,
        {.OutputDir = "out", .Source = "disk<1>.img", .RowsPerTable = rowsPerTable,
         .CellBytes = 40},
        progress);
    EXPECT_EQ(path, "out/report.html");
    EXPECT_FALSE(fileSystem_.Find("out/report.html.partial"));
    const auto file = fileSystem_.Find(path);
    return file ? std::string(file->Data.begin(), file->Data.end()) : std::string();
  }

  TRecoveryReport report_;
  quillon::testing::TMemoryFileSystem fileSystem_;
};

TEST_F(ReportOfMadeUpRecovery, KeepsEveryValueAsTextAndRunsOnlyItsOwnScript) {
  const std::string page = Write(5000);
  // The page's own script and one data block per part: nothing from the disk opened another.
  EXPECT_EQ(Occurrences(page, "<script"), 3);
  EXPECT_EQ(Occurrences(page, "</script>"), 3);
  EXPECT_EQ(page.find("<img"), std::string::npos);
  EXPECT_NE(page.find("&lt;/script&gt;&lt;img src=x onerror=alert(1)&gt;"), std::string::npos);
  EXPECT_NE(page.find("金额 &lt;Amount&gt;"), std::string::npos);
  EXPECT_NE(page.find("disk&lt;1&gt;.img"), std::string::npos);
  EXPECT_NE(page.find("CURRENCY TEXT"), std::string::npos);
  EXPECT_NE(page.find("<meta charset=\"utf-8\">"), std::string::npos);
  EXPECT_NE(page.find("4096 (0x1000)"), std::string::npos);

  const std::vector<nlohmann::json> blocks = EmbeddedRows(page);
  ASSERT_EQ(blocks.size(), 2u);
  ASSERT_EQ(blocks[0].size(), 4u);
  // Money and dates as the CSV has them: strings, every digit kept.
  EXPECT_EQ(blocks[0][0], nlohmann::json({"12345678901234.5678", "2024-02-29 13:05:00",
                                          "</script><script>alert(2)</script>"}));
  EXPECT_EQ(blocks[0][1], nlohmann::json({"0.0001", "", "two\r\nlines, \"quoted\"\xE2\x80\xA8"}));
  EXPECT_EQ(blocks[0][2][0], "-922337203685477.5808");
  EXPECT_EQ(blocks[0][2][2], "bad \xEF\xBF\xBD byte");
  // A value longer than the limit is cut at a character and marked; the note says where the
  // whole value is.
  EXPECT_EQ(blocks[0][3][2], std::string(39, 'x') + "\xE2\x80\xA6");
  EXPECT_NE(page.find("Long values are cut"), std::string::npos);
  EXPECT_EQ(blocks[1], nlohmann::json::parse(R"([["3.5000","","gone"]])"));
  EXPECT_NE(page.find("已删除的行 deleted rows"), std::string::npos);
}

TEST_F(ReportOfMadeUpRecovery, EmbedsTheFirstRowsAndPointsToTheFilesForTheRest) {
  const std::string page = Write(2);
  const std::vector<nlohmann::json> blocks = EmbeddedRows(page);
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0].size(), 2u);
  EXPECT_EQ(blocks[1].size(), 1u);
  EXPECT_NE(page.find("Only the first 2 of 4 rows are shown"), std::string::npos);
  EXPECT_NE(page.find("<a href=\"database-1/t%20%281%29.csv\">"), std::string::npos);
  EXPECT_NE(page.find("<a href=\"database-1.sqlite\">"), std::string::npos);
}

TEST_F(ReportOfMadeUpRecovery, SaysWhereEveryPageWentAndHowEachDatabaseWasPlaced) {
  report_.PagesInDatabases = 12;
  report_.PagesSetApart = 3;
  report_.PagesUnplaced = 2;
  TDatabaseReport& first = report_.Databases[0];
  first.PiecesPlaced = true;
  first.PagesSetApart = {{"database-2", 4, 8192, 20480}, {"", 3, 4096, 12288}};
  TDatabaseReport second;
  second.Number = 2;
  second.Name = "database-2";
  second.InOrder = false;
  TDatabaseReport unplaced;
  unplaced.Name = "unplaced";
  unplaced.Unplaced = true;
  unplaced.Pages = 5;
  unplaced.PagesSetApartRead = 3;
  report_.Databases.push_back(second);
  report_.Databases.push_back(unplaced);
  const std::string page = Write(5000);
  EXPECT_NE(page.find("12 页属于数据库 in databases, 3 页被数据库分开、无数据库取用 set apart by "
                      "a database as none of its own, 2 页不属于任何数据库 tied to no database"),
            std::string::npos);
  EXPECT_EQ(Occurrences(page, "placed at their numbers by what they say"), 1);
  EXPECT_EQ(Occurrences(page, "Its pages do not all lie where their numbers"), 1);
  EXPECT_NE(page.find("they are database-2's"), std::string::npos);
  EXPECT_NE(page.find("they are none of its own"), std::string::npos);
  // The unplaced pages' section is called as their files, untyped, and says which of its
  // pages a database set apart.
  EXPECT_NE(page.find("2 个数据库 databases 及未归属的页 and the unplaced pages, "), std::string::npos);
  EXPECT_NE(page.find("id=\"unplaced\""), std::string::npos);
  EXPECT_EQ(page.find("database-0"), std::string::npos);
  EXPECT_NE(page.find("Untyped: no database header or table definitions"), std::string::npos);
  EXPECT_NE(page.find("3 of them were set apart by a database as none of its own"),
            std::string::npos);
}

TEST_F(ReportOfMadeUpRecovery, AReportThatCannotBeWrittenWholeIsReportedAndLeftNowhere) {
  fileSystem_.NewFileFaults["out/report.html.partial"].WriteLimit = 1000;
  TNoProgress progress;
  try {
    WriteReportHtml(report_, fileSystem_, {.OutputDir = "out", .Source = ""}, progress);
    FAIL() << "a write that fell short was not reported";
  } catch (const EQuillonError& error) {
    EXPECT_NE(std::string(error.what()).find("out/report.html.partial"), std::string::npos)
        << error.what();
  }
  EXPECT_FALSE(fileSystem_.Find("out/report.html"));
  EXPECT_FALSE(fileSystem_.Find("out/report.html.partial"));

  // A CSV file gone between writing and reporting: named, and no report either.
  fileSystem_.NewFileFaults.clear();
  fileSystem_.Remove("out/database-1/t (1).csv");
  EXPECT_THROW(WriteReportHtml(report_, fileSystem_, {.OutputDir = "out", .Source = ""}, progress),
               EQuillonError);
  EXPECT_FALSE(fileSystem_.Find("out/report.html"));
  EXPECT_FALSE(fileSystem_.Find("out/report.html.partial"));
}

}  // namespace
}  // namespace quillon::recover
