// Recovery's decoding against facts checked by hand and by mdbtools, and its outputs read
// back with SQLite itself. The comparison of every value with mdb-export is the end-to-end
// test (end_to_end/test_recover.py).

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <span>
#include <nlohmann/json.hpp>

#include "core/errors.h"
#include "jet/text.h"
#include "recover/built_pages.h"
#include "recover/database_layout.h"
#include "recover/image_page_store.h"
#include "recover/jet_values.h"
#include "recover/recovery.h"
#include "recover/recovery_report.h"
#include "recover/report_html.h"
#include "recover/sample_sources.h"
#include "recover/table_definition.h"
#include "support/memory_file_system.h"

namespace quillon::recover {
namespace {

using testing::ReadSample;
using testing::TNoProgress;

TEST(JetValues, DatesCurrencyDecimalsGuidsAndTextAreExact) {
  EXPECT_EQ(DateTimeText(0.0), "1899-12-30 00:00:00");
  // Before day 0 the fraction still counts forwards from midnight.
  EXPECT_EQ(DateTimeText(-1.25), "1899-12-29 06:00:00");
  EXPECT_EQ(DateTimeText(36526.5), "2000-01-01 12:00:00");
  EXPECT_EQ(DateTimeText(1.0 - 1e-9), "1899-12-31 00:00:00");  // rounds into the next day
  EXPECT_EQ(DateTimeText(1e300), std::nullopt);

  // Access 2019's extended date/time: days since 0001-01-01, 100-ns ticks, precision.
  auto extended = [](const std::string& text) {
    return ExtendedDateTimeText(std::span(reinterpret_cast<const std::uint8_t*>(text.data()),
                                          text.size()));
  };
  EXPECT_EQ(extended("0000000000000738520:0000000000000000000:7"), "2023-01-01 00:00:00");
  EXPECT_EQ(extended("0000000000000000000:0000000000000000000:7"), "0001-01-01 00:00:00");
  EXPECT_EQ(extended("0000000000003652058:0000000863999999999:7"), "9999-12-31 23:59:59.9999999");
  EXPECT_EQ(extended("0000000000000730119:0000000453051250000:3"), "2000-01-01 12:35:05.125");
  EXPECT_EQ(extended("0000000000000730119:0000000453051250000:0"), "2000-01-01 12:35:05");
  EXPECT_EQ(extended(std::string("0000000000000738520:0000000000000000000:7\0", 42)),
            "2023-01-01 00:00:00");  // padded to the field's size
  EXPECT_EQ(extended("0000000000003652059:0000000000000000000:7"), std::nullopt);  // year 10000
  EXPECT_EQ(extended("0000000000000730119:0000000864000000000:7"), std::nullopt);  // a whole day
  EXPECT_EQ(extended("0000000000000730119:00000000000000000x0:7"), std::nullopt);
  EXPECT_EQ(extended("0000000000000730119:0000000000000000000:8"), std::nullopt);
  EXPECT_EQ(extended("0000000000000730119:0000000000000000000"), std::nullopt);
  EXPECT_EQ(extended(""), std::nullopt);

  // A single is written as the shortest decimal that reads back as the same single.
  EXPECT_EQ(RealText(SingleAsDecimal(3.3261771f)), "3.3261771");
  EXPECT_EQ(RealText(SingleAsDecimal(0.1f)), "0.1");
  EXPECT_EQ(RealText(SingleAsDecimal(16777216.0f)), "16777216");
  EXPECT_EQ(RealText(SingleAsDecimal(-1.5e-45f)), "-1e-45");  // the smallest subnormal
  EXPECT_EQ(static_cast<float>(SingleAsDecimal(3.3261771f)), 3.3261771f);

  EXPECT_EQ(CurrencyText(123400), "12.3400");
  EXPECT_EQ(CurrencyText(-5), "-0.0005");
  EXPECT_EQ(CurrencyText(INT64_MIN), "-922337203685477.5808");

  std::array<std::uint8_t, 17> decimal{};
  decimal[0] = 0x80;  // negative
  decimal[13] = 0x39;  // the last word, little-endian: 0x3039 = 12345
  decimal[14] = 0x30;
  EXPECT_EQ(DecimalText(decimal, 2), "-123.45");
  EXPECT_EQ(DecimalText(decimal, 6), "-0.012345");
  decimal[1] = 0x01;  // 2^96 + 12345: needs all 128 bits
  EXPECT_EQ(DecimalText(decimal, 0), "-79228162514264337593543962681");

  const std::array<std::uint8_t, 16> guid = {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66,
                                             0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
  EXPECT_EQ(GuidText(guid), "{00112233-4455-6677-8899-AABBCCDDEEFF}");

  // Compressed: "ab", then two-byte 中文, then back to one-byte "c".
  const std::uint8_t compressed[] = {0xFF, 0xFE, 'a', 'b', 0x00, 0x2D, 0x4E,
                                     0x87, 0x65, 0x00, 'c'};
  EXPECT_EQ(jet::DecodeJetText(compressed, jet::TTextPolicy::Lenient), "ab\xE4\xB8\xAD\xE6\x96\x87" "c");
  const std::uint8_t pair[] = {0x3D, 0xD8, 0x00, 0xDE, 0x3D, 0xD8};  // 😀 and a lone half
  EXPECT_EQ(jet::DecodeJetText(pair, jet::TTextPolicy::Lenient), "\xF0\x9F\x98\x80\xEF\xBF\xBD");
}

TEST(TableDefinition, ReadsARealDefinitionAndRefusesWhatIsNotOne) {
  const std::vector<std::uint8_t> db = ReadSample("sample-jet4.mdb");
  ASSERT_GE(db.size(), 42u * kPageSize);
  const std::span<const std::uint8_t> page(db.data() + 41 * kPageSize, kPageSize);
  const TDefinitionResult articles = ParseTableDefinition(page);
  ASSERT_EQ(articles.Status, TDefinitionParse::Ok);
  std::vector<std::string> names;
  for (const TColumn& column : articles.Definition->Columns) names.push_back(column.Name);
  // mdb-schema: ArticleID, AuthorID, Headline, Published, Words, Content.
  EXPECT_EQ(names, (std::vector<std::string>{"ArticleID", "AuthorID", "Headline", "Published",
                                             "Words", "Content"}));
  EXPECT_EQ(articles.Definition->Columns[5].Type, TColumnType::Memo);

  // Cut before its names: more is needed, not a refusal.
  EXPECT_EQ(ParseTableDefinition(page.first(250)).Status, TDefinitionParse::NeedsMore);
  std::vector<std::uint8_t> broken(page.begin(), page.end());
  broken[40] = 0x11;  // no such table type
  EXPECT_EQ(ParseTableDefinition(broken).Status, TDefinitionParse::Invalid);
  // The catalog definition built in matches the one the file holds at page 2.
  const TDefinitionResult catalog =
      ParseTableDefinition(std::span(db.data() + 2 * kPageSize, kPageSize));
  ASSERT_TRUE(catalog.Definition);
  ASSERT_EQ(catalog.Definition->Columns.size(), BuiltInCatalogDefinition().Columns.size());
  for (std::size_t i = 0; i < catalog.Definition->Columns.size(); ++i) {
    const TColumn& a = catalog.Definition->Columns[i];
    const TColumn& b = BuiltInCatalogDefinition().Columns[i];
    EXPECT_EQ(a.Name, b.Name);
    EXPECT_EQ(a.Type, b.Type);
    EXPECT_EQ(a.Fixed, b.Fixed);
    if (a.Fixed) EXPECT_EQ(a.FixedOffset, b.FixedOffset) << a.Name;
    else EXPECT_EQ(a.VarIndex, b.VarIndex) << a.Name;
  }
  EXPECT_EQ(SystemDefinitionPage(*catalog.Definition), 2u);
}

// Runs a recovery of the sample into memory and opens its SQLite output with SQLite.
class RecoveredSample : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<std::uint8_t> image(3 * 512, 0x5A);  // the database at a 512-byte offset
    const std::vector<std::uint8_t> db = ReadSample("sample-jet4.mdb");
    image.insert(image.end(), db.begin(), db.end());
    store_ = std::make_unique<testing::TImagePageStore>(std::move(image));
  }

