#pragma once
// TMain: the window's state and commands, free of any toolkit. It reports through an
// IMainView and opens files through an IFileSystem; failures leave its commands as
// EQuillonError for the front end to show.

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "app/gauge.h"
#include "app/language.h"
#include "app/main_view.h"
#include "app/text_holder.h"
#include "app/window_layout.h"
#include "core/byte_ranges.h"
#include "core/fragment_file_format.h"
#include "core/fragment_file_writer.h"
#include "core/scan_restart.h"
#include "core/source_path.h"
#include "core/stream.h"
#include "storage/device_queries.h"
#include "storage/output_guard.h"

namespace quillon {

class TRecoverFolder;

// How the last start of a scan ended, for front ends that report it (exit codes).
enum class TScanEnd {
  NotRun,        // no scan started yet
  MissingInput,  // no source or no output chosen
  Completed,     // reached the end of the source
  Stopped,       // ended by the stop command; the file is complete
  Failed,        // ended by a failure; the file, if created, has no trailer
  Declined,      // the output lies on the device to scan, and the user chose not to go on
  Refused,       // the source or the output may not be used (the reason was raised);
                 // nothing was created
  SourceLost,    // the source could no longer be read, or shrank; the file is complete up
                 // to there, and the scan is reported as a failure
};

struct TScanReport {
  TScanEnd End = TScanEnd::NotRun;
  std::int64_t Fragments = 0;
  std::int64_t BytesScanned = 0;
  std::int64_t BytesToScan = 0;  // the source size the scan was to cover
  std::string OutputPath;        // the file written (the system's form), links followed
  std::string PartialPath;       // after a failure: where the unfinished file stays
  // What could not be read: zeros in the scan's view. Everything else was scanned.
  std::vector<TByteRange> Unreadable;
  std::int64_t UnreadableBytes = 0;
};

// How the last recovery from the window went.
struct TRecoveryRunReport {
  bool Ran = false;           // a folder was chosen and the run began
  bool Stopped = false;       // stopped on request, while reading or decoding
  std::string OutputDir;      // the system's form
  std::string ReportPath;     // the report page, once written
  int Databases = 0;
  int Tables = 0;
  std::int64_t Rows = 0;
};

// Called for every fragment as it goes to the file: its number in the file (from 0), the
// source offset it was copied from, and its bytes. The command line writes its index so.
using TFragmentObserver = std::function<void(std::int64_t number, std::int64_t offset,
                                             std::span<const std::uint8_t, kFragmentSize>)>;

// Called for every step that may begin a page recovery keeps besides the fragments (a
// definition, header or usage-map page): its source offset and the 4096 bytes there.
using TOtherPageObserver =
    std::function<void(std::int64_t offset, std::span<const std::uint8_t, kFragmentSize>)>;

class TMain {
 public:
  // language: the one every text it shows is in, for the whole session.
  TMain(IMainView& view, IFileSystem& fileSystem, IDeviceQueries& devices,
        TLanguage language = TLanguage::Chinese);
  TMain(const TMain&) = delete;
  TMain& operator=(const TMain&) = delete;

  // Sets the title and the text constants; runs once from the constructor.
  void FormCreate();

  // Shared fields.
  std::string SourcePath;        // the path the scan opens
  std::int64_t SourceSize = 0;   // bytes the scan covers from offset 0, read at every chunk
  std::string DrivePrefix;       // "physicaldrive"
  std::string DevicePrefix;      // "\\.\"
  std::string DriveSeparator;    // ":"
  std::string RootSuffix;        // ":\"
  bool StopRequested = false;    // set by the stop command, cleared when a scan starts

  // Hidden text holders: the chosen source (its change runs SourceChange) and output path.
  TTextHolder Source;
  TTextHolder Destination;

  // The start command: the whole scan run. Returns when it has ended; a failure to open,
  // create or write is left as an exception once the cleanup has run.
  void button2Click();
  // The stop command: sets StopRequested and nothing else.
  void Button1Click();
  // Runs when the text of Source changes: logs it, forms SourcePath and sizes the source.
  void SourceChange();

  // The recover command: asks for an output folder, reads the source once into it and
  // decodes the databases there, as quillon-cli recover does, then opens the report page.
  // A failure is left as an exception once the run's files are closed.
  void RecoverBtnClick();
  const TRecoveryRunReport& LastRecovery() const { return lastRecovery_; }

  // A click on RecBtn: RecBtnDropDown, then pop opens below the button; a chosen entry
  // runs SourceItemClick.
  void RecBtnClick();
  // Rebuilds pop: the open-image entry, the volumes, a separator, the physical drives.
  void RecBtnDropDown();
  // The click handler of every entry of pop, told apart by the entry's name alone.
  void SourceItemClick(const std::string& name);
  // The save command: sd chooses Destination; the path is logged also after a cancel.
  void SaveBtnClick();

