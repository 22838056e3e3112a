#include "recover/report_html.h"

#include <cstdio>
#include <optional>
#include <vector>

#include "core/errors.h"
#include "core/utf8_text.h"
#include "recover/report_html_page.h"

namespace quillon::recover {
namespace {

constexpr std::size_t kFlushAt = 1 << 20;
constexpr std::size_t kHexDigitsShown = 64;

// Calls out(piece) for each character of text, repaired as every output repairs text
// (core/utf8_text.h); NUL, which a page must not hold, becomes U+FFFD too.
template <class TOut>
void EachCharacter(std::string_view text, TOut out) {
  ForEachRepairedCharacter(text, [&](std::string_view piece) {
    out(piece.size() == 1 && piece[0] == 0 ? kReplacementCharacter : piece);
  });
}

std::string OffsetText(std::int64_t offset) {
  if (offset < 0) return "未知 unknown";
  char hex[32];
  std::snprintf(hex, sizeof hex, "0x%llX", static_cast<unsigned long long>(offset));
  return std::to_string(offset) + " (" + hex + ")";
}

// A path inside OUTDIR as a relative link: a Windows separator made '/', each byte but the
// unreserved ones and '/' percent-encoded, so that the link names the file and nothing else.
std::string RelativeHref(const std::string& relative) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string href;
  for (char c : relative) {
    if (c == '\\') c = '/';  // no name inside OUTDIR holds one: FileNameOf replaces it
    const unsigned char u = static_cast<unsigned char>(c);
    if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
        std::string_view("-._~/").find(c) != std::string_view::npos) {
      href.push_back(c);
    } else {
      href.push_back('%');
      href.push_back(kHex[u >> 4]);
      href.push_back(kHex[u & 15]);
    }
  }
  return href;
}

// The report file, written through a buffer; throws naming the file when a write fails.
class TPageOut {
 public:
  TPageOut(std::unique_ptr<TStream> stream, std::string displayPath)
      : stream_(std::move(stream)), displayPath_(std::move(displayPath)) {}
  TPageOut& operator<<(std::string_view text) {
    buffer_ += text;
    if (buffer_.size() >= kFlushAt) Flush();
    return *this;
  }
  void Finish() {
    Flush();
    if (!stream_->Flush()) Fail();
    stream_.reset();
  }
  void Abandon() { stream_.reset(); }

 private:
  void Flush() {
    if (stream_->Write(buffer_.data(), buffer_.size()) != buffer_.size()) Fail();
    buffer_.clear();
  }
  [[noreturn]] void Fail() {
    throw EQuillonError("Cannot write file \"" + displayPath_ +
                        "\". The write fell short: the disk may be full.");
  }
  std::unique_ptr<TStream> stream_;
  std::string displayPath_;
  std::string buffer_;
};

// Reads the CSV files the recovery wrote (UTF-8 with a byte-order mark, RFC 4180), one row
// at a time; a field keeps at most its column's limit of bytes, so a long memo or picture
// costs no more memory than a short one.
class TCsvRows {
 public:
  struct TColumnLimit {
    std::size_t Bytes;
    bool Hex;  // a blob's hexadecimal digits: a cut one says how many bytes it holds
  };
  TCsvRows(std::unique_ptr<TStream> stream, std::vector<TColumnLimit> limits,
           TColumnLimit otherwise)
      : stream_(std::move(stream)), limits_(std::move(limits)), otherwise_(otherwise) {}

