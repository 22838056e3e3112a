// The names tables, columns and files are written under, from names a disk can hold.

#include <gtest/gtest.h>

#include "recover/output_names.h"

namespace quillon::recover {
namespace {

TEST(OutputNames, SqliteGetsNoNameItKeepsForItselfAndNoNul) {
  EXPECT_EQ(SqliteTableName("sqlite_sequence"), "_sqlite_sequence");
  EXPECT_EQ(SqliteTableName("SQLite_Master"), "_SQLite_Master");
  EXPECT_EQ(SqliteTableName("sqlitex"), "sqlitex");
  EXPECT_EQ(SqliteTableName(std::string("a\0b", 3)), "a_b");
  EXPECT_EQ(SqliteTableName(""), "_");
  EXPECT_EQ(SqliteColumnName(std::string("\0", 1)), "_");

  std::vector<std::string> columns = {"Id", "ID", "name", std::string("x\0", 2), "id (2)", "x_"};
  std::vector<TNameChange> changes;
  MakeColumnNamesSqliteTakes(columns, changes);
  EXPECT_EQ(columns, (std::vector<std::string>{"Id", "ID (2)", "name", "x_", "id (2) (2)",
                                               "x_ (2)"}));
  ASSERT_EQ(changes.size(), 4u);
  EXPECT_EQ(changes[0].Kind, "column");
  EXPECT_EQ(changes[0].Original, "ID");
  EXPECT_EQ(changes[0].Written, "ID (2)");
  EXPECT_EQ(changes[1].Original, std::string("x\0", 2));
}

TEST(OutputNames, FileNamesAWindowsFileSystemTakes) {
  EXPECT_EQ(FileNameOf("a/b\\c:d*e?f\"g<h>i|j"), "a_b_c_d_e_f_g_h_i_j");
  EXPECT_EQ(FileNameOf(std::string("tab\tnul\0del\x7F", 12)), "tab_nul_del_");
  for (const std::string device : {"CON", "con", "Aux", "NUL", "prn", "COM1", "lpt9", "COM¹",
                                   "CONIN$", "nul.txt", "CON .x"})
    EXPECT_EQ(FileNameOf(device), "_" + device) << device;
  EXPECT_EQ(FileNameOf("CON"), "_CON");
  EXPECT_EQ(FileNameOf("com1"), "_com1");
  EXPECT_EQ(FileNameOf("COM10"), "COM10");
  EXPECT_EQ(FileNameOf("CONSOLE"), "CONSOLE");
  EXPECT_EQ(FileNameOf("name."), "name_");
  EXPECT_EQ(FileNameOf("name. . "), "name____");
  EXPECT_EQ(FileNameOf("..."), "___");
  EXPECT_EQ(FileNameOf(""), "_");
}

TEST(OutputNames, LongNamesAreCutAtACharactersStart) {
  std::string name;
  for (int i = 0; i < 100; ++i) name += "表";  // 300 bytes
  const std::string stem = FileNameOf(name);
  EXPECT_LE(stem.size(), kMaxFileStemBytes);
  EXPECT_EQ(stem.size() % 3, 0u);
  EXPECT_EQ(name.compare(0, stem.size(), stem), 0);
  EXPECT_EQ(FileNameOf(std::string(300, 'a')).size(), kMaxFileStemBytes);
}

TEST(OutputNames, NamesThatDifferOnlyInCaseGetFilesOfTheirOwn) {
  std::set<std::string> used;
  EXPECT_EQ(UniqueFileName("Orders", used), "Orders");
  EXPECT_EQ(UniqueFileName("ORDERS", used), "ORDERS (2)");
  EXPECT_EQ(UniqueFileName("orders", used), "orders (3)");
  EXPECT_EQ(UniqueFileName("Äpfel", used), "Äpfel");
  EXPECT_EQ(UniqueFileName("äPFEL", used), "äPFEL (2)");
  EXPECT_EQ(UniqueFileName("ΣΟΦΙΑ", used), "ΣΟΦΙΑ");
  EXPECT_EQ(UniqueFileName("σοφια", used), "σοφια (2)");
  EXPECT_EQ(UniqueFileName("Москва", used), "Москва");
  EXPECT_EQ(UniqueFileName("МОСКВА", used), "МОСКВА (2)");
  EXPECT_EQ(UniqueFileName("Łódź", used), "Łódź");
  EXPECT_EQ(UniqueFileName("łÓDŹ", used), "łÓDŹ (2)");
  EXPECT_EQ(UniqueFileName("ＡＢＣ", used), "ＡＢＣ");
  EXPECT_EQ(UniqueFileName("ａｂｃ", used), "ａｂｃ (2)");
  // Letters without case, and bytes that are no UTF-8, stay apart as they are.
  EXPECT_EQ(UniqueFileName("客户", used), "客户");
  EXPECT_EQ(UniqueFileName("\xC3", used), "\xC3");
  EXPECT_EQ(UniqueFileName("\xE3", used), "\xE3");
  EXPECT_EQ(FileNameKey("\xC3\x84\xC3"), "\xC3\xA4\xC3");
}

}  // namespace
}  // namespace quillon::recover
