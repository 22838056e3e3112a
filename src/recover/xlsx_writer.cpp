#include "recover/xlsx_writer.h"

#include <xlsxwriter.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <set>

#include "core/errors.h"

namespace quillon::recover {
namespace {

// The largest integer a double, and so a spreadsheet number, holds exactly.
constexpr std::int64_t kExactIntegerLimit = std::int64_t{1} << 53;
// The significant digits a spreadsheet shows of a number without changing it.
constexpr std::size_t kExactDigits = 15;

// The length of the UTF-8 sequence that begins with lead (1 for a stray byte).
std::size_t SequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead < 0xF8) return 4;
  if (lead >= 0xE0) return lead < 0xF0 ? 3 : 1;
  if (lead >= 0xC0) return 2;
  return 1;
}

// text cut to at most limit characters as a spreadsheet counts them (UTF-16 units), at a
// character's edge; nothing when it is not longer.
std::optional<std::string> CutTo(const std::string& text, std::size_t limit) {
  std::size_t units = 0;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = SequenceLength(static_cast<unsigned char>(text[at]));
    const std::size_t width = length == 4 ? 2 : 1;
    if (units + width > limit) return text.substr(0, at);
    units += width;
    at += length;
  }
  return std::nullopt;
}

std::size_t CharacterCount(const std::string& text) {
  std::size_t units = 0;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = SequenceLength(static_cast<unsigned char>(text[at]));
    units += length == 4 ? 2 : 1;
    at += length;
  }
  return units;
}

// How a column's values go into cells, from the type the column declares.
enum class TCellKind {
  Plain,     // by the value: numbers as numbers, text as text
  YesNo,     // TRUE/FALSE
  Exact,     // currency and decimal: exact text, a number where a double shows it unchanged
  DateTime,  // "YYYY-MM-DD HH:MM:SS" text, a date cell where the sheet can hold the date
};

struct TColumnCells {
  TCellKind Kind = TCellKind::Plain;
  int Scale = 0;  // Exact: the decimals its number format shows
};

TColumnCells CellsOf(const TOutputColumn& column) {
  const std::string& type = column.DeclaredType;
  if (type == "YESNO") return {TCellKind::YesNo, 0};
  if (type.starts_with("CURRENCY")) return {TCellKind::Exact, 4};
  if (type.starts_with("DATETIME")) return {TCellKind::DateTime, 0};
  if (type.starts_with("DECIMAL")) {
    const std::size_t comma = type.rfind(',');
    int scale = 0;
    if (comma != std::string::npos) std::sscanf(type.c_str() + comma + 1, "%d", &scale);
    return {TCellKind::Exact, std::clamp(scale, 0, 28)};
  }
  return {};
}

// An exact decimal text ("-1234.5000") as the double that shows it unchanged, or nothing
// when it has more significant digits than a double keeps.
std::optional<double> ExactNumber(const std::string& text) {
  std::size_t digits = 0;
  bool leading = true;
  std::size_t at = text.starts_with("-") ? 1 : 0;
  if (at == text.size()) return std::nullopt;
  bool point = false;
  std::size_t trailingZeros = 0;
  for (; at < text.size(); ++at) {
    const char c = text[at];
    if (c == '.' && !point) {
      point = true;
      continue;
    }
    if (c < '0' || c > '9') return std::nullopt;
    if (leading && c == '0') continue;
    leading = false;
    ++digits;
    trailingZeros = point && c == '0' ? trailingZeros + 1 : 0;
  }
  if (digits - trailingZeros > kExactDigits) return std::nullopt;
  // from_chars, not strtod: the decimal point is '.' whatever the process's locale.
  double number = 0;
  std::from_chars(text.data(), text.data() + text.size(), number);
  return number;
}