  // The next row's fields, each cut and marked where longer than its limit; false at the end.
  bool Next(std::vector<std::string>& fields) {
    fields.clear();
    std::string field;
    std::size_t length = 0;
    bool quoted = false, any = false;
    TColumnLimit limit = LimitOf(0);
    const auto add = [&](char c) {
      if (length++ < limit.Bytes) field.push_back(c);
    };
    const auto endField = [&] {
      if (length > limit.Bytes) {
        anyCut_ = true;
        field.resize(CompleteCharactersLength(field));  // never half of a character
        field += "\xE2\x80\xA6";  // …
        if (limit.Hex) field += " (" + std::to_string(length / 2) + " 字节 bytes)";
      }
      fields.push_back(std::move(field));
      field.clear();
      length = 0;
      limit = LimitOf(fields.size());
    };
    for (;;) {
      const int c = Get();
      if (c < 0) {
        if (!any) return false;
        endField();
        return true;
      }
      any = true;
      if (quoted) {
        if (c != '"') add(static_cast<char>(c));
        else if (Peek() == '"') add(static_cast<char>(Get()));
        else quoted = false;
      } else if (c == '"') {
        quoted = true;
      } else if (c == ',') {
        endField();
      } else if (c == '\r' && Peek() == '\n') {
        Get();
        endField();
        return true;
      } else if (c == '\n') {
        endField();
        return true;
      } else {
        add(static_cast<char>(c));
      }
    }
  }

  // Whether any field read so far was cut.
  bool AnyCut() const { return anyCut_; }

  void SkipByteOrderMark() {
    if (Peek() == 0xEF) {
      Get();
      Get();
      Get();
    }
  }

 private:
  int Peek() {
    if (at_ == size_ && !Fill()) return -1;
    return static_cast<unsigned char>(buffer_[at_]);
  }
  int Get() {
    const int c = Peek();
    if (c >= 0) ++at_;
    return c;
  }
  bool Fill() {
    size_ = stream_->Read(buffer_.data(), buffer_.size());
    at_ = 0;
    return size_ > 0;
  }

  TColumnLimit LimitOf(std::size_t column) const {
    return column < limits_.size() ? limits_[column] : otherwise_;
  }

  std::unique_ptr<TStream> stream_;
  std::vector<TColumnLimit> limits_;
  TColumnLimit otherwise_;
  std::vector<char> buffer_ = std::vector<char>(1 << 16);
  std::size_t at_ = 0, size_ = 0;
  bool anyCut_ = false;
};

class TReportWriter {
 public:
  TReportWriter(const TRecoveryReport& report, IFileSystem& fileSystem,
                const TReportHtmlOptions& options, IRecoveryProgress& progress, TPageOut& out)
      : report_(report), fileSystem_(fileSystem), options_(options), progress_(progress),
        out_(out) {}

  void Write() {
    std::int64_t tables = 0, rows = 0, deleted = 0, stale = 0, notFound = 0, lost = 0;
    for (const TDatabaseReport& database : report_.Databases) {
      for (const TTableReport& table : database.Tables) {
        if (table.State == TTableState::Lost) {
          ++lost;
          continue;
        }
        ++tables;
        rows += table.Rows;
        deleted += table.DeletedRows;
        stale += table.StaleRows;
        notFound += table.ValuesNotFound;
      }
    }
    totalTables_ = tables;
    out_ << kReportHead;
    out_ << "<header><h1>恢复报告 <span class=\"en\">Recovery report</span></h1>\n<dl class=\"facts\">";
    Fact("源 Source", HtmlText(options_.Source));
    Fact("输出文件夹 Output folder", HtmlText(options_.OutputDir));
    // The unplaced pages are no database: said beside the count, as the summary does.
    std::size_t databases = 0;
    bool unplaced = false;
    for (const TDatabaseReport& database : report_.Databases) {
      databases += database.Unplaced ? 0 : 1;
      unplaced |= database.Unplaced;
    }
    Fact("总计 Total", std::to_string(databases) + " 个数据库 databases" +
                           (unplaced ? std::string(" 及未归属的页 and the unplaced pages") : "") +
                           ", " +
                           std::to_string(tables) + " 个表 tables, " + std::to_string(rows) +
                           " 行 rows");
    Fact("另存的行 Rows kept apart", std::to_string(deleted) + " 已删除 deleted, " +
                                         std::to_string(stale) + " 过期 stale");
    Fact("未找到的值 Values not found", std::to_string(notFound) + " (NULL)");
    Fact("页 Pages", "读取 " + std::to_string(report_.PagesInStore) + " 页 pages read, 其中 " +
                         std::to_string(report_.PagesUnplaced) +
                         " 页不属于任何数据库 tied to no database");
    Fact("页的去向 Where the pages went",
         std::to_string(report_.PagesInDatabases) + " 页属于数据库 in databases, " +
             std::to_string(report_.PagesSetApart) +
             " 页被数据库分开、无数据库取用 set apart by a database as none of its own, " +
             std::to_string(report_.PagesUnplaced) +
             " 页不属于任何数据库 tied to no database");
    out_ << "</dl>\n";
    if (report_.Stopped)
      Warning("恢复已停止：只写入了停止前解码的内容。 Recovery was stopped: only what was decoded "
              "until then is written.");
    if (!report_.OffsetsKnown)
      Warning("页在源上的位置未知（未找到页映射）。 Where the pages lay on the source is unknown "
              "(no page map).");
    if (lost > 0)
      Warning(std::to_string(lost) + " 个表已丢失：目录列出了它们，但未找到它们的任何页。 " +
              std::to_string(lost) +
              " tables the catalog lists are lost: no page of them was found.");
    if (report_.Databases.empty())
      Warning("未找到任何表。 No table was found.");
    out_ << "<p class=\"hint\">在搜索框中输入文字以筛选行。 Type in a search box to filter the "
            "rows.</p>\n";
    // The rows below are read from the CSV files, so they show the apostrophe too.
    out_ << "<p class=\"hint\">CSV 文件及本页中，以 = + - @、制表符或回车开头的文本值前加了一个撇号 (')，"
            "以免电子表格把它当作公式执行；SQLite 文件保存原值。 In the CSV files and on this page, a "
            "text value that begins with = + - @, a tab or a carriage return starts with an added "
            "apostrophe (') so that no spreadsheet runs it as a formula; the SQLite file holds "
            "the exact value.</p></header>\n<main>\n";
    for (const TDatabaseReport& database : report_.Databases) Database(database);
    out_ << "</main>\n" << kReportScript << "</body>\n</html>\n";
  }

