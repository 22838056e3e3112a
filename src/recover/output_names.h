#pragma once
// The names a recovered table and its columns are written under. They come from the disk,
// so anything is possible: a name SQLite keeps for itself, a NUL, two columns of one name,
// a name longer than a file system takes, a device name of Windows. Each is changed into
// one the output can take (and the change is told), never made fatal.

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace quillon::recover {

// The longest file name stem given (bytes of UTF-8): room is left for " (deleted)", a
// " (N)" and ".csv" under the 255 that file systems take for a name.
inline constexpr std::size_t kMaxFileStemBytes = 200;

// A table name SQLite takes: NUL as '_', "" as "_", and a name beginning "sqlite_" (in
// any case), which SQLite keeps for its own tables, behind a '_'.
std::string SqliteTableName(const std::string& name);

// A column name SQLite takes: NUL as '_', "" as "_".
std::string SqliteColumnName(const std::string& name);

// A table name as the stem of a file name: control characters and those Windows refuses
// (<>:"/\|?*) as '_', cut to kMaxFileStemBytes at a character's start, dots and spaces at
// its end (which Windows drops) as '_', and a device name of Windows (CON, NUL, COM1 ...)
// behind a '_'.
std::string FileNameOf(const std::string& tableName);

// The form two file names are equal in on a file system that ignores case: letters of
// the Latin, Greek, Cyrillic and Armenian alphabets and fullwidth Latin folded to small.
std::string FileNameKey(const std::string& name);

// stem, or "stem (2)", "stem (3)" ...: the first whose FileNameKey is not yet in used,
// which it is added to.
std::string UniqueFileName(const std::string& stem, std::set<std::string>& used);

// Keeps the `most` items of `items` with the largest size(item), in their order (the
// earlier first among equals); returns how many were dropped.
template <class TItem, class TSize>
std::size_t KeepLargest(std::vector<TItem>& items, std::size_t most, TSize size) {
  if (items.size() <= most) return 0;
  std::vector<std::size_t> order(items.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return size(items[a]) > size(items[b]); });
  std::vector<bool> kept(items.size(), false);
  for (std::size_t i = 0; i < most; ++i) kept[order[i]] = true;
  std::vector<TItem> result;
  result.reserve(most);
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (kept[i]) result.push_back(std::move(items[i]));
  }
  const std::size_t dropped = items.size() - result.size();
  items = std::move(result);
  return dropped;
}

// A name of the output that is not the one the database gives.
struct TNameChange {
  std::string Kind;      // "table", "column" or "file"
  std::string Original;  // as the database gives it (a file: the table name it is for)
  std::string Written;   // as written
};

// Column names SQLite takes, in place: each as SqliteColumnName gives it, and one that
// another column of the table already has (SQLite compares them without ASCII case) as
// "name (2)", "name (3)" ... Each change is added to changes.
void MakeColumnNamesSqliteTakes(std::vector<std::string>& names,
                                std::vector<TNameChange>& changes);

}  // namespace quillon::recover
