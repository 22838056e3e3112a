// The workbook recover writes: sheet names a spreadsheet takes, and cells read back (with
// python3-openpyxl, where it is installed) as the values written, each of its own type, the
// ones a cell cannot hold whole said in its note.

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include "recover/xlsx_writer.h"
#include "storage/file_system.h"

namespace quillon::recover {
namespace {

namespace fs = std::filesystem;

TEST(XlsxSheetName, CutsTo31CharactersKeepingTheSuffixAndReplacesForbiddenOnes) {
  EXPECT_EQ(XlsxSheetName("Orders"), "Orders");
  EXPECT_EQ(XlsxSheetName("a[b]c:d*e?f/g\\h"), "a_b_c_d_e_f_g_h");
  EXPECT_EQ(XlsxSheetName("'quoted'"), "_quoted_");
  EXPECT_EQ(XlsxSheetName(""), "_");
  const std::string longName(40, 'x');
  EXPECT_EQ(XlsxSheetName(longName), std::string(31, 'x'));
  EXPECT_EQ(XlsxSheetName(longName + " (deleted)"), std::string(21, 'x') + " (deleted)");
  // Characters, not bytes: 40 Chinese characters become 31 whole ones.
  std::string chinese;
  for (int i = 0; i < 40; ++i) chinese += "表";
  EXPECT_EQ(XlsxSheetName(chinese), chinese.substr(0, 31 * 3));
}

TValue Of(TValue::TKind kind, std::string bytes = {}, std::int64_t integer = 0, double real = 0) {
  TValue value;
  value.Kind = kind;
  value.Bytes = std::move(bytes);
  value.Integer = integer;
  value.Real = real;
  return value;
}

class XlsxWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const ::testing::UnitTest& unit = *::testing::UnitTest::GetInstance();
    dir_ = fs::temp_directory_path() / ("quillon-xlsx-" + std::to_string(::getpid()) + "-" +
                                        unit.current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Every sheet's cells as openpyxl reads them: [sheet, [[value, type, note, format]...]...],
  // then ["strings", the stored shared strings]; null when python3 with openpyxl is not
  // there (a workbook it cannot read fails the test).
  nlohmann::json ReadBack(const fs::path& book) {
    const fs::path script = dir_ / "read.py";
    std::ofstream(script) << R"(import json, sys
try:
    import openpyxl
except ImportError:
    sys.exit(77)
book = openpyxl.load_workbook(sys.argv[1])
out = []
for sheet in book.worksheets:
    plain = (int, float, str, bool, type(None))
    rows = [[[c.value if isinstance(c.value, plain) else str(c.value), c.data_type,
              c.comment.text if c.comment else None, c.number_format] for c in row]
            for row in sheet.iter_rows()]
    out.append([sheet.title, rows])
import zipfile
out.append(["strings", zipfile.ZipFile(sys.argv[1]).read("xl/sharedStrings.xml").decode()])
print(json.dumps(out))
)";
    const std::string command =
        "/usr/bin/python3 '" + script.string() + "' '" + book.string() + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return nullptr;
    std::string text;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
      text.append(buffer, n);
    const int status = ::pclose(pipe);
    // 77: no openpyxl, 127: no python3. Anything else is a workbook that could not be read.
    if (WIFEXITED(status) && (WEXITSTATUS(status) == 77 || WEXITSTATUS(status) == 127))
      return nullptr;
    EXPECT_EQ(status, 0) << "reading " << book << " back failed";
    return nlohmann::json::parse(text, nullptr, false);
  }

