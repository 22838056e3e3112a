// quillon-cli recover: reads SOURCE once through the scan's own loop into OUTDIR/fragments.frag
// and the page map beside it, then decodes the databases from those two files. A fragment
// file as SOURCE is decoded directly, with its page map where one lies beside it.

#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

#include "app/error_display.h"
#include "app/main_form.h"
#include "app/recovery_run.h"
#include "app/texts.h"
#include "cli/commands.h"
#include "cli/console_view.h"
#include "cli/json_output.h"
#include "cli/platform_console.h"
#include "cli/progress_line.h"
#include "cli/progress_meter.h"
#include "cli/recover_resume.h"
#include "app/recover_output.h"
#include "app/recover_restart.h"
#include "core/errors.h"
#include "core/fragment_file_format.h"
#include "recover/fragment_page_store.h"
#include "recover/page_map_writer.h"
#include "recover/recovery.h"
#include "recover/recovery_report.h"
#include "storage/output_guard.h"
#include "storage/device_queries.h"
#include "storage/file_system.h"
#include "storage/full_path.h"

namespace quillon {
namespace {

using recover::TFragmentPageStore;
using recover::TPageMapScanEnd;

// A progress line on stderr for the decoding, and Ctrl-C as its stop request.
class TConsoleRecoveryProgress : public recover::IRecoveryProgress {
 public:
  explicit TConsoleRecoveryProgress(bool show) : show_(show) {}
  ~TConsoleRecoveryProgress() override { Clear(); }
  void Progress(const std::string& what, std::int64_t done, std::int64_t total) override {
    if (!show_) return;
    const auto now = TProgressMeter::TClock::now();
    if (!meter_.Started() || what != what_) {
      meter_.Start(total, now);
      what_ = what;
    } else if (now - lastDraw_ < std::chrono::milliseconds(200) && done < total) {
      return;
    }
    lastDraw_ = now;
    line_.Show(meter_.FittedLine(done, what, now, TProgressLine::kMaxColumns));
  }
  bool StopRequested() override { return StopWasRequested(); }
  void Clear() { line_.Clear(); }

