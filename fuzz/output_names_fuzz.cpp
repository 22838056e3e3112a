// libFuzzer target for the names recover writes tables, columns and files under: the input
// is a table name and column names separated by 0xFF bytes. SQLite must take the table
// with its columns, and the file name must be one Windows and every other file system take:
// no refused or control character, no device name, no dot or space at its end, not too
// long, and unique under the case folding among the names given before.

#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "recover/output_names.h"

namespace {

std::string Quoted(const std::string& name) {
  std::string out = "\"";
  for (const char c : name) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  return out + "\"";
}

bool IsWindowsDevice(std::string_view stem) {
  stem = stem.substr(0, stem.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  std::string upper(stem);
  for (char& c : upper) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
    if (upper == device) return true;
  if (upper.size() >= 4 && (upper.starts_with("COM") || upper.starts_with("LPT"))) {
    const std::string_view rest = std::string_view(upper).substr(3);
    if ((rest.size() == 1 && rest[0] >= '0' && rest[0] <= '9') || rest == "\xC2\xB9" ||
        rest == "\xC2\xB2" || rest == "\xC2\xB3")
      return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillon::recover;
  std::vector<std::string> names(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0xFF) names.emplace_back();
    else names.back().push_back(static_cast<char>(data[i]));
  }
  const std::string table = SqliteTableName(names[0]);
  std::vector<std::string> columns(names.begin() + 1, names.end());
  if (columns.empty()) columns.push_back("x");
  std::vector<TNameChange> changes;
  MakeColumnNamesSqliteTakes(columns, changes);

  sqlite3* db = nullptr;
  if (sqlite3_open(":memory:", &db) != SQLITE_OK) __builtin_trap();
  std::string create = "CREATE TABLE " + Quoted(table) + " (";
  for (std::size_t i = 0; i < columns.size(); ++i)
    create += (i ? ", " : "") + Quoted(columns[i]) + " TEXT";
  create += ")";
  char* message = nullptr;
  if (sqlite3_exec(db, create.c_str(), nullptr, nullptr, &message) != SQLITE_OK) __builtin_trap();
  sqlite3_close(db);

  std::set<std::string> used;
  for (const std::string& name : names) {
    const std::string stem = FileNameOf(name);
    if (stem.empty() || stem.size() > kMaxFileStemBytes + 1) __builtin_trap();
    for (const char c : stem) {
      const auto u = static_cast<unsigned char>(c);
      if (u < 0x20 || u == 0x7F || std::string_view("<>:\"/\\|?*").find(c) != std::string_view::npos)
        __builtin_trap();
    }
    if (stem.back() == '.' || stem.back() == ' ' || IsWindowsDevice(stem)) __builtin_trap();
    const std::string file = UniqueFileName(stem, used);
    if (!file.starts_with(stem)) __builtin_trap();
  }
  if (used.size() != names.size()) __builtin_trap();
  return 0;
}