  fs::path dir_;
};

TEST_F(XlsxWriterTest, EachValueKeepsItsTypeAndWhatACellCannotHoldIsSaid) {
  auto fileSystem = MakePlatformFileSystem();
  const fs::path book = dir_ / "database-1.xlsx";
  {
    TXlsxWriter writer(*fileSystem, book.string(), book.string(), 3);
    writer.BeginTable("People/Staff", {{"Id", "TEXT(18)", true},
                                       {"Born", "DATETIME", false},
                                       {"Active", "YESNO", false},
                                       {"Pay", "CURRENCY TEXT", false},
                                       {"Big", "DECIMAL TEXT(28,2)", false},
                                       {"Count", "BIGINT", false},
                                       {"Note", "LONGTEXT", true}});
    using K = TValue::TKind;
    writer.Insert({Of(K::Text, "110101199003070012"), Of(K::Text, "2021-03-04 05:06:07"),
                   Of(K::Integer, {}, 1), Of(K::Text, "1234.5600"),
                   Of(K::Text, "12345678901234567890.12"), Of(K::Integer, {}, (1LL << 53) + 1),
                   Of(K::Text, "=1+2")});
    writer.Insert({Of(K::Text, "007"), Of(K::Text, "1899-12-30 00:00:00"), Of(K::Integer, {}, 0),
                   Of(K::Text, "-0.0001"), Of(K::Text, "-1.50"), Of(K::Integer, {}, -5),
                   Of(K::Text, std::string(40000, 'a') + "\r\n_x000D_")});
    writer.Insert({Of(K::Text, "4:0"), Of(K::Null), Of(K::Null), Of(K::Null), Of(K::Null),
                   Of(K::Null), Of(K::Text, "x")});  // past the sheet's rows: a further sheet
    writer.Finish();
  }
  ASSERT_TRUE(fs::exists(book));
  EXPECT_FALSE(fs::exists(dir_ / "database-1.xlsx.part"));
  const nlohmann::json sheets = ReadBack(book);
  if (sheets.is_null()) GTEST_SKIP() << "python3-openpyxl is not installed";
  ASSERT_EQ(sheets.size(), 4u);
  EXPECT_EQ(sheets[0][0], "Tables");
  EXPECT_EQ(sheets[0][1][1][0][0], "People_Staff");
  EXPECT_EQ(sheets[0][1][1][1][0], "People/Staff");
  EXPECT_EQ(sheets[1][0], "People_Staff");
  EXPECT_EQ(sheets[2][0], "People_Staff (part 2)");
  const nlohmann::json& rows = sheets[1][1];
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][0][0], "Id");
  const nlohmann::json& first = rows[1];
  EXPECT_EQ(first[0][0], "110101199003070012");
  EXPECT_EQ(first[0][1], "s");
  EXPECT_EQ(first[1][0], "2021-03-04 05:06:07");
  EXPECT_EQ(first[1][1], "d");
  EXPECT_EQ(first[2][0], true);
  EXPECT_EQ(first[3][0], 1234.56);
  EXPECT_EQ(first[3][3], "#,##0.0000");
  EXPECT_EQ(first[4][0], "12345678901234567890.12");  // more digits than a double: text
  EXPECT_TRUE(first[4][2].is_string());
  EXPECT_EQ(first[5][0], "9007199254740993");
  EXPECT_TRUE(first[5][2].is_string());
  EXPECT_EQ(first[6][0], "=1+2");  // text, never a formula
  EXPECT_EQ(first[6][1], "s");
  const nlohmann::json& second = rows[2];
  EXPECT_EQ(second[0][0], "007");
  EXPECT_EQ(second[1][0], "1899-12-30 00:00:00");  // before the sheet's dates: text
  EXPECT_EQ(second[1][1], "s");
  EXPECT_EQ(second[2][0], false);
  EXPECT_EQ(second[3][0], -0.0001);
  EXPECT_EQ(second[4][0], -1.5);
  EXPECT_EQ(second[4][3], "#,##0.00");
  EXPECT_EQ(second[5][0], -5);
  EXPECT_EQ(second[6][0].get<std::string>(), std::string(32767, 'a'));
  EXPECT_NE(second[6][2].get<std::string>().find("40009"), std::string::npos);
  const nlohmann::json& continued = sheets[2][1];
  ASSERT_EQ(continued.size(), 2u);
  EXPECT_EQ(continued[0][6][0], "Note");
  EXPECT_EQ(continued[1][0][0], "4:0");
}

TEST_F(XlsxWriterTest, ALiteralEscapeInTextStaysLiteral) {
  auto fileSystem = MakePlatformFileSystem();
  const fs::path book = dir_ / "b.xlsx";
  {
    TXlsxWriter writer(*fileSystem, book.string(), book.string());
    writer.BeginTable("T", {{"A", "LONGTEXT", true}});
    writer.Insert({Of(TValue::TKind::Text, "a_x0041_b")});
    writer.Finish();
  }
  // A spreadsheet reads "_xHHHH_" in stored text as the character HHHH: stored as
  // "_x005F_x0041_" it shows "_x0041_", not "A" (openpyxl shows either as stored).
  const nlohmann::json sheets = ReadBack(book);
  if (sheets.is_null()) GTEST_SKIP() << "python3-openpyxl is not installed";
  EXPECT_EQ(sheets[1][1][1][0][0], "a_x0041_b");
  EXPECT_NE(sheets.back()[1].get<std::string>().find("<t>a_x005F_x0041_b</t>"), std::string::npos);
}