 private:
  void Fact(std::string_view name, const std::string& html) {
    out_ << "<dt>" << name << "</dt><dd>" << html << "</dd>";
  }
  void Warning(std::string_view html) { out_ << "<p class=\"warning\">" << html << "</p>\n"; }

  std::string Relative(const std::string& displayPath) const {
    const std::string& dir = options_.OutputDir;
    if (displayPath.size() > dir.size() + 1 && displayPath.compare(0, dir.size(), dir) == 0 &&
        (displayPath[dir.size()] == '/' || displayPath[dir.size()] == '\\'))
      return displayPath.substr(dir.size() + 1);
    return displayPath;
  }
  std::string FileLink(const std::string& displayPath) const {
    const std::string relative = Relative(displayPath);
    return "<a href=\"" + HtmlText(RelativeHref(relative)) + "\">" + HtmlText(relative) + "</a>";
  }

  void Database(const TDatabaseReport& database) {
    // An older copy shares its database's number: its name tells the two apart, and its
    // section's id is that name with what an id cannot hold made '-'.
    // The unplaced pages are no numbered database: their section is called as their files.
    const std::string name = database.CopyOf.empty() && !database.Unplaced
                                 ? "database-" + std::to_string(database.Number)
                                 : database.Name;
    std::string id;
    for (const char c : name) id.push_back(c == ' ' || c == '(' || c == ')' ? '-' : c);
    while (!id.empty() && id.back() == '-') id.pop_back();
    out_ << "<section class=\"database\" id=\"" << HtmlText(id)
         << "\">\n<h2>数据库 <span class=\"en\">"
         << "Database</span> " << HtmlText(name) << "</h2>\n<dl class=\"facts\">";
    std::string where;
    if (database.FirstPageOffset < 0) {
      where = "未知 unknown";
    } else {
      where = "从偏移 from offset " + OffsetText(database.FirstPageOffset) + " 到 to " +
              OffsetText(database.LastPageOffset);
    }
    Fact("源上的位置 On the source", where);
    Fact("页 Pages", std::to_string(database.Pages) + "，第 0 页位于 page 0 at " +
                         OffsetText(database.BaseOffset));
    Fact("表的最后修改 Tables last changed",
         database.LastUpdate.empty() ? "未知 unknown" : HtmlText(database.LastUpdate));
    std::string files;
    if (!database.SqlitePath.empty()) files += FileLink(database.SqlitePath);
    if (!database.CsvFolder.empty())
      files += (files.empty() ? "" : "，") + HtmlText(Relative(database.CsvFolder)) + "/*.csv";
    if (!database.XlsxPath.empty())
      files += (files.empty() ? "" : "，") + FileLink(database.XlsxPath);
    Fact("文件 Files", files.empty() ? "无 none" : files);
    out_ << "</dl>\n";
    if (!database.CopyOf.empty())
      Warning("数据库 " + HtmlText(database.CopyOf) +
              " 的旧副本：其页与该数据库的页持有相同的页号，行各不相同；" +
              (database.NewerBecause.empty()
                   ? std::string("无法判断两者中哪个较新。")
                   : HtmlText(database.CopyOf) + " 较新。") +
              " An older copy of " + HtmlText(database.CopyOf) +
              ": its pages hold the same page numbers as that database's, with rows of their "
              "own" +
              (database.NewerBecause.empty()
                   ? std::string("; which of the two is newer is not known.")
                   : "; " + HtmlText(database.CopyOf) +
                         " is the newer: " + HtmlText(database.NewerBecause) + "."));
    for (std::size_t k = 0; k < database.OlderCopies.size(); ++k) {
      const std::string& copy = database.OlderCopies[k];
      const std::string& why = OlderCopyBecause(database, k);
      Warning("找到旧副本 " + HtmlText(copy) + "，已分开写出" +
              (why.empty() ? "。" : "；此数据库较新。") + " Older copy found: " +
              HtmlText(copy) + ", written apart" +
              (why.empty() ? std::string(".") : "; this one is the newer: " + HtmlText(why) + "."));
    }
    for (const TPagesSetApart& apart : database.PagesSetApart) {
      const std::string range = std::to_string(apart.Pages) + " " +
                                (apart.Pages == 1 ? "page" : "pages") + " from offset " +
                                OffsetText(apart.FirstOffset) + " to " +
                                OffsetText(apart.LastOffset);
      Warning(std::to_string(apart.Pages) + " 个在其页中找到的页（从偏移 " +
              OffsetText(apart.FirstOffset) + " 到 " + OffsetText(apart.LastOffset) +
              "）已分开：" +
              (apart.Database.empty() ? std::string("它们不属于此数据库。")
                                      : "它们属于 " + HtmlText(apart.Database) + "。") +
              " " + range + " found among its own set apart: " +
              (apart.Database.empty() ? std::string("they are none of its own.")
                                      : "they are " + HtmlText(apart.Database) + "'s."));
    }
    if (database.Unplaced)
      Warning("无定义：未能为这些页确定任何数据库头或表定义；其行按 quillon-cli rows 的方式给出，过期的行"
              "无法区分。 Untyped: no database header or table definitions could be placed for "
              "these pages; their rows are given as quillon-cli rows gives them, and stale rows "
              "cannot be told apart.");
    if (database.Unplaced && database.PagesSetApartRead > 0)
      Warning("其中 " + std::to_string(database.PagesSetApartRead) +
              " 页被某个数据库分开，不属于它（见该数据库）。 " +
              std::to_string(database.PagesSetApartRead) +
              (database.PagesSetApartRead == 1 ? " of them was" : " of them were") +
              " set apart by a database as none of its own (see that database).");
    if (!database.InOrder)
      Warning("其页并非都位于页号和使用映射所指之处（片段被移动？）：它们按确定的证据编号，过期的行"
              "无法区分，留在有效行中。 Its pages do not all lie where their numbers and usage "
              "maps say (pieces moved about?): they were numbered from what is certain, and "
              "stale rows cannot be told apart and stay among the live ones.");
    else if (database.PiecesPlaced)
      Warning("其部分页不在其页号所指之处（片段被移动）：它们按自身内容放到了各自的页号。 Some of "
              "its pages lie away from their numbers' places (pieces moved about): they were "
              "placed at their numbers by what they say.");
    if (!database.CatalogFound)
      Warning("未找到目录：表以其页命名。 No catalog found: tables are named by their pages.");
    if (!database.UsageMapsRead)
      Warning("部分使用映射已丢失：这些表的过期行无法区分。 Some usage maps are lost: stale rows "
              "of those tables cannot be told apart.");
    if (database.PageNumbersDisputed > 0)
      Warning(std::to_string(database.PageNumbersDisputed) +
              " 个页号各有两个行不同的页版本（数据库的旧副本？）：两者的行均已略去。 page numbers "
              "are held by two versions of a page with other rows (an older copy of the "
              "database?): the rows of both are left out.");
    if (database.TablesTypedFromOtherCopies > 0)
      Warning(std::to_string(database.TablesTypedFromOtherCopies) +
              " 个表以其他副本一致的定义读取（其自身的定义页未找到），其行均符合该定义的形状。 "
              "tables read with the definition the database's other copies agree on (the page "
              "of its own that held it was not found), their rows all of its shape.");
    if (database.TablesLeftOut > 0)
      Warning(std::to_string(database.TablesLeftOut) + " 个页数最少的表未写出：每个数据库最多写出 " +
              std::to_string(kMaxTablesWritten) + " 个表。 more tables with the fewest pages "
              "are left out: no more than " + std::to_string(kMaxTablesWritten) +
              " tables are written for one database.");

    if (database.TablesWithoutRows > 0)
      Warning(std::to_string(database.TablesWithoutRows) + " 个没有任何行的表未写出：这些页看似表页，却不含行。 " +
              std::to_string(database.TablesWithoutRows) +
              " tables without a single row are left out: pages that look like a table's but "
              "hold no row.");

    out_ << "<h3>表 <span class=\"en\">Tables</span></h3>\n<div class=\"scroll short\"><table "
            "class=\"overview\"><thead><tr><th>表名 Name</th><th>列 Columns</th><th>行 Rows</th>"
            "<th>已删除 Deleted</th><th>过期 Stale</th><th>无法读取 Unreadable</th>"
            "<th>未找到的值 Values not found</th><th>最后修改 Last changed</th></tr></thead>"
            "<tbody>\n";
    const std::size_t first = nextTable_;
    for (const TTableReport& table : database.Tables) {
      if (table.State == TTableState::Lost) {
        out_ << "<tr class=\"lost\"><td>" << HtmlText(table.Name)
             << " <em>(已丢失 lost: 未找到任何页 no page of it found)</em></td><td colspan=\"6\">"
             << "</td><td>" << HtmlText(table.LastUpdate) << "</td></tr>\n";
        continue;
      }
      out_ << "<tr><td><a href=\"#t" << std::to_string(nextTable_++) << "\">"
           << HtmlText(table.Name) << "</a>" << (table.Typed ? "" : " <em>(无定义 untyped)</em>")
           << (table.State == TTableState::Partial
                   ? " <em>(部分恢复 partly recovered" +
                         (table.ValuesMissing > 0
                              ? ": " + std::to_string(table.ValuesMissing) +
                                    " 个值缺失 values missing"
                              : std::string()) +
                         ")</em>"
                   : std::string())
           << "</td><td class=\"n\">" << std::to_string(table.Columns) << "</td><td class=\"n\">"
           << std::to_string(table.Rows) << "</td><td class=\"n\">"
           << std::to_string(table.DeletedRows) << "</td><td class=\"n\">"
           << std::to_string(table.StaleRows) << "</td><td class=\"n\">"
           << std::to_string(table.UnreadableRows) << "</td><td class=\"n\">"
           << std::to_string(table.ValuesNotFound) << "</td><td>" << HtmlText(table.LastUpdate)
           << "</td></tr>\n";
    }
    out_ << "</tbody></table></div>\n";
    std::size_t number = first;
    for (const TTableReport& table : database.Tables) {
      if (table.State != TTableState::Lost) Table(database, table, number++);
    }
    out_ << "</section>\n";
  }

