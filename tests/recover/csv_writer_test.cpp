// The CSV files recover writes: text from the disk that a spreadsheet would run as a
// formula is defused in text and memo columns only, and every other value is as it was.

#include <gtest/gtest.h>

#include "recover/table_output.h"
#include "support/memory_file_system.h"

namespace quillon::recover {
namespace {

TValue Text(std::string text) {
  TValue value;
  value.Kind = TValue::TKind::Text;
  value.Bytes = std::move(text);
  return value;
}

TValue Integer(std::int64_t n) {
  TValue value;
  value.Kind = TValue::TKind::Integer;
  value.Integer = n;
  return value;
}

std::string Written(const std::vector<TOutputColumn>& columns,
                    const std::vector<std::vector<TValue>>& rows) {
  testing::TMemoryFileSystem fs;
  TCsvWriter csv(fs, "/t.csv", "/t.csv", columns);
  for (const auto& row : rows) csv.Row(row);
  csv.Finish();
  const auto file = fs.Find("/t.csv");
  return file ? std::string(file->Data.begin(), file->Data.end()) : std::string();
}

TEST(CsvWriter, FormulasInTextColumnsGetAnApostropheAndNumbersStayNumbers) {
  const std::vector<TOutputColumn> columns = {{"Name", "TEXT(30)", true},
                                              {"Note", "LONGTEXT", true},
                                              {"Balance", "CURRENCY TEXT", false},
                                              {"Age", "LONG", false}};
  const std::string csv = Written(
      columns, {{Text("=cmd|' /C calc'!A0"), Text("+1+1"), Text("-12.5000"), Integer(-5)},
                {Text("-2+3"), Text("@SUM(1,1)"), Text("0.0000"), Integer(7)},
                {Text("\tTab"), Text("\rreturn"), Text("1.0000"), Integer(0)},
                {Text("a=b"), Text("'=quoted"), Text(""), Integer(1)},
                {Text("＝全角"), Text(" =space"), Text("2.0000"), Integer(2)}});
  EXPECT_EQ(csv,
            "\xEF\xBB\xBF" "Name,Note,Balance,Age\r\n"
            "'=cmd|' /C calc'!A0,'+1+1,-12.5000,-5\r\n"
            "'-2+3,\"'@SUM(1,1)\",0.0000,7\r\n"
            "'\tTab,\"'\rreturn\",1.0000,0\r\n"
            "a=b,'=quoted,,1\r\n"
            "＝全角, =space,2.0000,2\r\n");
}

// Columns without the mark (the untyped tables' own row, state, fixed and notes) keep their
// text as it is.
TEST(CsvWriter, ColumnsThatHoldNoTextFromTheDiskAreLeftAsTheyAre) {
  const std::string csv =
      Written({{"row", "TEXT", false}, {"var1", "TEXT", true}}, {{Text("-1:2"), Text("-1:2")}});
  EXPECT_EQ(csv, "\xEF\xBB\xBF" "row,var1\r\n-1:2,'-1:2\r\n");
}

}  // namespace
}  // namespace quillon::recover