  TRecoveryReport Recover() { return testing::RecoverInto(*store_, fileSystem_); }

  std::unique_ptr<testing::TImagePageStore> store_;
  quillon::testing::TMemoryFileSystem fileSystem_;
};

TEST_F(RecoveredSample, GivesNamedTypedTablesInSqliteAndCsv) {
  const TRecoveryReport report = Recover();
  ASSERT_EQ(report.Databases.size(), 1u);
  const TDatabaseReport& database = report.Databases[0];
  EXPECT_EQ(database.BaseOffset, 3 * 512);
  ASSERT_EQ(database.Tables.size(), 2u);
  EXPECT_EQ(database.Tables[0].Name, "Authors");
  EXPECT_EQ(database.Tables[0].Rows, 767);  // as mdb-export gives them
  EXPECT_EQ(database.Tables[1].Name, "Articles");
  EXPECT_EQ(database.Tables[1].Rows, 211);
  EXPECT_EQ(database.Tables[0].DeletedRows, 33);

  const auto file = fileSystem_.Find("out/database-1.sqlite");
  ASSERT_TRUE(file);
  const std::string path = ::testing::TempDir() + "recovered.sqlite";
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(file->Data.data()),
              static_cast<std::streamsize>(file->Data.size()));
  }
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  auto one = [&](const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr), SQLITE_OK) << sql;
    std::string text;
    if (sqlite3_step(statement) == SQLITE_ROW && sqlite3_column_text(statement, 0) != nullptr)
      text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    sqlite3_finalize(statement);
    return text;
  };
  EXPECT_EQ(one("PRAGMA integrity_check"), "ok");
  EXPECT_EQ(one("SELECT sql FROM sqlite_master WHERE name='Authors'"),
            "CREATE TABLE \"Authors\" (\"AuthorID\" LONG, \"FullName\" TEXT(60), "
            "\"Country\" TEXT(40), \"Born\" DATETIME, \"Rating\" REAL)");
  EXPECT_EQ(one("SELECT count(*) FROM \"Authors (deleted)\""), "33");
  EXPECT_EQ(one("SELECT typeof(AuthorID) || typeof(Born) || typeof(Rating) FROM Authors "
                "WHERE Born IS NOT NULL AND Rating IS NOT NULL LIMIT 1"),
            "integertextreal");
  sqlite3_close(db);
  std::remove(path.c_str());

  const auto csv = fileSystem_.Find("out/database-1/Authors.csv");
  ASSERT_TRUE(csv);
  const std::string text(csv->Data.begin(), csv->Data.end());
  EXPECT_EQ(text.substr(0, 42), "\xEF\xBB\xBF" "AuthorID,FullName,Country,Born,Rating\r\n");
  EXPECT_TRUE(fileSystem_.Find("out/database-1/Authors (deleted).csv"));
  EXPECT_FALSE(fileSystem_.Find("out/database-1/Authors (stale).csv"));

  const std::string summary = RecoveryReportText(report);
  EXPECT_NE(summary.find("Authors: 767 rows, 5 columns, 33 deleted kept apart"),
            std::string::npos)
      << summary;
  EXPECT_EQ(RecoveryReportJson(report)["databases"][0]["tables"][1]["rows"], 211);
}

TEST_F(RecoveredSample, AFullDiskIsReportedWithTheFileNeverAsSuccess) {
  // The SQLite file stops taking bytes after 64 KiB.
  fileSystem_.Put("out/database-1.sqlite", {})->WriteLimit = 65536;
  try {
    Recover();
    FAIL() << "a write that fell short was not reported";
  } catch (const EQuillonError& error) {
    EXPECT_NE(std::string(error.what()).find("out/database-1.sqlite"), std::string::npos)
        << error.what();
  }
}