TEST_F(XlsxWriterTest, NumbersKeepTheirPointUnderALocaleWithADecimalComma) {
  // The Qt window runs under the desktop's locale; a German one has a decimal comma.
  const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) GTEST_SKIP() << "no de_DE.UTF-8 locale";
  auto fileSystem = MakePlatformFileSystem();
  const fs::path book = dir_ / "d.xlsx";
  {
    TXlsxWriter writer(*fileSystem, book.string(), book.string());
    writer.BeginTable("T", {{"A", "DOUBLE", false}, {"B", "CURRENCY TEXT", false}});
    writer.Insert({Of(TValue::TKind::Real, {}, 0, 3.25), Of(TValue::TKind::Text, "-1234.5600")});
    writer.Finish();
  }
  const std::string after = std::setlocale(LC_NUMERIC, nullptr);
  std::setlocale(LC_NUMERIC, previous.c_str());
  EXPECT_EQ(after, "de_DE.UTF-8");  // the process's locale is its own again
  const nlohmann::json sheets = ReadBack(book);
  if (sheets.is_null()) GTEST_SKIP() << "python3-openpyxl is not installed";
  EXPECT_EQ(sheets[1][1][1][0][0], 3.25);
  EXPECT_EQ(sheets[1][1][1][1][0], -1234.56);
}

TEST_F(XlsxWriterTest, AWorkbookNotFinishedLeavesNoFile) {
  auto fileSystem = MakePlatformFileSystem();
  const fs::path book = dir_ / "c.xlsx";
  {
    TXlsxWriter writer(*fileSystem, book.string(), book.string());
    writer.BeginTable("T", {{"A", "LONG", false}});
  }
  EXPECT_TRUE(fs::is_empty(dir_));
}

// The names of the files made in folder while make runs (inotify sees a file the library
// unlinks at once), or nothing when the folder cannot be watched.
template <class F>
std::optional<std::vector<std::string>> FilesMadeIn(const fs::path& folder, F make) {
  const int watcher = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (watcher < 0) return std::nullopt;
  if (::inotify_add_watch(watcher, folder.c_str(), IN_CREATE) < 0) {
    ::close(watcher);
    return std::nullopt;
  }
  make();
  std::vector<std::string> names;
  alignas(inotify_event) char buffer[64 * 1024];
  for (ssize_t n; (n = ::read(watcher, buffer, sizeof buffer)) > 0;) {
    for (char* at = buffer; at < buffer + n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(at);
      if (event->len > 0) names.emplace_back(event->name);
      at += sizeof(inotify_event) + event->len;
    }
  }
  ::close(watcher);
  return names;
}

TEST_F(XlsxWriterTest, TheLibrarysTemporaryFilesAreMadeInTheWorkbooksFolder) {
  // $TMPDIR, where the library would make them by itself, may lie on the disk recovered from.
  const fs::path elsewhere = dir_ / "elsewhere";
  const fs::path out = dir_ / "out";
  fs::create_directories(elsewhere);
  fs::create_directories(out);
  const char* const previous = std::getenv("TMPDIR");
  const std::string kept = previous ? previous : "";
  ::setenv("TMPDIR", elsewhere.c_str(), 1);
  auto fileSystem = MakePlatformFileSystem();
  const fs::path book = out / "database-1.xlsx";
  std::optional<std::vector<std::string>> elsewhereMade;
  const auto outMade = FilesMadeIn(out, [&] {
    elsewhereMade = FilesMadeIn(elsewhere, [&] {
      TXlsxWriter writer(*fileSystem, book.string(), book.string());
      writer.BeginTable("T", {{"A", "LONG", false}});
      writer.Insert({Of(TValue::TKind::Integer, {}, 7)});
      writer.Finish();
    });
  });
  if (previous) ::setenv("TMPDIR", kept.c_str(), 1); else ::unsetenv("TMPDIR");
  if (!outMade || !elsewhereMade) GTEST_SKIP() << "inotify cannot watch " << dir_;
  EXPECT_TRUE(elsewhereMade->empty()) << elsewhereMade->front();
  const auto temporary = std::count_if(outMade->begin(), outMade->end(),
                                       [](const std::string& name) { return name.starts_with("tmp."); });
  EXPECT_GT(temporary, 0) << "the workbook's parts were assembled somewhere else";
  // Each was gone as soon as it was made: the folder holds the workbook alone.
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(out)) left.push_back(entry.path().filename());
  EXPECT_EQ(left, std::vector<std::string>{"database-1.xlsx"});
}

}  // namespace
}  // namespace quillon::recover
