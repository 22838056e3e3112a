// quillon-cli recover: reads SOURCE once through the scan's own loop into OUTDIR/fragments.frag
// and the page map beside it, then decodes the databases from those two files. A fragment
// file as SOURCE is decoded directly, with its page map where one lies beside it.

#include <array>
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
#include "app/recover_output.h"
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

// Whether path lies below dir, judged by their text alone (dir, then a slash or a
// backslash): both must be full paths spelled alike; a link or another spelling of the same
// folder is not seen.
bool LiesInside(const std::string& path, const std::string& dir) {
  return path.size() > dir.size() && path.compare(0, dir.size(), dir) == 0 &&
         (path[dir.size()] == '/' || path[dir.size()] == '\\');
}

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
};

// Scans the source into OUTDIR's fragment file and page map through TMain, as scan does.
TReadingResult ReadSource(const TRecoverOptions& options, const std::string& source,
                          TRecoverOutputs& outputs, IDeviceQueries& devices) {
  TReadingResult result;
  TConsoleView view(options.Quiet || options.Json, !options.Quiet && IsTerminal(stderr));
  TMain main(view, outputs, devices);
  view.Attach(main);
  // The placement was judged before OUTDIR was made; TMain asks again and is answered so.
  view.SetQuestionAnswer(options.AllowSameDevice);
  // The scan's closing line asks for the fragment file to be sent for analysis: recover
  // decodes it itself, and its summary follows.
  view.LeaveOutLogLine(texts::kScanClosing);
  std::optional<TRecoveryReading> reading;
  try {
    reading.emplace(main, outputs);
  } catch (const EQuillonError& error) {
    view.ShowError(ErrorDisplayText(error.what()));
    return {kExitFailure, false, {}};
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
  if (report.End == TScanEnd::Stopped) {
    ConsolePrintf(stderr,
                 "Stopped: the fragment file and the page map are complete up to offset %lld. "
                 "Decode them with: quillon-cli recover \"%s\" ANOTHER_FOLDER\n",
                 static_cast<long long>(report.BytesScanned), shownFragments.c_str());
    result.Status = kExitStopped;
    result.Decode = false;
    return result;
  }
  if (lost) result.Status = kExitFailure;
  else if (!report.Unreadable.empty()) result.Status = kExitUnreadable;
  return result;
}

}  // namespace

int RunRecoverCommand(const TRecoverOptions& options) {
  const std::unique_ptr<IFileSystem> fileSystem = MakePlatformFileSystem();
  const std::unique_ptr<IDeviceQueries> devices = MakePlatformDeviceQueries();
  const auto shown = [&](const std::string& path) { return fileSystem->ToDisplayText(path); };

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
    ConsolePrintf(stderr, "%s\n", ErrorDisplayText(error.what()).c_str());
    return kExitFailure;
  }
  const std::string sourcePath = ToSourcePath(source, constants);
  const bool isImage = SourceKindOf(sourcePath, constants) == TSourceKind::ImageFile;
  if (isImage) {
    if (!PathExists(source)) {
      ConsolePrintf(stderr, "Cannot open file \"%s\". It does not exist.\n", shown(source).c_str());
      return kExitFailure;
    }
    fromFragments = IsFragmentFile(*fileSystem, source);
    // Whatever recover writes or replaces in OUTDIR must never be its own input.
    if (LiesInside(source, outDir) || source == outDir) {
      ConsolePrintf(stderr,
                   "Refused: \"%s\" lies inside the output folder \"%s\". Choose an output "
                   "folder that does not hold the source.\n",
                   shown(source).c_str(), shown(outDir).c_str());
      return kExitFailure;
    }
  } else if (!options.AllowSameDevice &&
             devices->FileLiesOnDevice(outDir + "/" + kRecoverFragmentFileName, sourcePath)) {
    // Judged before OUTDIR is made: not even a folder is written onto the device read.
    ConsolePrintf(stderr,
                 "Refused: the output folder \"%s\" lies on \"%s\", the device being read. "
                 "Writing there would overwrite the free space where the lost data may be. "
                 "Choose a folder on another disk, or add --allow-same-device.\n",
                 shown(outDir).c_str(), options.Source.c_str());
    return kExitFailure;
  }

  InstallStopRequestHandler();
  const std::string problem = PrepareRecoverDirectory(shown(outDir), options.Force);
  if (!problem.empty()) {
    ConsolePrintf(stderr, "%s\n", problem.c_str());
    return kExitFailure;
  }
  TRecoverOutputs outputs(*fileSystem, outDir);
  try {
    outputs.Begin();
  } catch (const EQuillonError& error) {
    ConsolePrintf(stderr, "%s\n", ErrorDisplayText(error.what()).c_str());
    return kExitFailure;
  }

  TJson json;
  json["source"] = JsonSafeText(shown(source));
  json["output_folder"] = JsonSafeText(shown(outDir));
  int status = kExitOk;
  std::string fragmentPath = source;
  if (!fromFragments) {
    TReadingResult reading = ReadSource(options, source, outputs, *devices);
    status = reading.Status;
    if (!reading.Decode) {
      if (options.Json && !reading.Json.is_null()) {
        json["reading"] = reading.Json;
        ConsolePrintf(stdout, "%s\n", JsonLine(json).c_str());
      }
      return status;
    }
    json["reading"] = reading.Json;
    fragmentPath = outputs.PathOf(kRecoverFragmentFileName);
  }

  const bool showProgress = !options.Quiet && IsTerminal(stderr);
  TConsoleRecoveryProgress progress(showProgress);
  std::unique_ptr<TFragmentPageStore> store;
  try {
    store = OpenFragmentStore(*fileSystem, fragmentPath,
                              [&](std::int64_t done, std::int64_t total) {
                                progress.Progress("reading fragments", done, total);
                              });
  } catch (const EQuillonError& error) {
    progress.Clear();
    ConsolePrintf(stderr, "%s\n", ErrorDisplayText(error.what()).c_str());
    return kExitFailure;
  }
  progress.Clear();
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

  try {
    const TDecodeResult decoded = DecodeFragments(*store, outputs, shown(source), progress);
    const recover::TRecoveryReport& report = decoded.Report;
    const std::string& reportPath = decoded.ReportPath;
    if (!decoded.ReportError.empty()) {
      // The tables are written and complete; only the page that shows them is missing.
      progress.Clear();
      ConsolePrintf(stderr, "%s\n", ErrorDisplayText(decoded.ReportError).c_str());
      status = kExitFailure;
    }
    progress.Clear();
    if (options.Json) {
      json["recovery"] = recover::RecoveryReportJson(report);
      json["report"] = reportPath.empty() ? TJson() : TJson(JsonSafeText(reportPath));
      ConsolePrintf(stdout, "%s\n", JsonLine(json).c_str());
    } else if (!options.Quiet) {
      WriteText(stdout, recover::RecoveryReportText(report).c_str());
      if (!reportPath.empty()) ConsolePrintf(stdout, "Report: %s\n", reportPath.c_str());
    }
  } catch (const EQuillonError& error) {
    progress.Clear();
    ConsolePrintf(stderr, "%s\n", ErrorDisplayText(error.what()).c_str());
    return kExitFailure;
  }
  if (StopWasRequested()) {
    ConsolePrintf(stderr, "Stopped: what was decoded until then is written.\n");
    return kExitStopped;
  }
  return status;
}

}  // namespace quillon