// Overwrites the UTF-16 text `from` with `to` (as long) on the one page of db that holds it.
void ReplaceUtf16(std::vector<std::uint8_t>& db, std::size_t page, const std::u16string& from,
                  const std::u16string& to) {
  ASSERT_EQ(from.size(), to.size());
  std::vector<std::uint8_t> wanted, written;
  for (const char16_t c : from) wanted.insert(wanted.end(), {std::uint8_t(c), std::uint8_t(c >> 8)});
  for (const char16_t c : to) written.insert(written.end(), {std::uint8_t(c), std::uint8_t(c >> 8)});
  const auto begin = db.begin() + static_cast<std::ptrdiff_t>(page * kPageSize);
  const auto at = std::search(begin, begin + kPageSize, wanted.begin(), wanted.end());
  ASSERT_NE(at, begin + kPageSize);
  std::copy(written.begin(), written.end(), at);
}

TEST(RecoverDatabases, NamesTheOutputCannotTakeAreChangedAndTold) {
  // The sample's Authors named "sqlite_" in the catalog (page 14); in its definition (page
  // 24) its first column renamed "FULLNAME" (as its second, but for case) and a NUL put
  // into "Country".
  std::vector<std::uint8_t> db = ReadSample("sample-jet4.mdb");
  ReplaceUtf16(db, 14, u"Authors", u"sqlite_");
  ReplaceUtf16(db, 24, u"AuthorID", u"FULLNAME");
  ReplaceUtf16(db, 24, u"Country", std::u16string(u"Coun\0ry", 7));
  db.insert(db.begin(), kPageSize, 0x00);
  const testing::TImagePageStore store(std::move(db));
  quillon::testing::TMemoryFileSystem files;
  const TRecoveryReport report = testing::RecoverInto(store, files);
  ASSERT_EQ(report.Databases.size(), 1u);
  const std::vector<TTableReport>& tables = report.Databases[0].Tables;
  ASSERT_EQ(tables.size(), 2u);
  EXPECT_EQ(tables[0].Name, "sqlite_");
  EXPECT_EQ(tables[0].Rows, 767);
  EXPECT_EQ(tables[0].Failure, "");
  EXPECT_EQ(tables[1].Rows, 211);
  EXPECT_EQ(TablesNotWritten(report), 0);
  std::vector<std::string> changes;
  for (const TNameChange& change : tables[0].NameChanges) changes.push_back(NameChangeText(change));
  EXPECT_EQ(changes, (std::vector<std::string>{
                         "column \"FullName\" written as \"FullName (2)\"",
                         "column \"Coun\\0ry\" written as \"Coun_ry\"",
                         "table \"sqlite_\" written as \"_sqlite_\"",
                     }));
  const std::string summary = RecoveryReportText(report);
  EXPECT_NE(summary.find("    table \"sqlite_\" written as \"_sqlite_\"\n"), std::string::npos)
      << summary;
  const nlohmann::json json = RecoveryReportJson(report);
  EXPECT_EQ(json["databases"][0]["tables"][0]["renamed"][2]["original"], "sqlite_");
  EXPECT_EQ(json["databases"][0]["tables"][0]["renamed"][2]["written"], "_sqlite_");
  const auto csv = files.Find("out/database-1/_sqlite_.csv");
  ASSERT_TRUE(csv);
  EXPECT_EQ(std::string(csv->Data.begin(), csv->Data.begin() + 46),
            "\xEF\xBB\xBF" "FULLNAME,FullName (2),Coun_ry,Born,Rating\r\n");
  const auto sqlite = files.Find("out/database-1.sqlite");
  ASSERT_TRUE(sqlite);
  EXPECT_GT(sqlite->Data.size(), 100000u);
}

TEST(RecoverDatabases, PagesThatOnlyLookLikeATablesAreCountedNotWrittenAsOne) {
  // Random bytes with two pages that pass the candidate test: a data page's head, owner
  // 25599, row offsets that point at bytes no row is made of. No database is placed for
  // them, and no table of theirs has a row.
  std::vector<std::uint8_t> image(64 * kPageSize);
  std::uint32_t state = 12345;
  for (std::uint8_t& byte : image) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<std::uint8_t>(state >> 24);
  }
  for (const std::size_t page : {std::size_t{8}, std::size_t{40}}) {
    std::uint8_t* head = image.data() + page * kPageSize;
    const std::uint8_t bytes[] = {0x01, 0x01, 0x00, 0x01, 0xFF, 0x63, 0x00, 0x00,
                                  0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x0F};
    std::copy(std::begin(bytes), std::end(bytes), head);
    std::fill(head + 0xF00, head + kPageSize, 0xFF);  // no row slot makes sense of these
  }
  const testing::TImagePageStore store(std::move(image));
  quillon::testing::TMemoryFileSystem files;
  const TRecoveryReport report = testing::RecoverInto(store, files);
  std::int64_t left = 0;
  for (const TDatabaseReport& database : report.Databases) {
    EXPECT_TRUE(database.Tables.empty()) << database.Tables[0].Name;
    EXPECT_EQ(database.SqlitePath, "");
    left += database.TablesWithoutRows;
  }
  EXPECT_EQ(left, 1);
  EXPECT_FALSE(files.Find("out/unplaced.sqlite"));
  const std::string summary = RecoveryReportText(report);
  EXPECT_NE(summary.find("1 table without a single row left out"), std::string::npos) << summary;
  EXPECT_EQ(summary.find("table-25599"), std::string::npos) << summary;
  EXPECT_EQ(RecoveryReportJson(report)["databases"][0]["tables_without_rows_left_out"], 1);
}