  void Table(const TDatabaseReport& database, const TTableReport& table, std::size_t number) {
    progress_.Progress("writing the report", static_cast<std::int64_t>(number),
                       static_cast<std::int64_t>(totalTables_));
    out_ << "<section class=\"table\" id=\"t" << std::to_string(number) << "\">\n<h3>表 "
         << "<span class=\"en\">Table</span> " << HtmlText(table.Name) << "</h3>\n"
         << "<p class=\"columns\">列 <span class=\"en\">Columns</span>: ";
    for (std::size_t i = 0; i < table.ColumnList.size(); ++i) {
      out_ << (i ? ", " : "") << "<span class=\"column\">" << HtmlText(table.ColumnList[i].Name)
           << " <span class=\"type\">" << HtmlText(table.ColumnList[i].Type) << "</span></span>";
    }
    out_ << "</p>\n";
    if (table.UnreadableRows > 0)
      Warning(std::to_string(table.UnreadableRows) +
              " 行不符合表的定义，已略去。 rows do not fit the definition and are left out.");
    if (table.RowsOfTwoVersions > 0)
      Warning(std::to_string(table.RowsOfTwoVersions) +
              " 行位于有两个版本的页上，已略去。 rows lie on pages found in two versions and are "
              "left out.");
    if (table.ValuesNotFound > 0)
      Warning(std::to_string(table.ValuesNotFound) +
              " 个长值未找到，显示为空 (NULL)。 long values were not found and are empty (NULL).");
    for (const TNameChange& change : table.NameChanges)
      Warning("名称已更改 name changed: " + HtmlText(NameChangeText(change)));
    if (!table.Failure.empty()) Warning("未能完整写出 not written whole: " + HtmlText(table.Failure));
    for (std::size_t i = 0; i < table.Parts.size(); ++i) Part(database, table, table.Parts[i], i);
    out_ << "</section>\n";
  }