 private:
  bool show_;
  TProgressMeter meter_;
  TProgressLine line_{stderr};
  std::string what_;
  TProgressMeter::TClock::time_point lastDraw_{};
};

struct TReadingResult {
  int Status = kExitOk;
  bool Decode = true;
  TJson Json;
  std::int64_t StoppedAt = -1;  // where a stopped reading ended; -1 when it did not stop
  bool SourceLost = false;      // the source could not be read to its end
};

// What a run that ends without a result leaves: nothing, or for a resumed run the
// interrupted run's staging folder, which stays for another --resume.
std::string NothingKeptText(const TRecoverFolder& folder) {
  if (!folder.Resumes()) return "Nothing of this run was kept: the output folder is as it was.";
  return "The output folder is as it was; what the interrupted recover read stays in \"" +
         folder.FileSystem().ToDisplayText(folder.StagingDir()) +
         "\" for another run with --resume.";
}

// Says why a run that had begun to write ends without a result.
int Failed(const std::string& text, const TRecoverFolder& folder) {
  ConsolePrintf(stderr, "%s\n%s\n", ErrorDisplayText(text).c_str(),
                NothingKeptText(folder).c_str());
  return kExitFailure;
}

// Scans the source into OUTDIR's fragment file and page map through TMain, as scan does.
// keeper keeps the reading resumable; from: where a resumed reading takes the page map from.
TReadingResult ReadSource(const TRecoverOptions& options, const std::string& source,
                          TRecoverOutputs& outputs, IDeviceQueries& devices,
                          TRecoverRestartKeeper& keeper, const TPageMapContinuation* from) {
  TReadingResult result;
  TConsoleView view(options.Quiet || options.Json, !options.Quiet && IsTerminal(stderr));
  TMain main(view, outputs, devices, options.Language);
  view.Attach(main);
  // The placement was judged before OUTDIR was made; TMain asks again and is answered so.
  view.SetQuestionAnswer(options.AllowSameDevice);
  // The scan's closing line asks for the fragment file to be sent for analysis: recover
  // decodes it itself, and its summary follows.
  view.LeaveOutLogLine(main.Say(texts::kScanClosing));
  // An unfinished fragment file goes with the rest of a run that fails: it is not kept.
  view.LeaveOutLogLinesStartingWith(
      std::string(FixedStart(texts::kPartialKept.In(main.Language()))));
  std::optional<TRecoveryReading> reading;
  try {
    reading.emplace(main, outputs, from);
  } catch (const EQuillonError& error) {
    view.ShowError(ErrorDisplayText(error.what()));
    return {kExitFailure, false, {}};
  }
  keeper.SetMap(&reading->Map());
  main.SetRestartKeeper(&keeper);
  if (keeper.Continues()) {
    // The stopped run's finished fragment file is replaced by the continued one.
    main.SetReplaceRule(TReplaceRule::Recognised);
    view.SetBytesAlreadyDone(keeper.StartOffset());
    if (!options.Quiet && !options.Json) {
      ConsolePrintf(stdout, "Resuming the reading at byte %lld with %lld fragments already in "
                    "the file.\n", static_cast<long long>(keeper.StartOffset()),
                    static_cast<long long>(keeper.StartFragments()));
    }
  }
  const std::string& shownMap = reading->ShownMapPath();

  bool failed = false;
  try {
    main.Source.SetText(source);
    main.Destination.SetText(reading->FragmentPath());
    main.button2Click();
  } catch (const EQuillonError& error) {
    view.ShowError(ErrorDisplayText(error.what()));
    failed = true;
  }
  const TScanReport& report = main.LastScan();
  if (report.End == TScanEnd::Declined) {
    ConsolePrintf(stderr,
                 "Refused: the output folder \"%s\" lies on \"%s\", the device being read.\n",
                 outputs.ToDisplayText(outputs.PathOf("")).c_str(), options.Source.c_str());
    return {kExitFailure, false, {}};
  }
  // A lost source leaves complete files up to where it ended; any other failure does not.
  const bool lost = report.End == TScanEnd::SourceLost;
  if (failed && !lost) return {kExitFailure, false, {}};
  const TPageMapScanEnd end = TRecoveryReading::MapEndOf(report.End);
  try {
    reading->Finish(report);
  } catch (const EQuillonError& error) {
    view.ShowError(ErrorDisplayText(error.what()));
    return {kExitFailure, false, {}};
  }
  if (options.Verbose) {
    for (const TByteRange& range : report.Unreadable) {
      ConsolePrintf(options.Json ? stderr : stdout, "unreadable\t%lld\t%lld\n",
                   static_cast<long long>(range.Offset), static_cast<long long>(range.Length));
    }
  }
  const std::string shownFragments = outputs.ToDisplayText(outputs.PathOf(kRecoverFragmentFileName));
  if (!options.Quiet && !options.Json) {
    ConsolePrintf(stdout, "%lld fragments and %llu possible definition, header and usage-map pages "
                "from %lld bytes read; written to %s and %s\n",
                static_cast<long long>(report.Fragments),
                static_cast<unsigned long long>(reading->KeptPages()),
                static_cast<long long>(report.BytesScanned), shownFragments.c_str(),
                shownMap.c_str());
  }
  result.Json = {{"fragments", report.Fragments},
                 {"kept_pages", reading->KeptPages()},
                 {"bytes_read", report.BytesScanned},
                 {"unreadable_bytes", report.UnreadableBytes},
                 {"end", lost ? "source lost" : end == TPageMapScanEnd::Stopped ? "stopped"
                                                                               : "completed"}};
  // Where a resumed reading began; what it read before came from the interrupted run.
  if (keeper.Continues()) result.Json["resumed_at"] = keeper.StartOffset();
  if (report.End == TScanEnd::Stopped) {
    result.StoppedAt = report.BytesScanned;
    result.Status = kExitStopped;
    result.Decode = false;
    return result;
  }
  result.SourceLost = lost;
  if (lost) result.Status = kExitFailure;
  else if (!report.Unreadable.empty()) result.Status = kExitUnreadable;
  return result;
}

}  // namespace

int RunRecoverCommand(const TRecoverOptions& options) {
  const std::unique_ptr<IFileSystem> fileSystem = MakePlatformFileSystem();
  const std::unique_ptr<IDeviceQueries> devices = MakePlatformDeviceQueries();
  const auto shown = [&](const std::string& path) { return fileSystem->ToDisplayText(path); };
  const auto refuse = [](const std::string& text) {
    ConsolePrintf(stderr, "%s\n", ErrorDisplayText(text).c_str());
    return kExitFailure;
  };

  std::string outDir;
  std::string source;
  bool fromFragments = false;
  TPathConstants constants;
  try {
    // The texts the window uses for drives and volumes.
    TConsoleView probeView(true, false);
    TMain probe(probeView, *fileSystem, *devices);
    constants = probe.PathConstants();
    outDir = FullPath(probe.SystemPath(options.OutputDir));
    source = probe.SystemPath(options.Source);
    if (ToSourcePath(source, constants) == source) source = FullPath(source);
  } catch (const EQuillonError& error) {
    return refuse(error.what());
  }
  while (outDir.size() > 1 && (outDir.back() == '/' || outDir.back() == '\\')) outDir.pop_back();

  // Every check comes before the first byte is written, for every form of the source.
  const std::string sourcePath = ToSourcePath(source, constants);
  bool readsDevice = SourceKindOf(sourcePath, constants) != TSourceKind::ImageFile;
  // Open first and kept open to the end: a file being read is never removed.
  std::unique_ptr<TStream> heldSource;
  TRecoverFolderRules rules;
  rules.Force = options.Force;
  rules.ShownSource = shown(source);
  rules.Resume = options.Resume;
  rules.Language = options.Language;
  if (!readsDevice) {
    if (!PathExists(source)) {
      ConsolePrintf(stderr, "Cannot open file \"%s\". It does not exist.\n", shown(source).c_str());
      return kExitFailure;
    }
    try {
      heldSource = fileSystem->Open(source, TOpenMode::ReadShared);
    } catch (const EQuillonError& error) {
      return refuse(error.what());
    }
    const TPathFacts facts = fileSystem->Facts(source);
    if (facts.Kind == TPathKind::CharacterDevice) {
      return refuse("Refused: \"" + shown(source) +
                    "\" is a character device, a stream without a size (such as /dev/zero): "
                    "neither a disk nor an image, so there is nothing to recover from it.");
    }
    if (facts.Kind == TPathKind::Device) {
      // A device named by its node or by a link to it is read as a device.
      readsDevice = true;
      if (heldSource->Length() <= 0) {
        return refuse("Cannot size \"" + shown(source) +
                      "\": the device reports no size (a loop device without its file, or a "
                      "drive without a medium), and a scan of 0 bytes would find nothing");
      }
    } else {
      rules.Source = facts.Identity;
      fromFragments = IsFragmentFile(*fileSystem, source);
    }
  }
  if (readsDevice && !options.AllowSameDevice &&
      devices->FileLiesOnDevice(outDir + "/" + kRecoverFragmentFileName, sourcePath)) {
    // Judged before OUTDIR is made: not even a folder is written onto the device read.
    ConsolePrintf(stderr,
                 "Refused: the output folder \"%s\" lies on \"%s\", the device being read. "
                 "Writing there would overwrite the free space where the lost data may be. "
                 "Choose a folder on another disk, or add --allow-same-device.\n",
                 shown(outDir).c_str(), options.Source.c_str());
    return kExitFailure;
  }
  if (options.Resume && fromFragments) {
    return refuse("Refused: \"" + shown(source) + "\" is a fragment file, which recover decodes "
                  "without reading a source: there is no reading to resume. Run the same "
                  "command without --resume.");
  }
  std::optional<TRecoverFolder> folder;
  try {
    folder.emplace(*fileSystem, outDir, rules);
  } catch (const EQuillonError& error) {
    return refuse(error.what());
  }
  // The reading keeps restart points in the staging folder, through the folder's own file
  // system: they are not part of the result, and go before it is put in place.
  std::unique_ptr<TRecoverRestartKeeper> keeper;
  std::optional<TPageMapContinuation> continuation;
  if (!fromFragments) {
    const TRecoverStagingFiles staged = RecoverStagingFiles(*folder);
    keeper = std::make_unique<TRecoverRestartKeeper>(
        *fileSystem, staged.ScanState, staged.MapState,
        std::chrono::duration_cast<TScanClock::duration>(
            std::chrono::duration<double>(options.RestartIntervalSeconds)));
    if (options.Resume) {
      try {
        // Sized as the scan sizes it, so that the size compared is the one the scan covers.
        TConsoleView sizingView(true, false);
        TMain sizing(sizingView, *fileSystem, *devices);
        sizing.Source.SetText(source);
        continuation = PrepareRecoverResume(*fileSystem, *folder, *keeper, sizing.SourcePath,
                                            sizing.SourceSize, shown(source));
      } catch (const EQuillonError& error) {
        return refuse(error.what());
      }
    }
  }

  const bool showProgress = !options.Quiet && IsTerminal(stderr);
  TConsoleRecoveryProgress progress(showProgress);
  const auto reading = [&](std::int64_t done, std::int64_t total) {
    progress.Progress("reading fragments", done, total);
  };
  std::unique_ptr<TFragmentPageStore> store;
  if (fromFragments) {
    // A fragment file and its page map are read before anything is made.
    try {
      store = OpenFragmentStore(*fileSystem, source, reading);
    } catch (const EQuillonError& error) {
      progress.Clear();
      return refuse(error.what());
    }
    progress.Clear();
  }

  InstallStopRequestHandler();
  TRecoverOutputs outputs(*folder);
  try {
    folder->Open();
    outputs.Begin();
  } catch (const EQuillonError& error) {
    folder->Abandon();
    return refuse(error.what());
  }

  TJson json;
  json["source"] = JsonSafeText(shown(source));
  json["output_folder"] = JsonSafeText(shown(outDir));
  int status = kExitOk;
  std::string fragmentPath = source;
  if (!fromFragments) {
    TReadingResult read = ReadSource(options, source, outputs, *devices, *keeper,
                                     continuation ? &*continuation : nullptr);
    status = read.Status;
    if (!read.Decode) {
      if (read.StoppedAt < 0) {
        ConsolePrintf(stderr, "%s\n", NothingKeptText(*folder).c_str());
        return status;
      }
      if (keeper->SavedOffset() >= 0) {
        // Kept where it is, with its restart points, for --resume; and complete up to the
        // stop, so that it can be decoded as it is too.
        outputs.KeepAside();
        ConsolePrintf(stderr,
                      "Stopped: the fragment file and the page map are complete up to offset "
                      "%lld. Decode them with: quillon-cli recover \"%s\" ANOTHER_FOLDER\n"
                      "The same command with --resume continues the reading from byte %lld and "
                      "then decodes everything (the state is in \"%s\").\n",
                      static_cast<long long>(read.StoppedAt),
                      shown(folder->Join(folder->StagingDir(), kRecoverFragmentFileName)).c_str(),
                      static_cast<long long>(keeper->SavedOffset()),
                      shown(keeper->StatePath()).c_str());
      } else {
        try {
          outputs.Commit();
        } catch (const EQuillonError& error) {
          return refuse(error.what());
        }
        ConsolePrintf(stderr,
                      "Stopped: the fragment file and the page map are complete up to offset "
                      "%lld. Decode them with: quillon-cli recover \"%s\" ANOTHER_FOLDER\n",
                      static_cast<long long>(read.StoppedAt),
                      shown(outputs.PathOf(kRecoverFragmentFileName)).c_str());
      }
      if (options.Json && !read.Json.is_null()) {
        json["reading"] = read.Json;
        ConsolePrintf(stdout, "%s\n", JsonLine(json).c_str());
      }
      return status;
    }
    json["reading"] = read.Json;
    if (read.SourceLost && folder->ReplacesEarlier()) {
      // Less than the source is no reason to give up a whole earlier recovery: what was
      // read is kept aside, as scan keeps OUTPUT.partial.
      outputs.KeepAside();
      const std::string aside =
          shown(folder->Join(folder->StagingDir(), kRecoverFragmentFileName));
      ConsolePrintf(stderr,
                    "The source could not be read to its end, so this run does not replace the "
                    "earlier recovery in \"%s\", which is as it was. What was read is kept in "
                    "\"%s\" with its page map; decode it with: quillon-cli recover \"%s\" "
                    "ANOTHER_FOLDER (until that folder is moved or deleted, no other recover "
                    "writes into the output folder)\n",
                    shown(outDir).c_str(), shown(folder->StagingDir()).c_str(), aside.c_str());
      return kExitFailure;
    }
    fragmentPath = outputs.PathOf(kRecoverFragmentFileName);
    try {
      store = OpenFragmentStore(outputs, fragmentPath, reading);
    } catch (const EQuillonError& error) {
      progress.Clear();
      return Failed(error.what(), *folder);
    }
    progress.Clear();
  }

  const recover::TPageStoreNotes& notes = store->Notes();
  for (const std::string& warning : notes.Warnings) ConsolePrintf(stderr, "%s\n", warning.c_str());
  const bool wholeInput = notes.FragmentFile.State == TFragmentFileState::Complete &&
                          (!notes.PageMapFound || notes.PageMapComplete);
  if (!wholeInput && status == kExitOk) status = kExitFailure;
  json["fragment_file"] = {{"path", JsonSafeText(shown(fragmentPath))},
                           {"state", StateName(notes.FragmentFile.State)},
                           {"fragments", notes.FragmentFile.Fragments}};
  json["page_map"] = {{"found", notes.PageMapFound},
                      {"complete", notes.PageMapComplete},
                      {"kept_pages", notes.KeptPages},
                      {"offsets_known", store->HasOffsets()}};
  TJson warnings = TJson::array();
  for (const std::string& warning : notes.Warnings) warnings.push_back(JsonSafeText(warning));
  json["warnings"] = warnings;

  std::optional<TDecodeResult> decoded;
  try {
    decoded.emplace(DecodeFragments(*store, outputs, shown(source), progress));
    progress.Clear();
    // Only a result that is whole in the staging folder takes the earlier one's place.
    store.reset();
    // The restart points and the earlier files set aside are not part of the result.
    if (keeper && !TidyRecoverStaging(*fileSystem, *folder)) {
      throw EQuillonError("Cannot remove the restart points of the reading from \"" +
                          shown(folder->StagingDir()) + "\".");
    }
    outputs.Commit();
  } catch (const EQuillonError& error) {
    progress.Clear();
    return Failed(error.what(), *folder);
  }
  const recover::TRecoveryReport& report = decoded->Report;
  // A table the output refused costs only itself, but the run is not complete.
  if (recover::TablesNotWritten(report) > 0) status = kExitFailure;
  const std::string& reportPath = decoded->ReportPath;
  if (!decoded->ReportError.empty()) {
    // The tables are written and complete; only the page that shows them is missing.
    ConsolePrintf(stderr, "%s\n", ErrorDisplayText(decoded->ReportError).c_str());
    status = kExitFailure;
  }
  if (options.Json) {
    json["recovery"] = recover::RecoveryReportJson(report);
    json["report"] = reportPath.empty() ? TJson() : TJson(JsonSafeText(reportPath));
    ConsolePrintf(stdout, "%s\n", JsonLine(json).c_str());
  } else if (!options.Quiet) {
    WriteText(stdout, recover::RecoveryReportText(report).c_str());
    if (!reportPath.empty()) ConsolePrintf(stdout, "Report: %s\n", reportPath.c_str());
  }
  if (StopWasRequested()) {
    ConsolePrintf(stderr, "Stopped: what was decoded until then is written.\n");
    return kExitStopped;
  }
  return status;
}

}  // namespace quillon