TEST(RecoverDatabases, EveryPageReadIsCountedOnceInADatabaseSetApartOrTiedToNone) {
  // Three pages with a data page's head (owner 25599, rows no table has) before the sample's
  // page 0, where no database's numbers reach: the database sets them apart as none of its
  // own, and they come out with the unplaced pages, counted once.
  std::vector<std::uint8_t> db = ReadSample("sample-jet4.mdb");
  std::vector<std::uint8_t> image(3 * kPageSize, 0x00);
  for (std::size_t page = 0; page < 3; ++page) {
    std::uint8_t* head = image.data() + page * kPageSize;
    const std::uint8_t bytes[] = {0x01, 0x01, 0x00, 0x01, 0xFF, 0x63, 0x00, 0x00,
                                  0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0xF0, 0x0F};
    std::copy(std::begin(bytes), std::end(bytes), head);
    std::fill(head + 0xFF0, head + kPageSize, 'x');  // one row of 16 bytes
  }
  image.insert(image.end(), db.begin(), db.end());
  const testing::TImagePageStore store(std::move(image));
  quillon::testing::TMemoryFileSystem files;
  const TRecoveryReport report = testing::RecoverInto(store, files);
  ASSERT_FALSE(report.Databases.empty());
  EXPECT_EQ(report.PagesInDatabases + report.PagesSetApart + report.PagesUnplaced,
            report.PagesInStore);
  const TDatabaseReport& database = report.Databases[0];
  EXPECT_EQ(database.Tables.size(), 2u);
  std::int64_t inDatabases = 0, setApart = 0;
  for (const TDatabaseReport& each : report.Databases) {
    if (each.Unplaced) continue;
    inDatabases += each.Pages;
    for (const TPagesSetApart& pages : each.PagesSetApart)
      setApart += pages.Database.empty() ? pages.Pages : 0;
  }
  EXPECT_EQ(inDatabases, report.PagesInDatabases);
  EXPECT_EQ(setApart, report.PagesSetApart);
  ASSERT_EQ(database.PagesSetApart.size(), 1u);
  EXPECT_EQ(database.PagesSetApart[0].Database, "");
  EXPECT_EQ(database.PagesSetApart[0].Pages, 3);
  EXPECT_EQ(database.PagesSetApart[0].FirstOffset, 0);
  EXPECT_EQ(database.PagesSetApart[0].LastOffset, 2 * static_cast<std::int64_t>(kPageSize));
  ASSERT_TRUE(report.Databases.back().Unplaced);
  EXPECT_EQ(report.Databases.back().PagesSetApartRead, 3);
  const std::string summary = RecoveryReportText(report);
  EXPECT_NE(summary.find(" pages read: " + std::to_string(report.PagesInDatabases) +
                         " in databases, 3 set apart by a database as none of its own, "),
            std::string::npos)
      << summary;
  EXPECT_NE(summary.find("3 of them were set apart by a database as none of its own"),
            std::string::npos)
      << summary;
}

TEST(RecoverDatabases, ATableThatCannotBeWrittenCostsOnlyItself) {
  // Authors named in letters a single-byte code page cannot hold: its CSV file cannot be
  // named on such a system.
  std::vector<std::uint8_t> db = ReadSample("sample-jet4.mdb");
  ReplaceUtf16(db, 14, u"Authors", u"作者Autho");
  db.insert(db.begin(), kPageSize, 0x00);
  const testing::TImagePageStore store(std::move(db));
  quillon::testing::TMemoryFileSystem files;
  files.SingleByteCodePage = true;
  const TRecoveryReport report = testing::RecoverInto(store, files);
  ASSERT_EQ(report.Databases.size(), 1u);
  const std::vector<TTableReport>& tables = report.Databases[0].Tables;
  ASSERT_EQ(tables.size(), 2u);
  EXPECT_NE(tables[0].Failure.find("out/database-1/作者Autho.csv"), std::string::npos)
      << tables[0].Failure;
  EXPECT_EQ(tables[1].Name, "Articles");
  EXPECT_EQ(tables[1].Rows, 211);
  EXPECT_TRUE(files.Find("out/database-1/Articles.csv"));
  EXPECT_EQ(TablesNotWritten(report), 1);
  EXPECT_NE(RecoveryReportText(report).find("1 table could not be written whole"),
            std::string::npos);
  EXPECT_EQ(RecoveryReportJson(report)["tables_not_written"], 1);
}

TEST(RecoverDatabases, PathsInsideOutdirTakeItsSeparator) {
  // OUTDIR as Windows names it: every path made inside it uses '\\' alone, and the report's
  // links still read as links.
  std::vector<std::uint8_t> db = ReadSample("sample-jet4-small.mdb");
  db.insert(db.begin(), kPageSize, 0x00);
  const testing::TImagePageStore store(std::move(db));
  quillon::testing::TMemoryFileSystem files;
  TRecoveryOptions options;
  options.OutputDir = "恢复64";
  options.Separator = '\\';
  TNoProgress progress;
  const TRecoveryReport report = RecoverDatabases(store, files, options, progress);
  ASSERT_EQ(report.Databases.size(), 1u);
  const TDatabaseReport& database = report.Databases[0];
  EXPECT_EQ(database.SqlitePath, "恢复64\\database-1.sqlite");
  EXPECT_EQ(database.CsvFolder, "恢复64\\database-1");
  ASSERT_FALSE(database.Tables.empty());
  ASSERT_FALSE(database.Tables[0].Parts.empty());
  const std::string& csv = database.Tables[0].Parts[0].CsvPath;
  EXPECT_EQ(csv.rfind("恢复64\\database-1\\", 0), 0u) << csv;
  EXPECT_TRUE(files.Find(csv)) << csv;
  EXPECT_EQ(RecoveryReportText(report).find('/'), std::string::npos) << RecoveryReportText(report);

  const std::string html = WriteReportHtml(report, files, {.OutputDir = "恢复64", .Separator = '\\', .Source = ""},
                                           progress);
  EXPECT_EQ(html, "恢复64\\report.html");
  const auto page = files.Find(html);
  ASSERT_TRUE(page);
  const std::string text(page->Data.begin(), page->Data.end());
  EXPECT_NE(text.find("href=\"database-1/"), std::string::npos);
  EXPECT_EQ(text.find("%5C"), std::string::npos);
}