  void Part(const TDatabaseReport& database, const TTableReport& table,
            const TTablePartReport& part, std::size_t index) {
    static constexpr const char* kKinds[] = {"", "已删除的行 deleted rows", "过期的行 stale rows"};
    if (index > 0) {
      const std::string kind =
          part.Name.size() > table.Name.size() && part.Name.ends_with("(stale)") ? kKinds[2]
                                                                                  : kKinds[1];
      out_ << "<h4>" << HtmlText(part.Name) << " <span class=\"kind\">" << kind << "</span></h4>\n";
    }
    out_ << "<div class=\"rows\"><div class=\"tools\"><input type=\"search\" "
            "placeholder=\"搜索 Search\" aria-label=\"搜索 Search\"> <span class=\"count\"></span>"
            "</div>\n<div class=\"scroll\"><table class=\"data\"><thead><tr><th>#</th>";
    for (const TColumnReport& column : table.ColumnList)
      out_ << "<th>" << HtmlText(column.Name) << "</th>";
    out_ << "</tr></thead><tbody></tbody></table></div>\n";

    std::size_t embedded = 0;
    out_ << "<script type=\"application/json\">[";
    if (!part.CsvPath.empty()) embedded = Rows(part.CsvPath, table.ColumnList);
    out_ << "]</script>\n";

    const std::string where = FilesOf(database, part);
    if (part.Rows == 0) {
      out_ << "<p class=\"note\">无行。 No rows.</p>\n";
    } else if (part.CsvPath.empty()) {
      out_ << "<p class=\"note\">" << std::to_string(part.Rows)
           << " 行未嵌入本报告：请见 rows are not embedded here: see " << where << "</p>\n";
    } else if (embedded < static_cast<std::size_t>(part.Rows)) {
      out_ << "<p class=\"note\">仅显示前 " << std::to_string(embedded) << " 行，共 "
           << std::to_string(part.Rows) << " 行；全部行见 Only the first "
           << std::to_string(embedded) << " of " << std::to_string(part.Rows)
           << " rows are shown; all of them are in " << where << "</p>\n";
    } else if (cutCells_) {
      out_ << "<p class=\"note\">过长的值已截断 (…)；完整的值见 Long values are cut (…); whole "
              "values are in "
           << where << "</p>\n";
    }
    out_ << "</div>\n";
  }

