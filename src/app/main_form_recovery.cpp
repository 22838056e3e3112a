// TMain's recover command: the window's way to what quillon-cli recover does, through the
// same reading and decoding (recovery_run.h), with the scan's gauge, stop and pump.

#include <algorithm>
#include <chrono>
#include <exception>
#include <memory>
#include <optional>

#include "app/main_form.h"
#include "app/recover_output.h"
#include "app/recovery_run.h"
#include "app/texts.h"
#include "core/errors.h"

namespace quillon {

// The decoding's view of the window: the gauge in thousandths of each step, the pump each
// time it moves, and the stop command.
class TMain::TRecoveryProgress : public recover::IRecoveryProgress {
 public:
  static constexpr std::int32_t kSteps = 1000;
  explicit TRecoveryProgress(TMain& main) : main_(main) {
    main_.gg_.SetMin(0);
    main_.gg_.SetMax(kSteps);
    main_.SetGaugePosition(0);
  }
  void Progress(const std::string& what, std::int64_t done, std::int64_t total) override {
    const std::int64_t step =
        total <= 0 ? kSteps
                   : std::clamp<std::int64_t>(
                         static_cast<std::int64_t>(static_cast<long double>(done) * kSteps / total),
                         0, kSteps);
    if (step == lastStep_ && what == lastWhat_) return;
    lastStep_ = step;
    lastWhat_ = what;
    main_.SetGaugePosition(step);
    main_.view_.ProcessPendingMessages();
  }
  // Decoding asks this before every page it reads: the window's messages are let through
  // every tenth of a second, so that a click on stop reaches the flag during long walks
  // that report no progress.
  bool StopRequested() override {
    const auto now = std::chrono::steady_clock::now();
    if (now - lastPump_ >= std::chrono::milliseconds(100)) {
      lastPump_ = now;
      main_.view_.ProcessPendingMessages();
    }
    return main_.StopRequested;
  }