TEST(RecoverDatabases, TellsTwoDatabasesOnOneSourceApartInTheirOrder) {
  // An old copy at a 512-byte offset, then another database on the 4096-byte grid.
  std::vector<std::uint8_t> image(512, 0x00);
  const std::vector<std::uint8_t> small = ReadSample("sample-jet4-small.mdb");
  const std::vector<std::uint8_t> large = ReadSample("sample-jet4.mdb");
  image.insert(image.end(), small.begin(), small.end());
  image.resize(image.size() + (kPageSize - image.size() % kPageSize) + 3 * kPageSize, 0x00);
  const std::size_t largeAt = image.size();
  image.insert(image.end(), large.begin(), large.end());
  const testing::TImagePageStore store(std::move(image));
  quillon::testing::TMemoryFileSystem files;
  const TRecoveryReport report = testing::RecoverInto(store, files, false);
  ASSERT_EQ(report.Databases.size(), 2u);
  EXPECT_EQ(report.Databases[0].BaseOffset, 512);
  EXPECT_EQ(report.Databases[0].Tables.at(0).Name, "Contacts");
  EXPECT_EQ(report.Databases[0].Tables.at(0).Rows, 1464);
  EXPECT_EQ(report.Databases[1].BaseOffset, static_cast<std::int64_t>(largeAt));
  EXPECT_EQ(report.Databases[1].Tables.at(1).Name, "Articles");
  EXPECT_EQ(report.Databases[1].Tables.at(1).Rows, 211);
  EXPECT_EQ(report.Databases[1].Tables.at(1).ValuesNotFound, 0);
  EXPECT_TRUE(files.Find("out/database-1.sqlite"));
  EXPECT_TRUE(files.Find("out/database-2.sqlite"));
}

// The lines of a CSV output by their first field.
std::map<std::string, std::string> CsvLinesByKey(const quillon::testing::TMemoryFileSystem& files,
                                                 const std::string& path) {
  std::map<std::string, std::string> lines;
  const auto file = files.Find(path);
  if (!file) return lines;
  const std::string text(file->Data.begin(), file->Data.end());
  for (std::size_t at = text.find("\r\n"); at != std::string::npos;) {
    const std::size_t end = text.find("\r\n", at + 2);
    if (end == std::string::npos) break;
    const std::string line = text.substr(at + 2, end - at - 2);
    lines.emplace(line.substr(0, line.find(',')), line);
    at = end;
  }
  return lines;
}

TEST(RecoverDatabases, TakesNoLongValuePageAtAPlaceItWasMovedTo) {
  // The small sample in 64 KiB pieces: its piece 4 (LVAL pages 64 to 79) moved ahead of
  // page 0, and its last piece (LVAL pages 80 to 94) where page 64 would be. Every data page
  // lies where its number says, so only the memos' pointers can tell that pages 64 on are
  // not what their places say; a pointer landing on a row of the value's length there would
  // give another memo's text.
  const std::vector<std::uint8_t> db = ReadSample("sample-jet4-small.mdb");
  constexpr std::size_t kPiece = 65536;
  ASSERT_EQ(db.size(), 5 * kPiece + 15 * kPageSize);
  auto recoverMemos = [](std::vector<std::uint8_t> image,
                         quillon::testing::TMemoryFileSystem& files, std::string& summary) {
    const testing::TImagePageStore store(std::move(image));
    summary = RecoveryReportText(testing::RecoverInto(store, files));
    return CsvLinesByKey(files, "out/database-1/Memos.csv");
  };
  quillon::testing::TMemoryFileSystem wholeFiles, movedFiles;
  std::vector<std::uint8_t> whole(kPageSize, 0x00);
  whole.insert(whole.end(), db.begin(), db.end());
  std::string wholeSummary, movedSummary;
  const std::map<std::string, std::string> expected =
      recoverMemos(whole, wholeFiles, wholeSummary);
  ASSERT_EQ(expected.size(), 59u);

  std::vector<std::uint8_t> moved(kPageSize, 0x00);
  for (const std::size_t piece : {4, 0, 1, 2, 3, 5}) {
    const auto from = db.begin() + static_cast<std::ptrdiff_t>(piece * kPiece);
    moved.insert(moved.end(), from, std::min(from + kPiece, db.end()));
  }
  const std::map<std::string, std::string> memos = recoverMemos(moved, movedFiles, movedSummary);
  ASSERT_EQ(memos.size(), expected.size());
  std::size_t found = 0;
  for (const auto& [key, line] : memos) {
    const std::string& truth = expected.at(key);
    // A memo not found is NULL: the line ends after the two numbers.
    if (line == truth) ++found;
    else EXPECT_TRUE(line.back() == ',' && truth.starts_with(line)) << line << "\nnot\n" << truth;
  }
  // Both moved pieces hold pages whose numbers their memos' pointers make certain.
  EXPECT_EQ(found, expected.size());
  // Out of order, no page is judged stale by its number, and the summary says so.
  const std::string outOfOrder = "do not all lie where their numbers and usage maps say";
  EXPECT_EQ(wholeSummary.find(outOfOrder), std::string::npos) << wholeSummary;
  EXPECT_NE(movedSummary.find(outOfOrder), std::string::npos) << movedSummary;
}