  std::string FilesOf(const TDatabaseReport& database, const TTablePartReport& part) const {
    std::string where;
    if (!part.CsvPath.empty()) where += FileLink(part.CsvPath);
    if (!database.SqlitePath.empty()) {
      where += (where.empty() ? "" : " · ") + FileLink(database.SqlitePath) + " (表 table “" +
               HtmlText(part.Name) + "”)";
    }
    return where.empty() ? "无 none" : where;
  }

  // Copies the first rows of a CSV file into the page as a JSON array of arrays of strings.
  std::size_t Rows(const std::string& csvPath, const std::vector<TColumnReport>& columns) {
    cutCells_ = false;
    const std::optional<std::string> systemPath = fileSystem_.FromDisplayText(csvPath);
    if (!systemPath)
      throw EQuillonError("Cannot open file \"" + csvPath +
                          "\". The system's code page cannot hold its name.");
    std::vector<TCsvRows::TColumnLimit> limits;
    for (const TColumnReport& column : columns) {
      // Pictures and other blobs as a glimpse of their first bytes; text as far as the limit.
      const bool hex = column.Type == "BLOB" || column.Type.starts_with("OLEOBJECT") ||
                       column.Type.starts_with("BINARY") || column.Type == "COMPLEX";
      limits.push_back({hex ? kHexDigitsShown : options_.CellBytes, hex});
    }
    TCsvRows rows(fileSystem_.Open(*systemPath, TOpenMode::ReadShared), std::move(limits),
                  {options_.CellBytes, false});
    rows.SkipByteOrderMark();
    std::vector<std::string> fields;
    if (!rows.Next(fields)) return 0;  // the header line
    std::size_t count = 0;
    while (count < options_.RowsPerTable && rows.Next(fields)) {
      out_ << (count++ ? ",\n[" : "\n[");
      for (std::size_t i = 0; i < fields.size(); ++i) out_ << (i ? "," : "") << JsonText(fields[i]);
      out_ << "]";
    }
    cutCells_ = rows.AnyCut();
    return count;
  }