  // A request to close the window. While a scan runs it is remembered and the scan goes
  // on to its end or a stop and finishes its file; the front end ends the program once
  // button2Click has returned. Returns whether the window may close now.
  bool FormCloseQuery();
  bool CloseRequested() const { return closeRequested_; }
  // From LockControls to the end of the scan's cleanup.
  bool Scanning() const { return scanning_; }
  // A scan or a recovery runs: the window stays open until it has ended.
  bool Busy() const { return scanning_ || recovering_; }
  // After a command has returned to the window's own loop: whether the window closes now.
  bool ClosesAfterCommand() const { return window::ClosesAfterCommand(closeRequested_, Busy()); }
  // The session ends and the process may end as soon as the caller returns: a running scan
  // stops, and its file is finished and closed now, inside this call, not at the next
  // chunk. Called from within the scan (the message pump). Nothing when no file is open.
  // Never throws: a failure to finish is left for the scan to report.
  void FinishFileNow();

  // The start buttons as the window's state has them; a scan and a recovery each lock
  // the other's start.
  void ShowControlStates(window::TWindowState state);
  void LockControls();
  void UnlockControls();

  std::string Title() const { return title_; }
  TLanguage Language() const { return language_; }
  // A text of app/texts.h in the session's language, its parts filled in.
  std::string Say(const TText& text, TFillValues values = {}) const {
    return Fill(text, language_, values);
  }
  const TGauge& gg() const { return gg_; }
  const TScanReport& LastScan() const { return lastScan_; }
  TPathConstants PathConstants() const;

  // Which existing file a scan may replace. The window's save dialog asks before an
  // existing file is chosen, so it may replace any file; the command line narrows it.
  void SetReplaceRule(TReplaceRule rule) { replaceRule_ = rule; }

  // Sees every fragment of the next scans; empty for none.
  void SetFragmentObserver(TFragmentObserver observer) { fragmentObserver_ = std::move(observer); }
  // Keeps the next scans resumable, or continues an interrupted one (the command line's
  // scan); null for none. The keeper outlives the scans.
  void SetRestartKeeper(TScanRestartKeeper* keeper) { restartKeeper_ = keeper; }
  // Sees the steps that may begin other kept pages in the next scans; empty for none.
  void SetOtherPageObserver(TOtherPageObserver observer) {
    otherPageObserver_ = std::move(observer);
  }

  // Takes the lock that keeps other runs off outputPath (the system's form, as the output
  // check gives it) and holds it until this object goes: for a front end that looks at
  // what an earlier run left beside the output before the scan. Each scan takes the lock
  // of its output itself for its length, unless it is held here. Throws EQuillonError
  // naming the output when another run holds it; holds nothing where no lock file can be
  // made (the scan's own create then fails with its cause).
  void LockOutput(const std::string& outputPath);

  // A path chosen by the user (UTF-8, as dialogs and the command line give it) in the form
  // the system opens; throws with a clear text when the system's code page cannot hold it.
  std::string SystemPath(const std::string& chosenPath) const;

 private:
  class TScanHost;
  class TRecoveryProgress;
  // outputFileSystem: where the fragment file is written (the file system by default).
  // showMessages: the scan's own boxes (the size, the completion); a recovery reads
  // without them and shows the completion at its own end.
  void RunScan(const std::string& outputPath, bool showMessages = true,
               IFileSystem* outputFileSystem = nullptr);
  void RunRecovery(TRecoverFolder& folder);
  // Checks the output against the source; throws the refusal. Records a refusal in
  // LastScan first.
  TOutputPlan PlanOutput();
  // Asks before a scan that would write its output onto the device it scans.
  bool OutputPlacementAccepted(const std::string& outputPath);
  // Refuses a source that is no disk, volume or file with a size: a character device, a
  // pipe, a disk device that reports no size.
  void CheckSourceHasSize(std::int64_t size);
  // The bytes a device covers, by its kind; throws when it sizes to nothing.
  std::int64_t DeviceSize(IDevice& device, TSourceKind kind);
  void ShowDoneMessage();
  // The path of the system as a person reads it (UTF-8).
  std::string Shown(const std::string& systemText) const;

  void SetGaugePosition(std::int64_t value);

  IMainView& view_;
  IFileSystem& fileSystem_;
  IDeviceQueries& devices_;
  const TLanguage language_;
  std::string title_;
  TGauge gg_;
  std::int64_t gaugeUnit_ = 1024;
  TScanReport lastScan_;
  TFragmentObserver fragmentObserver_;
  TReplaceRule replaceRule_ = TReplaceRule::Any;
  TOtherPageObserver otherPageObserver_;
  TScanRestartKeeper* restartKeeper_ = nullptr;
  bool scanning_ = false;
  bool recovering_ = false;
  TRecoveryRunReport lastRecovery_;
  // The running scan's file from its header to its Finish, for FinishFileNow.
  TFragmentFileWriter* openWriter_ = nullptr;
  bool finishedEarly_ = false;  // FinishFileNow finished (or failed to finish) the file
  std::exception_ptr earlyFinishFailure_;
  bool closeRequested_ = false;  // never cleared: the program ends
  std::unique_ptr<TRunLock> outputLock_;  // from LockOutput, for lockedOutput_
  std::string lockedOutput_;
};

}  // namespace quillon