TEST(RecoverDatabases, ALostLongValuePageIsNotStoodInForByOneRowOfItsLength) {
  // The small sample's 64 KiB pieces out of order (piece 4 ahead of page 0), its LVAL page
  // 68 lost, and after the file an LVAL page of another file with a row of the row number
  // and length (row 0, 718 bytes) that a memo's pointer asks of page 68, which no other row
  // on the source has, and a row of its own. That row alone is no evidence of the page's
  // number: the memo is left out, never given the stand-in's text; the other moved pages
  // are still numbered by theirs.
  const std::vector<std::uint8_t> db = ReadSample("sample-jet4-small.mdb");
  constexpr std::size_t kPiece = 65536;
  constexpr std::size_t kLost = 68;
  const auto lostRow = std::span(db).subspan(kLost * kPageSize, kPageSize);
  ASSERT_EQ(lostRow[12], 1) << "page 68 holds one row";
  ASSERT_EQ(kPageSize - (lostRow[14] | (lostRow[15] << 8)), 718u) << "of 718 bytes";
  std::vector<std::uint8_t> image(kPageSize, 0x00);
  for (const std::size_t piece : {4, 0, 1, 2, 3, 5}) {
    const auto from = db.begin() + static_cast<std::ptrdiff_t>(piece * kPiece);
    image.insert(image.end(), from, std::min(from + kPiece, db.end()));
  }
  std::fill_n(image.begin() + static_cast<std::ptrdiff_t>(kPageSize + (kLost - 64) * kPageSize),
              kPageSize, 0x00);
  image.resize(image.size() + kPageSize, 0x5A);
  const std::vector<std::uint8_t> standIn = testing::StandInLongValuePage(718);
  image.insert(image.end(), standIn.begin(), standIn.end());
  image.resize(image.size() + kPageSize, 0x00);

  const testing::TImagePageStore store(std::move(image));
  quillon::testing::TMemoryFileSystem files;
  const TRecoveryReport report = testing::RecoverInto(store, files);
  const std::map<std::string, std::string> memos = CsvLinesByKey(files, "out/database-1/Memos.csv");
  ASSERT_EQ(memos.size(), 59u);
  std::size_t notFound = 0;
  for (const auto& [key, line] : memos) {
    EXPECT_EQ(line.find("ZZZZ"), std::string::npos) << line;
    if (line.back() == ',') ++notFound;
  }
  EXPECT_GE(notFound, 1u);
  EXPECT_LE(notFound, 3u) << "the moved pages are still numbered by their long values";
}

TEST(RecoverDatabases, KeepsTheLiveRowsOfMovedPiecesLiveAndTyped) {
  // The small sample's 64 KiB pieces in two orders where most table pages still lie at
  // their places: pieces 3 and 4 exchanged (Contacts' pages 48 to 50 and Memos' only data
  // page and definition in piece 3), and piece 3 moved ahead of page 0 with pieces 4 and 5
  // lost. Read by position, Contacts' rows there were called stale and Memos came out
  // untyped or empty.
  const std::vector<std::uint8_t> db = ReadSample("sample-jet4-small.mdb");
  constexpr std::size_t kPiece = 65536;
  for (const std::vector<std::size_t>& order :
       {std::vector<std::size_t>{5, 0, 1, 2, 4, 3}, std::vector<std::size_t>{3, 0, 1, 2}}) {
    std::vector<std::uint8_t> image(kPageSize, 0x00);
    for (const std::size_t piece : order) {
      const auto from = db.begin() + static_cast<std::ptrdiff_t>(piece * kPiece);
      image.insert(image.end(), from, std::min(from + kPiece, db.end()));
    }
    const testing::TImagePageStore store(std::move(image));
    quillon::testing::TMemoryFileSystem files;
    const TRecoveryReport report = testing::RecoverInto(store, files, false);
    ASSERT_EQ(report.Databases.size(), 1u) << order.size();
    const std::vector<TTableReport>& tables = report.Databases[0].Tables;
    ASSERT_EQ(tables.size(), 2u) << order.size();
    EXPECT_EQ(tables[0].Name, "Contacts");
    EXPECT_EQ(tables[0].Rows, 1464) << order.size();
    EXPECT_EQ(tables[0].StaleRows, 0) << order.size();
    EXPECT_EQ(tables[1].Name, "Memos");
    EXPECT_TRUE(tables[1].Typed) << order.size();
    EXPECT_EQ(tables[1].Rows, 59) << order.size();
  }
}

// The small sample with its last nine LVAL pages made into a loop: each holds one row of
// exactly a next pointer and no data, the ninth pointing back to the first, and every
// long-value head of the data pages pointing into the loop as a chain.
std::vector<std::uint8_t> SampleWithLongValueLoop(std::size_t& heads) {
  std::vector<std::uint8_t> db = ReadSample("sample-jet4-small.mdb");
  const auto at = [&](std::uint32_t page) { return db.begin() + page * kPageSize; };
  std::vector<std::uint32_t> longValuePages;
  for (std::uint32_t page = 0; page < db.size() / kPageSize; ++page) {
    if (at(page)[0] == 0x01 && std::equal(at(page) + 4, at(page) + 8, "LVAL"))
      longValuePages.push_back(page);
  }
  const std::vector<std::uint32_t> loop(longValuePages.end() - 9, longValuePages.end());
  for (std::size_t i = 0; i < loop.size(); ++i) {
    const auto page = at(loop[i]);
    std::fill(page + 8, page + kPageSize, 0);
    page[12] = 1;                        // one row
    page[14] = 0xFC, page[15] = 0x0F;    // at 4092
    const std::uint32_t next = loop[(i + 1) % loop.size()];
    page[4092] = 0;                      // row 0 of the next page
    page[4093] = static_cast<std::uint8_t>(next);
    page[4094] = static_cast<std::uint8_t>(next >> 8);
    page[4095] = static_cast<std::uint8_t>(next >> 16);
  }
  heads = 0;
  for (std::uint32_t page = 0; page < db.size() / kPageSize; ++page) {
    if (at(page)[0] != 0x01 || std::equal(at(page) + 4, at(page) + 8, "LVAL")) continue;
    for (auto head = at(page) + 14; head + 12 <= at(page + 1); ++head) {
      // A pointing head: a length below 64 KiB, a row, an LVAL page, four zero bytes.
      const std::uint32_t target = head[5] | head[6] << 8 | head[7] << 16;
      if ((head[3] & 0x3F) != 0 || head[2] != 0 || (head[3] & 0xC0) == 0x80 ||
          std::find(longValuePages.begin(), longValuePages.end(), target) ==
              longValuePages.end() ||
          head[8] | head[9] | head[10] | head[11])
        continue;
      head[3] = 0;  // a chain
      head[4] = 0;
      head[5] = static_cast<std::uint8_t>(loop[0]);
      head[6] = static_cast<std::uint8_t>(loop[0] >> 8);
      head[7] = 0;
      ++heads;
      head += 11;
    }
  }
  db.insert(db.begin(), kPageSize, 0x00);  // page 0 one page in
  return db;
}