  const TRecoveryReport& report_;
  IFileSystem& fileSystem_;
  const TReportHtmlOptions& options_;
  IRecoveryProgress& progress_;
  TPageOut& out_;
  std::size_t nextTable_ = 0;
  std::int64_t totalTables_ = 0;
  bool cutCells_ = false;
};

}  // namespace

std::string ValidUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  EachCharacter(text, [&](std::string_view piece) {
    out += piece;
  });
  return out;
}

std::string HtmlText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  EachCharacter(text, [&](std::string_view piece) {
    if (piece.size() != 1) {
      out += piece;
      return;
    }
    switch (piece[0]) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += piece;
    }
  });
  return out;
}

std::string JsonText(std::string_view text) {
  std::string out = "\"";
  out.reserve(text.size() + 2);
  EachCharacter(text, [&](std::string_view piece) {
    char escape[8];
    if (piece == "\xE2\x80\xA8" || piece == "\xE2\x80\xA9") {
      out += piece[2] == '\xA8' ? "\\u2028" : "\\u2029";
    } else if (piece.size() > 1) {
      out += piece;
    } else if (const unsigned char c = static_cast<unsigned char>(piece[0]);
               c < 0x20 || c == 0x7F || c == '<' || c == '>' || c == '&') {
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back(static_cast<char>(c));
    }
  });
  out.push_back('"');
  return out;
}

std::string WriteReportHtml(const TRecoveryReport& report, IFileSystem& fileSystem,
                            const TReportHtmlOptions& options, IRecoveryProgress& progress) {
  const std::string display = options.OutputDir + options.Separator + kReportHtmlName;
  const std::string partialDisplay = display + ".partial";
  const std::optional<std::string> path = fileSystem.FromDisplayText(display);
  const std::optional<std::string> partial = fileSystem.FromDisplayText(partialDisplay);
  if (!path || !partial)
    throw EQuillonError("Cannot create file \"" + display +
                        "\". The system's code page cannot hold its name.");
  TPageOut out(fileSystem.Open(*partial, TOpenMode::CreateNew), partialDisplay);
  try {
    TReportWriter(report, fileSystem, options, progress, out).Write();
    out.Finish();
  } catch (...) {
    out.Abandon();
    fileSystem.Remove(*partial);  // never left behind looking like a report
    throw;
  }
  fileSystem.Replace(*partial, *path);
  return display;
}

}  // namespace quillon::recover