// "YYYY-MM-DD HH:MM:SS" (a fraction of a second may follow) as a date the sheet holds: from
// 1900-03-01 on, where the spreadsheet's day numbers run true.
std::optional<lxw_datetime> SheetDate(const std::string& text) {
  lxw_datetime date{};
  char dash1 = 0, dash2 = 0, space = 0, colon1 = 0, colon2 = 0;
  int used = 0;
  if (std::sscanf(text.c_str(), "%4d%c%2d%c%2d%c%2d%c%2d%c%n", &date.year, &dash1,
                  &date.month, &dash2, &date.day, &space, &date.hour, &colon1, &date.min,
                  &colon2, &used) != 10 ||
      dash1 != '-' || dash2 != '-' || space != ' ' || colon1 != ':' || colon2 != ':')
    return std::nullopt;
  // The seconds with from_chars, not "%lf": their point is '.' whatever the locale.
  double seconds = 0;
  const char* const end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data() + used, end, seconds);
  if (error != std::errc() || stop != end) return std::nullopt;
  if (date.year < 1900 || date.year > 9999 || (date.year == 1900 && date.month < 3))
    return std::nullopt;
  date.sec = seconds;
  return date;
}

std::string Hex(const std::string& bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    text.push_back(kHex[static_cast<unsigned char>(c) >> 4]);
    text.push_back(kHex[static_cast<unsigned char>(c) & 15]);
  }
  return text;
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// text with each "_xHHHH_" of its own written "_x005F_xHHHH_": a spreadsheet reads
// "_xHHHH_" in a cell as the character HHHH (the form control characters are written in).
std::string KeepEscapesLiteral(const std::string& text) {
  std::string kept;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text.compare(at, 2, "_x") == 0 && at + 7 <= text.size() && text[at + 6] == '_' &&
        std::all_of(text.begin() + at + 2, text.begin() + at + 6, IsHexDigit))
      kept += "_x005F";
    kept.push_back(text[at]);
  }
  return kept;
}

// The C locale's numbers for as long as it lives, the locale's own afterwards. The library
// writes numbers with printf ("%.16G"), whose decimal point follows LC_NUMERIC: under a
// locale with a decimal comma (a German desktop, which the Qt window takes on) a workbook
// would hold "3,25", which no spreadsheet reads. The workbook is written on the thread that
// runs the recovery, and no other thread formats numbers meanwhile.
class TCNumbers {
 public:
  TCNumbers() {
    const char* current = std::setlocale(LC_NUMERIC, nullptr);
    if (current != nullptr && std::strcmp(current, "C") != 0) {
      previous_ = current;
      std::setlocale(LC_NUMERIC, "C");
    }
  }
  ~TCNumbers() {
    if (previous_) std::setlocale(LC_NUMERIC, previous_->c_str());
  }
  TCNumbers(const TCNumbers&) = delete;
  TCNumbers& operator=(const TCNumbers&) = delete;

 private:
  std::optional<std::string> previous_;  // the locale to go back to, where it was not "C"
};

std::string FoldCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

std::string XlsxSheetName(const std::string& name) {
  std::string clean;
  for (const char c : name) {
    const bool forbidden = c == '[' || c == ']' || c == ':' || c == '*' || c == '?' ||
                           c == '/' || c == '\\' || (c >= 0 && c < 0x20);
    clean.push_back(forbidden ? '_' : c);
  }
  if (clean.empty()) clean = "_";
  constexpr std::size_t kLimit = 31;
  if (CharacterCount(clean) > kLimit) {
    std::string suffix;
    const std::size_t open = clean.rfind(" (");
    if (clean.ends_with(")") && open != std::string::npos && clean.size() - open <= 16)
      suffix = clean.substr(open);
    const std::string head = clean.substr(0, clean.size() - suffix.size());
    clean = CutTo(head, kLimit - CharacterCount(suffix)).value_or(head) + suffix;
  }
  if (clean.front() == '\'') clean.front() = '_';
  if (clean.back() == '\'') clean.back() = '_';
  return clean;
}

struct TXlsxWriter::TState {
  IFileSystem* FileSystem = nullptr;
  std::string SystemPath, DisplayPath, TemporaryPath;
  lxw_workbook* Book = nullptr;
  lxw_worksheet* Index = nullptr;
  lxw_row_t IndexRow = 1;
  lxw_format* Date = nullptr;
  lxw_format* Header = nullptr;
  std::map<int, lxw_format*> ExactFormats;  // by scale
  std::set<std::string> SheetNames;         // folded: a spreadsheet ignores case
  lxw_worksheet* Sheet = nullptr;
  std::string TableName;
  std::vector<TOutputColumn> Columns;
  std::vector<TColumnCells> Cells;
  lxw_row_t Row = 0;
  int Continuation = 1;
  std::size_t SheetRows = kXlsxSheetRows;