 private:
  TMain& main_;
  std::chrono::steady_clock::time_point lastPump_ = std::chrono::steady_clock::now();
  std::int64_t lastStep_ = -1;
  std::string lastWhat_;
};

void TMain::RecoverBtnClick() {
  if (Busy()) return;  // the button is disabled meanwhile; a click that slipped through waits
  view_.AppendLogLine(Say(texts::kRuleLine));
  view_.AppendLogLine(Say(texts::kRecoveryStarted));
  if (Source.Text().empty()) {
    view_.ShowMessage(Say(texts::kRecoveryMissingSource));
    return;
  }
  const std::optional<std::string> chosen = view_.ShowFolderDialog();
  if (!chosen) return;
  std::string outDir = SystemPath(*chosen);
  while (outDir.size() > 1 && (outDir.back() == '/' || outDir.back() == '\\')) outDir.pop_back();

  // The folder's checks come before anything is made, as for quillon-cli recover. The
  // source is held open from here on: a file being read is never removed.
  TRecoverFolderRules rules;
  rules.ForceOffered = false;  // the window replaces no earlier recovery
  rules.ShownSource = Shown(SourcePath);
  rules.Language = language_;
  std::unique_ptr<TStream> heldSource;
  bool readsDevice = SourceKindOf(SourcePath, PathConstants()) != TSourceKind::ImageFile;
  if (!readsDevice) {
    heldSource = fileSystem_.Open(SourcePath, TOpenMode::ReadShared);
    const TPathFacts facts = fileSystem_.Facts(SourcePath);
    readsDevice = facts.Kind == TPathKind::Device || facts.Kind == TPathKind::CharacterDevice;
    if (!readsDevice) rules.Source = facts.Identity;
  }
  if (readsDevice &&
      devices_.FileLiesOnDevice(outDir + "/" + kRecoverFragmentFileName, SourcePath) &&
      !OutputPlacementAccepted(outDir)) {
    return;  // nothing was made, nothing was read
  }
  TRecoverFolder folder(fileSystem_, outDir, rules);
  RunRecovery(folder);
}

void TMain::RunRecovery(TRecoverFolder& folder) {
  const std::string& outDir = folder.Dir();
  // The controls stay locked, and the window open, from here to the end of the run,
  // however it ends.
  struct TRunGuard {
    TMain& Main;
    explicit TRunGuard(TMain& main) : Main(main) {
      Main.recovering_ = true;
      Main.LockControls();
    }
    ~TRunGuard() {
      Main.recovering_ = false;
      Main.UnlockControls();
      Main.SetGaugePosition(0);
    }
  } runGuard(*this);
  lastRecovery_ = {};
  lastRecovery_.Ran = true;
  lastRecovery_.OutputDir = outDir;
  view_.AppendLogLine(Say(texts::kRecoveryReading,
                          {{"SOURCE", Shown(Source.Text())}, {"OUTDIR", Shown(outDir)}}));

  folder.Open();
  TRecoverOutputs outputs(folder);
  outputs.Begin();
  std::exception_ptr sourceLost;
  {
    TRecoveryReading reading(*this, outputs);
    try {
      RunScan(reading.FragmentPath(), false, &outputs);
    } catch (const EQuillonError&) {
      // A lost source leaves complete files up to where it ended: they are decoded, and the
      // loss is reported at the end. Any other failure ends the run here.
      if (lastScan_.End != TScanEnd::SourceLost) throw;
      sourceLost = std::current_exception();
    }
    reading.Finish(lastScan_);
  }
  if (lastScan_.End == TScanEnd::Stopped) {
    // What was read so far is decoded; a second stop ends the decoding too.
    lastRecovery_.Stopped = true;
    StopRequested = false;
    view_.AppendLogLine(Say(texts::kRecoveryReadStopped));
  }
  view_.AppendLogLine(Say(texts::kRecoveryRead, {{"N", std::to_string(lastScan_.BytesScanned)},
                                                 {"M", std::to_string(lastScan_.Fragments)}}));

  TRecoveryProgress progress(*this);
  std::unique_ptr<recover::TFragmentPageStore> store = OpenFragmentStore(
      outputs, outputs.PathOf(kRecoverFragmentFileName),
      [&](std::int64_t done, std::int64_t total) { progress.Progress("reading", done, total); });
  for (const std::string& warning : store->Notes().Warnings) view_.AppendLogLine(warning);
  const TDecodeResult decoded = DecodeFragments(*store, outputs, Shown(Source.Text()), progress);
  const recover::TRecoveryReport& report = decoded.Report;
  // Only a whole result is put in place; a failure above leaves the folder as it was. The
  // fragment file is closed first: Windows moves no file that is open.
  store.reset();
  outputs.Commit();

  lastRecovery_.Stopped = lastRecovery_.Stopped || report.Stopped;
  // The unplaced pages' tables are counted as tables, but they are no database.
  lastRecovery_.Databases = static_cast<int>(
      std::count_if(report.Databases.begin(), report.Databases.end(),
                    [](const recover::TDatabaseReport& database) { return !database.Unplaced; }));
  // Tables the catalog lists but no page of which was found are named, not counted.
  std::string lost;
  for (const recover::TDatabaseReport& database : report.Databases) {
    for (const recover::TTableReport& table : database.Tables) {
      if (table.State == recover::TTableState::Lost) {
        lost += (lost.empty() ? "" : ", ") + table.Name;
        continue;
      }
      ++lastRecovery_.Tables;
      lastRecovery_.Rows += table.Rows;
    }
  }
  for (const recover::TDatabaseReport& database : report.Databases) {
    for (const recover::TTableReport& table : database.Tables) {
      if (!table.Failure.empty())
        view_.AppendLogLine(
            Say(texts::kRecoveryTableNotWritten, {{"TABLE", table.Name}, {"CAUSE", table.Failure}}));
    }
  }
  if (!decoded.ReportError.empty()) view_.AppendLogLine(decoded.ReportError);
  lastRecovery_.ReportPath =
      decoded.ReportPath.empty() ? std::string() : outputs.PathOf(kRecoverReportFileName);
  view_.AppendLogLine(Say(lastRecovery_.Stopped ? texts::kRecoveryStopped : texts::kRecoveryDone,
                          {{"D", std::to_string(lastRecovery_.Databases)},
                           {"T", std::to_string(lastRecovery_.Tables)},
                           {"R", std::to_string(lastRecovery_.Rows)},
                           {"PATH", Shown(outDir)}}));
  if (!lost.empty()) view_.AppendLogLine(Say(texts::kRecoveryLostTables, {{"TABLES", lost}}));
  if (!lastRecovery_.ReportPath.empty())
    view_.AppendLogLine(Say(texts::kRecoveryReport, {{"PATH", Shown(lastRecovery_.ReportPath)}}));
  ShowDoneMessage();
  // Once the window is going away nobody would look at the page.
  if (!closeRequested_ && !lastRecovery_.ReportPath.empty() &&
      !view_.OpenDocument(lastRecovery_.ReportPath)) {
    view_.AppendLogLine(Say(texts::kRecoveryReportNotOpened));
  }
  if (sourceLost) std::rethrow_exception(sourceLost);
}

}  // namespace quillon
