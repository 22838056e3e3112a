#pragma once
// Rebuilds named, typed tables from the pages of a store: one SQLite file and one folder of
// CSV files per database told apart on the source.

#include <cstdint>
#include <string>

#include "core/stream.h"
#include "recover/page_store.h"

namespace quillon::recover {

// Told how far decoding has come; may ask it to stop (what was decoded so far is written).
class IRecoveryProgress {
 public:
  virtual ~IRecoveryProgress() = default;
  // what: a short UTF-8 text ("tying definitions", "table Customers", ...); done of total.
  virtual void Progress(const std::string& what, std::int64_t done, std::int64_t total) = 0;
  virtual bool StopRequested() { return false; }
};

struct TRecoveryOptions {
  std::string OutputDir;  // UTF-8 display path of OUTDIR, which exists and is ours to fill
  char Separator = '/';   // between the parts of the paths made inside OUTDIR ('\\' on Windows)
  bool WriteCsv = true;
  bool WriteSqlite = true;
  // OUTDIR/database-N.xlsx as well: the file system must be one whose files a library can
  // open by name (IFileSystem::PathOfCreated).
  bool WriteXlsx = false;
};

struct TRecoveryReport;  // defined in recovery_report.h: databases, tables, rows, values not found

// Decodes every database found in pages and writes OUTDIR/database-N.sqlite and
// OUTDIR/database-N/TABLE.csv through fileSystem. Throws EQuillonError naming the file and
// the cause when an output cannot be written.
TRecoveryReport RecoverDatabases(const IPageStore& pages, IFileSystem& fileSystem,
                                 const TRecoveryOptions& options, IRecoveryProgress& progress);

}  // namespace quillon::recover
