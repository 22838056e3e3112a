#pragma once
// The one flow of a recovery, shared by `quillon-cli recover` and the window's recover
// command: the source is read once through TMain's scan into OUTDIR/fragments.frag and the
// page map beside it, then the databases are decoded from those two files into OUTDIR and
// the report page is written there.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/main_form.h"
#include "app/recover_output.h"
#include "recover/fragment_page_store.h"
#include "recover/page_map_writer.h"
#include "recover/recovery.h"
#include "recover/recovery_report.h"

namespace quillon {

inline constexpr const char* kRecoverFragmentFileName = "fragments.frag";
inline constexpr const char* kRecoverPageMapFileName = "fragments.pagemap";
inline constexpr const char* kRecoverReportFileName = "report.html";

// Where a continued reading takes the page map from: the earlier map (a path inside OUTDIR,
// read through the outputs) and the point of it the run goes on from.
struct TPageMapContinuation {
  std::string EarlierPath;
  recover::TPageMapRestartPoint Point;
};

// From the creation of the page map to its end: main's scans feed it every fragment and
// every page that may begin a definition, header or usage map. The observers are removed
// again when it goes.
class TRecoveryReading {
 public:
  // Creates OUTDIR's page map and writes its header, or, with from, the earlier map's bytes
  // up to its point. Throws EQuillonError naming the file.
  TRecoveryReading(TMain& main, TRecoverOutputs& outputs,
                   const TPageMapContinuation* from = nullptr);
  ~TRecoveryReading();
  TRecoveryReading(const TRecoveryReading&) = delete;
  TRecoveryReading& operator=(const TRecoveryReading&) = delete;

  std::string FragmentPath() const { return outputs_.PathOf(kRecoverFragmentFileName); }
  const std::string& ShownMapPath() const { return shownMap_; }
  std::uint64_t KeptPages() const { return map_->KeptPages(); }
  recover::TPageMapWriter& Map() { return *map_; }
  // How the scan ended, in the page map's terms.
  static recover::TPageMapScanEnd MapEndOf(TScanEnd end);
  // Ends the page map at the scan's end. Throws EQuillonError naming it.
  void Finish(const TScanReport& scan);

 private:
  TMain& main_;
  TRecoverOutputs& outputs_;
  std::string shownMap_;
  std::optional<recover::TPageMapWriter> map_;
};

// Opens a fragment file with the page map beside it, where there is one. reading is told
// the bytes read so far of twice the file's length (it is read twice). Throws EQuillonError.
std::unique_ptr<recover::TFragmentPageStore> OpenFragmentStore(
    IFileSystem& fileSystem, const std::string& fragmentPath,
    const std::function<void(std::int64_t done, std::int64_t total)>& reading);

// What decoding gave: the databases, and the report page or why it is missing.
struct TDecodeResult {
  recover::TRecoveryReport Report;
  std::string ReportPath;   // UTF-8 display path of OUTDIR/report.html; "" when not written
  std::string ReportError;  // why it was not written (the tables are complete all the same)
};

// Decodes the store into outputs, then writes OUTDIR/report.html of what came out; source is
// the display text of what was read, shown at the top of the report. Throws EQuillonError
// naming the file and the cause when a table cannot be written; a report that cannot be
// written is told in ReportError instead.
TDecodeResult DecodeFragments(const recover::TFragmentPageStore& store, TRecoverOutputs& outputs,
                              const std::string& source, recover::IRecoveryProgress& progress);

}  // namespace quillon