// Counts the pages read, and asks for a stop once StopAfter of them were.
class TCountingStore : public IPageStore {
 public:
  explicit TCountingStore(std::vector<std::uint8_t> image) : inner_(std::move(image)) {}
  std::size_t Count() const override { return inner_.Count(); }
  TPageEntry Entry(std::size_t index) const override { return inner_.Entry(index); }
  bool HasOffsets() const override { return true; }
  void Read(std::size_t index, std::span<std::uint8_t, kPageSize> out) const override {
    ++Reads;
    inner_.Read(index, out);
  }
  mutable std::size_t Reads = 0;

 private:
  testing::TImagePageStore inner_;
};

// A stop asked for once the store has read `reads` pages (as a signal comes, whether or
// not anyone asks).
class TStopAfterReads : public IRecoveryProgress {
 public:
  TStopAfterReads(const TCountingStore& store, std::size_t reads) : store_(store), reads_(reads) {}
  void Progress(const std::string&, std::int64_t, std::int64_t) override {}
  bool StopRequested() override { return store_.Reads >= reads_; }

 private:
  const TCountingStore& store_;
  std::size_t reads_;
};

TEST(RecoverDatabases, ALoopOfLongValueRowsIsABrokenChainFollowedOnce) {
  std::size_t heads = 0;
  const TCountingStore store(SampleWithLongValueLoop(heads));
  ASSERT_GE(heads, 20u);
  quillon::testing::TMemoryFileSystem files;
  const TRecoveryReport report = testing::RecoverInto(store, files);
  ASSERT_FALSE(report.Databases.empty());
  const std::vector<TTableReport>& tables = report.Databases[0].Tables;
  ASSERT_EQ(tables.size(), 2u);
  EXPECT_EQ(tables[1].Name, "Memos");
  EXPECT_EQ(tables[1].Rows, 59);
  EXPECT_GE(tables[1].ValuesNotFound, static_cast<std::int64_t>(heads) / 2);
  // Followed round the loop until a part limit, each turn reads its nine pages again
  // (more than the reader keeps): tens of thousands of reads a head.
  EXPECT_LT(store.Reads, 40 * store.Count()) << store.Reads << " pages read";
  EXPECT_FALSE(report.Stopped);
}

TEST(RecoverDatabases, AStopIsSeenWithinAFewPagesWhereverDecodingIs) {
  std::size_t heads = 0;
  const std::vector<std::uint8_t> image = SampleWithLongValueLoop(heads);
  const std::size_t pages = TCountingStore(image).Count();
  // Stops at several points of the decoding: placing pages, numbering, the catalog, the
  // tables' rows.
  bool stoppedWhileWriting = false;
  for (std::size_t after = pages / 2; after < 12 * pages; after += pages / 2) {
    const TCountingStore store(image);
    quillon::testing::TMemoryFileSystem files;
    TRecoveryOptions options;
    options.OutputDir = "out";
    TStopAfterReads progress(store, after);
    const TRecoveryReport report = RecoverDatabases(store, files, options, progress);
    if (store.Reads < after) continue;  // decoding ended before
    EXPECT_TRUE(report.Stopped) << after;
    EXPECT_LE(store.Reads, after + 1) << after;
    stoppedWhileWriting |= !report.Databases.empty() && !report.Databases[0].Tables.empty();
    // What was written is whole: a SQLite file is finished, each CSV has its header.
    for (const TDatabaseReport& database : report.Databases) {
      for (const TTableReport& table : database.Tables) {
        for (const auto& part : table.Parts) {
          if (part.CsvPath.empty()) continue;
          const auto csv = files.Find(part.CsvPath);
          ASSERT_TRUE(csv) << part.CsvPath;
          EXPECT_GE(csv->Data.size(), 3u) << part.CsvPath;
        }
      }
    }
  }
  EXPECT_TRUE(stoppedWhileWriting);
}

}  // namespace
}  // namespace quillon::recover