  [[noreturn]] void Fail(const std::string& cause) {
    throw EQuillonError("Cannot write file \"" + DisplayPath + "\": " + cause + ".");
  }
  void Check(lxw_error error) {
    if (error != LXW_NO_ERROR) Fail(lxw_strerror(error));
  }

  // Text as a string cell, never a formula, whatever it begins with.
  void String(lxw_worksheet* sheet, lxw_row_t row, lxw_col_t column, const std::string& text,
              lxw_format* format = nullptr) {
    Check(worksheet_write_string(sheet, row, column, KeepEscapesLiteral(text).c_str(), format));
  }

  lxw_format* ExactFormat(int scale) {
    lxw_format*& format = ExactFormats[scale];
    if (!format) {
      format = workbook_add_format(Book);
      const std::string pattern = scale == 0 ? "#,##0" : "#,##0." + std::string(scale, '0');
      format_set_num_format(format, pattern.c_str());
    }
    return format;
  }

  std::string UniqueSheetName(const std::string& name) {
    std::string candidate = XlsxSheetName(name);
    for (int n = 2; !SheetNames.insert(FoldCase(candidate)).second; ++n)
      candidate = XlsxSheetName(name + " (" + std::to_string(n) + ")");
    return candidate;
  }

  void AddSheet(const std::string& name) {
    const std::string sheetName = UniqueSheetName(name);
    Sheet = workbook_add_worksheet(Book, sheetName.c_str());
    if (!Sheet) Fail("the workbook refused the sheet \"" + sheetName + "\"");
    for (std::size_t i = 0; i < Columns.size(); ++i)
      String(Sheet, 0, static_cast<lxw_col_t>(i), Columns[i].Name, Header);
    Row = 1;
    String(Index, IndexRow, 0, sheetName);
    String(Index, IndexRow, 1, name);
    ++IndexRow;
  }

  void Note(lxw_col_t column, const std::string& text) {
    Check(worksheet_write_comment(Sheet, Row, column, text.c_str()));
  }

  void Text(lxw_col_t column, const std::string& text, const std::string& what) {
    if (const std::optional<std::string> cut = CutTo(text, kXlsxCellCharacters)) {
      String(Sheet, Row, column, *cut);
      Note(column, "Cut at " + std::to_string(kXlsxCellCharacters) + " of its " +
                       std::to_string(CharacterCount(text)) + " characters: the " + what +
                       " is whole in the CSV and SQLite files.");
    } else {
      String(Sheet, Row, column, text);
    }
  }

  void Cell(lxw_col_t column, const TValue& value, const TColumnCells& cells) {
    switch (value.Kind) {
      case TValue::TKind::Null:
        return;
      case TValue::TKind::NotFound:
        Note(column, "Left empty: the pages of this long value were not found.");
        return;
      case TValue::TKind::Integer:
        if (cells.Kind == TCellKind::YesNo) {
          Check(worksheet_write_boolean(Sheet, Row, column, value.Integer != 0, nullptr));
        } else if (value.Integer > kExactIntegerLimit || value.Integer < -kExactIntegerLimit) {
          String(Sheet, Row, column, std::to_string(value.Integer));
          Note(column, "Written as text: a spreadsheet number cannot hold this integer exactly.");
        } else {
          Check(worksheet_write_number(Sheet, Row, column, static_cast<double>(value.Integer),
                                       nullptr));
        }
        return;
      case TValue::TKind::Real:
        if (std::isfinite(value.Real)) {
          Check(worksheet_write_number(Sheet, Row, column, value.Real, nullptr));
        } else {
          String(Sheet, Row, column,
                 std::isnan(value.Real) ? "NaN" : value.Real > 0 ? "Infinity" : "-Infinity");
        }
        return;
      case TValue::TKind::Text:
        if (cells.Kind == TCellKind::Exact) {
          if (const std::optional<double> number = ExactNumber(value.Bytes)) {
            Check(worksheet_write_number(Sheet, Row, column, *number, ExactFormat(cells.Scale)));
          } else {
            String(Sheet, Row, column, value.Bytes);
            Note(column, "Written as text: it has more digits than a spreadsheet number keeps.");
          }
          return;
        }
        if (cells.Kind == TCellKind::DateTime) {
          if (std::optional<lxw_datetime> date = SheetDate(value.Bytes)) {
            Check(worksheet_write_datetime(Sheet, Row, column, &*date, Date));
            return;
          }
        }
        Text(column, value.Bytes, "value");
        return;
      case TValue::TKind::Blob:
        Text(column, Hex(value.Bytes), "binary value (hexadecimal digits)");
        return;
    }
  }
};

