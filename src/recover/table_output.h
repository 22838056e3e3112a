#pragma once
// The files a recovered database is written to: one SQLite database, and one CSV file per
// table. Both go through IFileSystem; both throw EQuillonError naming the file and the cause.

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/stream.h"
#include "recover/output_names.h"
#include "recover/row_values.h"

namespace quillon::recover {

struct TOutputColumn {
  std::string Name;
  std::string DeclaredType;  // the Access type, as SQLite declares it
  // Text from the disk (a text or memo column): in the CSV file a value that a spreadsheet
  // would run as a formula gets a leading apostrophe (core/csv_formula.h).
  bool DefuseFormulas = false;
};

// The declared type of a column in SQLite. Each keeps the affinity its values need:
// currency and decimal declare TEXT so that SQLite does not turn "12.3400" into 12.34,
// memo is LONGTEXT so that a memo "007" stays text, single is REAL.
std::string DeclaredTypeOf(const TColumn& column);

class TSqliteWriter {
 public:
  // Creates the file (systemPath as the file system opens it, displayPath for messages).
  TSqliteWriter(IFileSystem& fileSystem, const std::string& systemPath,
                const std::string& displayPath);
  ~TSqliteWriter();
  TSqliteWriter(const TSqliteWriter&) = delete;
  TSqliteWriter& operator=(const TSqliteWriter&) = delete;

  void BeginTable(const std::string& name, const std::vector<TOutputColumn>& columns);
  void Insert(const std::vector<TValue>& values);
  // Commits and closes the file; until then the file is incomplete.
  void Finish();
  // A write or the file itself failed: nothing more can be written to it.
  bool Broken() const;

 private:
  struct TState;
  std::unique_ptr<TState> state_;
};

class TCsvWriter {
 public:
  // UTF-8 with a byte-order mark, a header line of the column names, RFC 4180 (CRLF).
  TCsvWriter(IFileSystem& fileSystem, const std::string& systemPath,
             const std::string& displayPath, const std::vector<TOutputColumn>& columns);
  ~TCsvWriter();
  TCsvWriter(const TCsvWriter&) = delete;
  TCsvWriter& operator=(const TCsvWriter&) = delete;

  // Nulls are empty fields; blobs are hexadecimal digits; text in a column that defuses
  // formulas begins with an apostrophe where it would read as one.
  void Row(const std::vector<TValue>& values);
  void Finish();

 private:
  void Flush();
  std::unique_ptr<TStream> stream_;
  std::string displayPath_;
  std::string buffer_;
  std::vector<bool> defuse_;  // by column: DefuseFormulas
};

// name, or "name (2)", "name (3)" ...: the first not yet in used, which it is added to
// (compared without case, as SQLite compares table names).
std::string UniqueName(const std::string& name, std::set<std::string>& used);

}  // namespace quillon::recover