namespace quillon::recover {
namespace {

// Pages of a source moved about in 64 KiB pieces: kinds and owners as a scan records them.
struct TPieces {
  std::vector<TPageEntry> Entries;
  TDatabasePages Grid;
  void Add(TPageKind kind, std::uint32_t owner = 0) {
    const std::size_t index = Entries.size();
    Entries.push_back({static_cast<std::int64_t>(index * kPageSize), kind, owner});
    Grid.Pages.emplace(kUnnumberedPage + static_cast<std::uint32_t>(index), index);
  }
  std::uint32_t NumberOf(std::size_t index, const TDatabasePages& numbered) const {
    for (const auto& [number, at] : numbered.Pages) {
      if (at == index) return number;
    }
    return 0;
  }
};

TEST(NumberFromAnchors, NumbersAPieceFromOneAnchorUnlessAnythingInItDisagrees) {
  // Pages 16 to 31 (a definition at 25 and a data page of its table), the last piece of
  // the file (pages 48 and 49: short), then pages 32 to 47.
  TPieces source;
  for (std::uint32_t n = 16; n < 32; ++n)
    source.Add(n == 25 ? TPageKind::Definition : TPageKind::Data, n == 27 ? 25 : 0);
  source.Add(TPageKind::Data);
  source.Add(TPageKind::Data);
  for (std::uint32_t n = 32; n < 48; ++n) source.Add(TPageKind::Data);

  const std::vector<TPageAnchor> anchors = {{4, 20}, {16, 48}, {26, 40}};
  const TDatabasePages numbered = NumberFromAnchors(source.Entries, source.Grid, anchors);
  for (std::size_t i = 0; i < 16; ++i) EXPECT_EQ(source.NumberOf(i, numbered), 16 + i) << i;
  for (std::size_t i = 18; i < 34; ++i) EXPECT_EQ(source.NumberOf(i, numbered), 14 + i) << i;
  // The short piece's own anchor holds; its next page is not numbered from it, since the
  // 16 pages from it would call page 40 page 58.
  EXPECT_EQ(source.NumberOf(16, numbered), 48u);
  EXPECT_GE(source.NumberOf(17, numbered), kUnnumberedPage);

  // A data page whose owner value lands on a page of the piece that is not a definition:
  // the piece is not numbered beyond its anchor.
  source.Entries[9].Kind = TPageKind::Data;
  const TDatabasePages refused = NumberFromAnchors(source.Entries, source.Grid, anchors);
  EXPECT_EQ(source.NumberOf(4, refused), 20u);
  for (std::size_t i = 0; i < 16; ++i) {
    if (i != 4) {
      EXPECT_GE(source.NumberOf(i, refused), kUnnumberedPage) << i;
    }
  }
  EXPECT_EQ(source.NumberOf(26, refused), 40u);
  EXPECT_EQ(source.NumberOf(18, refused), 32u);

  // A long-value pointer naming page 45, which the piece's page there does not hold.
  const TDatabasePages pointed = NumberFromAnchors(
      source.Entries, source.Grid, anchors,
      [](std::size_t index, std::uint32_t number) { return number != 45 || index == 99; });
  EXPECT_EQ(source.NumberOf(26, pointed), 40u);
  EXPECT_GE(source.NumberOf(18, pointed), kUnnumberedPage);
  EXPECT_EQ(source.NumberOf(16, pointed), 48u);
}

TEST(NumberFromAnchors, AnotherFilesPageElsewhereDoesNotRefuseAPiece) {
  // Pages 16 to 31 (a definition at 25), then a page of another file lying beside the
  // database, whose table id 29 lands on a data page of the piece. Its owner value says
  // nothing of this file's numbers: the piece is numbered. The same value on a page of the
  // piece itself refuses it.
  TPieces source;
  for (std::uint32_t n = 16; n < 32; ++n)
    source.Add(n == 25 ? TPageKind::Definition : TPageKind::Data, n == 27 ? 25 : 0);
  source.Add(TPageKind::Data, 29);
  const std::vector<TPageAnchor> anchors = {{4, 20}};
  const TDatabasePages numbered = NumberFromAnchors(source.Entries, source.Grid, anchors);
  for (std::size_t i = 0; i < 16; ++i) EXPECT_EQ(source.NumberOf(i, numbered), 16 + i) << i;
  EXPECT_GE(source.NumberOf(16, numbered), kUnnumberedPage);

  source.Entries[3].Owner = 29;
  const TDatabasePages refused = NumberFromAnchors(source.Entries, source.Grid, anchors);
  EXPECT_EQ(source.NumberOf(4, refused), 20u);
  EXPECT_GE(source.NumberOf(3, refused), kUnnumberedPage);
}

TEST(NumberFromAnchors, AnchorsFarApartDoNotNumberThePiecesBetweenThem) {
  // Pieces of 16 pages shuffled so that the first (a header at page 0) and the fourth
  // (pages 48 to 63, with an anchor at 50) lie at their places from page 0, while the two
  // between them were exchanged: pages 32 to 47 come before pages 16 to 31. Nothing in
  // those two disagrees with the base the anchors share, yet their pages are not 16 to 47.
  TPieces source;
  std::vector<std::uint32_t> truth;
  for (const std::uint32_t piece : {0u, 2u, 1u, 3u}) {
    for (std::uint32_t n = piece * 16; n < piece * 16 + 16; ++n) {
      source.Add(n == 0 ? TPageKind::Header : TPageKind::Data);
      truth.push_back(n);
    }
  }
  const TDatabasePages numbered =
      NumberFromAnchors(source.Entries, source.Grid, {{0, 0}, {50, 50}});
  for (std::size_t i = 0; i < truth.size(); ++i) {
    const std::uint32_t number = source.NumberOf(i, numbered);
    if (i < 16 || i >= 48)
      EXPECT_EQ(number, truth[i]) << i;
    else
      EXPECT_GE(number, kUnnumberedPage) << i;  // never the number its place would give
  }
}

TEST(NumberFromAnchors, NarrowsThePieceToWhatTheAnchorsBearOut) {
  // A file cut in 16 KiB pieces (4 pages) and shuffled after 4 pages of something else, one
  // certain page in each piece. Numbering 64 or 32 KiB around an anchor would give pages of
  // the neighbouring pieces numbers they do not have.
  TPieces source;
  std::vector<std::uint32_t> truth;  // each page's real number; UINT32_MAX: not the file's
  for (int i = 0; i < 4; ++i) {
    source.Add(TPageKind::Data);
    truth.push_back(UINT32_MAX);
  }
  std::vector<TPageAnchor> anchors;
  for (const std::uint32_t piece : {5u, 1u, 7u, 3u, 0u, 6u, 2u, 4u}) {
    for (std::uint32_t n = piece * 4; n < piece * 4 + 4; ++n) {
      if (n == piece * 4 + 1) anchors.push_back({source.Entries.size(), n});
      source.Add(TPageKind::Data);
      truth.push_back(n);
    }
  }
  const TDatabasePages numbered = NumberFromAnchors(source.Entries, source.Grid, anchors);
  for (std::size_t i = 0; i < truth.size(); ++i) {
    if (truth[i] == UINT32_MAX)
      EXPECT_GE(source.NumberOf(i, numbered), kUnnumberedPage) << i;
    else
      EXPECT_EQ(source.NumberOf(i, numbered), truth[i]) << i;
  }
}

}  // namespace
}  // namespace quillon::recover