TXlsxWriter::TXlsxWriter(IFileSystem& fileSystem, const std::string& systemPath,
                         const std::string& displayPath, std::size_t sheetRows)
    : state_(std::make_unique<TState>()) {
  TState& s = *state_;
  s.SheetRows = std::clamp<std::size_t>(sheetRows, 2, kXlsxSheetRows);
  s.FileSystem = &fileSystem;
  s.SystemPath = systemPath;
  s.DisplayPath = displayPath;
  // The workbook library writes by file name: the name is made first through the file
  // system (new, listed), then given to it; the file takes its own name once complete.
  s.TemporaryPath = systemPath + ".part";
  fileSystem.Open(s.TemporaryPath, TOpenMode::CreateNew).reset();
  const std::string libraryPath = fileSystem.PathOfCreated(s.TemporaryPath);
  // The library assembles each part of the workbook in a temporary file of its own before
  // it zips them. Left to itself it makes them in $TMPDIR or %TEMP%, which may be on the
  // disk being recovered from; in the workbook's own folder they stay where the output
  // goes. (Each is removed as it closes: unlinked at once on POSIX, opened delete-on-close
  // on Windows.) The file name is ours, in ASCII: the last '/' or '\\' ends the folder, and
  // no trail byte of a double-byte code page can be taken for it.
  const std::size_t separator = libraryPath.find_last_of("/\\");
  std::string temporaryFolder =
      separator == std::string::npos ? std::string(".") : libraryPath.substr(0, separator);
  if (temporaryFolder.empty()) temporaryFolder = "/";
  lxw_workbook_options options{};
  options.use_zip64 = LXW_TRUE;
  options.tmpdir = temporaryFolder.data();
  s.Book = workbook_new_opt(libraryPath.c_str(), &options);
  if (!s.Book) {
    fileSystem.Remove(s.TemporaryPath);
    throw EQuillonError("Cannot write file \"" + displayPath + "\": the workbook was refused.");
  }
  s.Date = workbook_add_format(s.Book);
  format_set_num_format(s.Date, "yyyy-mm-dd hh:mm:ss");
  s.Header = workbook_add_format(s.Book);
  format_set_bold(s.Header);
  s.Index = workbook_add_worksheet(s.Book, "Tables");
  s.SheetNames.insert("tables");
  s.String(s.Index, 0, 0, "Sheet", s.Header);
  s.String(s.Index, 0, 1, "Table", s.Header);
}

TXlsxWriter::~TXlsxWriter() {
  TState& s = *state_;
  if (s.Book) {
    // Not finished: the library has written nothing yet; the name made for it goes.
    lxw_workbook_free(s.Book);
    s.FileSystem->Remove(s.TemporaryPath);
  }
}

void TXlsxWriter::BeginTable(const std::string& name, const std::vector<TOutputColumn>& columns) {
  TState& s = *state_;
  s.TableName = name;
  s.Columns = columns;
  s.Cells.clear();
  for (const TOutputColumn& column : columns) s.Cells.push_back(CellsOf(column));
  s.Continuation = 1;
  s.AddSheet(name);
}

void TXlsxWriter::Insert(const std::vector<TValue>& values) {
  TState& s = *state_;
  if (!s.Sheet) return;
  if (s.Row >= s.SheetRows)
    s.AddSheet(s.TableName + " (part " + std::to_string(++s.Continuation) + ")");
  for (std::size_t i = 0; i < values.size() && i < s.Cells.size(); ++i)
    s.Cell(static_cast<lxw_col_t>(i), values[i], s.Cells[i]);
  ++s.Row;
}

void TXlsxWriter::Finish() {
  TState& s = *state_;
  lxw_workbook* book = s.Book;
  s.Book = nullptr;
  lxw_error closed;
  {
    const TCNumbers numbers;  // every number of the workbook is written out here
    closed = workbook_close(book);
  }
  if (closed != LXW_NO_ERROR) {
    s.FileSystem->Remove(s.TemporaryPath);
    s.Fail(lxw_strerror(closed));
  }
  s.FileSystem->Replace(s.TemporaryPath, s.SystemPath);
}

}  // namespace quillon::recover
