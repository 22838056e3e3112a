#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>

#include "app/error_display.h"
#include "app/main_form.h"
#include "cli/commands.h"
#include "cli/console_view.h"
#include "cli/fragment_index.h"
#include "cli/platform_console.h"
#include "cli/scan_resume.h"
#include "core/errors.h"
#include "core/scan_restart.h"
#include "storage/device_queries.h"
#include "storage/file_system.h"
#include "storage/full_path.h"
#include "storage/output_guard.h"

namespace quillon {
namespace {

// A drive letter ("C:") or a drive name ("physicaldrive0") is passed on as typed; anything
// else is an image file, named by its full path.
std::string SourceText(const std::string& argument, const TMain& main) {
  if (ToSourcePath(argument, main.PathConstants()) != argument) return argument;
  return FullPath(main.SystemPath(argument));
}

// The last line of a scan that ended with its file in place.
void PrintSummary(const TScanReport& report, const std::string& shownOutput) {
  const auto count = static_cast<long long>(report.Fragments);
  if (report.End == TScanEnd::Stopped) {
    const std::int64_t size = report.BytesToScan;
    const long long percent =
        size > 0 ? std::min<long long>(static_cast<long long>(static_cast<long double>(
                                           report.BytesScanned) * 100 / size),
                                       report.BytesScanned < size ? 99 : 100)
                 : 100;
    ConsolePrintf(stdout, "stopped at %lld%% (%lld of %lld bytes): %lld fragments written to %s\n",
                percent, static_cast<long long>(report.BytesScanned),
                static_cast<long long>(size), count, shownOutput.c_str());
    return;
  }
  ConsolePrintf(stdout, "%lld fragments from %lld bytes scanned; written to %s\n", count,
              static_cast<long long>(report.BytesScanned), shownOutput.c_str());
}

}  // namespace

int RunScanCommand(const TScanOptions& options) {
  const std::unique_ptr<IFileSystem> fileSystem = MakePlatformFileSystem();
  TConsoleView view(options.Quiet, !options.Quiet && IsTerminal(stderr));
  const std::unique_ptr<IDeviceQueries> devices = MakePlatformDeviceQueries();
  TMain main(view, *fileSystem, *devices, options.Language);
  view.Attach(main);
  view.SetQuestionAnswer(options.AllowSameDevice);
  // An existing output is replaced only with --force, and then only a file of our own kind;
  // a continued scan replaces the file it continues.
  const TReplaceRule rule =
      options.Force || options.Resume ? TReplaceRule::Recognised : TReplaceRule::Never;
  main.SetReplaceRule(rule);
  const auto shown = [&](const std::string& path) { return fileSystem->ToDisplayText(path); };

  std::string output;
  std::string index;
  TFragmentIndexWriter indexWriter(*fileSystem);
  // A scan is resumable unless it writes an index too (the index has no restart points).
  std::unique_ptr<TScanRestartKeeper> keeper;
  try {
    output = FullPath(main.SystemPath(options.Output));
    if (!options.Index.empty()) index = FullPath(main.SystemPath(options.Index));
    // Sizing the source refuses one that has no size before anything is created.
    main.Source.SetText(SourceText(options.Source, main));
    // Both outputs are checked together, so that neither is the source, a device or the
    // other one; the fragment file's own check runs again when the scan starts.
    TOutputGuard guard(*fileSystem, *devices);
    guard.AddSource(main.SourcePath);
    const TOutputPlan outputPlan = guard.Check(output, "output file", rule);
    output = outputPlan.Path;
    // From here to the end another run onto the same file is refused: what an earlier run
    // left beside it is looked at and changed below, and the scan writes it. Its lock file
    // is not written onto the device to scan before the scan is allowed there.
    if (!outputPlan.OnSourceDevice || options.AllowSameDevice) main.LockOutput(output);
    if (!index.empty()) {
      const TOutputPlan plan =
          guard.Check(index, "index file", rule, IsFragmentIndexFile, "fragment index file");
      if (plan.OnSourceDevice && !options.AllowSameDevice) {
        throw EQuillonError("Refused: the index file \"" + shown(plan.Path) + "\" lies on \"" +
                            options.Source +
                            "\", the device being scanned. Writing it would overwrite the free "
                            "space where the lost data may be. Save it on another disk, or add "
                            "--allow-same-device.");
      }
      index = plan.Path;
      if (options.Resume) {
        throw EQuillonError("A scan with --index cannot be resumed: its index has no restart "
                            "points. Resume without --index, or start over.");
      }
      indexWriter.Create(index);
      main.SetFragmentObserver([&indexWriter](std::int64_t number, std::int64_t offset,
                                              std::span<const std::uint8_t, kFragmentSize> page) {
        indexWriter.Add(number, offset, page);
      });
    }
    if (index.empty()) {
      const auto interval = std::chrono::duration_cast<TScanClock::duration>(
          std::chrono::duration<double>(options.RestartIntervalSeconds));
      keeper = std::make_unique<TScanRestartKeeper>(*fileSystem, ScanStatePathFor(output),
                                                    interval);
      if (options.Resume) {
        PrepareResume(*fileSystem, *keeper, output, main.SourcePath, main.SourceSize,
                      options.Source);
      } else {
        ClearEarlierState(*fileSystem, output, options.Force);
      }
      main.SetRestartKeeper(keeper.get());
    }
  } catch (const EQuillonError& error) {
    view.ShowError(ErrorDisplayText(error.what()));
    return kExitFailure;
  }
  if (keeper && keeper->Continues()) view.SetBytesAlreadyDone(keeper->StartOffset());
  if (keeper && keeper->Continues() && !options.Quiet) {
    ConsolePrintf(stdout, "Resuming the scan at byte %lld with %lld fragments already in the file.\n",
                  static_cast<long long>(keeper->StartOffset()),
                  static_cast<long long>(keeper->StartFragments()));
  }
  InstallStopRequestHandler();

  int status = kExitOk;
  try {
    main.Destination.SetText(output);
    main.button2Click();
  } catch (const EWriteError& error) {
    view.ShowError(ErrorDisplayText(error.what()));
    // The window shows the text alone; here the file and the system's reason follow.
    ConsolePrintf(stderr, "Cannot write \"%s\"%s%s.\n", shown(error.Path()).c_str(),
                 error.Reason().empty() ? "" : ": ", error.Reason().c_str());
    status = kExitFailure;
  } catch (const EQuillonError& error) {
    view.ShowError(ErrorDisplayText(error.what()));
    status = kExitFailure;
  }

  const TScanReport& report = main.LastScan();
  if (report.End == TScanEnd::Failed && !report.PartialPath.empty()) {
    ConsolePrintf(stderr, "The unfinished fragment file stays as \"%s\"; \"%s\" is as it was "
                 "before the scan.\n", shown(report.PartialPath).c_str(), shown(output).c_str());
  }
  // The index follows its fragment file: in place when that is, kept as partial when that
  // failed, and gone when nothing was scanned.
  if (indexWriter.IsCreated()) {
    const bool ended = report.End == TScanEnd::Completed || report.End == TScanEnd::Stopped ||
                       report.End == TScanEnd::SourceLost;
    const bool fileInPlace = ended && report.PartialPath.empty();
    if (fileInPlace) {
      try {
        indexWriter.Commit();
      } catch (const EWriteError& error) {
        ConsolePrintf(stderr, "Cannot write the index file \"%s\"%s%s; it stays unfinished.\n",
                     shown(error.Path()).c_str(), error.Reason().empty() ? "" : ": ",
                     error.Reason().c_str());
        status = kExitFailure;
      } catch (const EQuillonError& error) {
        view.ShowError(ErrorDisplayText(error.what()));
        status = kExitFailure;
      }
    } else if (!report.PartialPath.empty()) {
      indexWriter.Close();
      ConsolePrintf(stderr, "Its index stays beside it as \"%s\".\n",
                   shown(indexWriter.PartialPath()).c_str());
    } else {
      indexWriter.Discard(*fileSystem);
    }
  }

  if (keeper) {
    // The file in place holds the earlier body now: what was set aside goes, and with the
    // scan complete, its state too. Otherwise the state stays for --resume.
    const bool fileInPlace = report.PartialPath.empty() &&
                             (report.End == TScanEnd::Completed ||
                              report.End == TScanEnd::Stopped ||
                              report.End == TScanEnd::SourceLost);
    if (fileInPlace && !TidyAfterScan(*fileSystem, output, report.End == TScanEnd::Completed)) {
      ConsolePrintf(stderr, "Cannot remove \"%s\" or \"%s\", which this scan no longer needs.\n",
                    shown(ScanStatePathFor(output)).c_str(),
                    shown(output + kInterruptedSuffix).c_str());
    }
    // A stop asked for with --quiet needs no hint; a failure gets one all the same.
    const bool failed = report.End != TScanEnd::Completed && report.End != TScanEnd::Stopped;
    if (report.End != TScanEnd::Completed && keeper->SavedOffset() >= 0 &&
        (!options.Quiet || failed)) {
      ConsolePrintf(stderr, "The same command with --resume continues the scan from byte %lld "
                    "(the state is in \"%s\").\n", static_cast<long long>(keeper->SavedOffset()),
                    shown(keeper->StatePath()).c_str());
    }
  }
  if (options.Verbose) {
    for (const TByteRange& range : report.Unreadable) {
      ConsolePrintf(stdout, "unreadable\t%lld\t%lld\n", static_cast<long long>(range.Offset),
                    static_cast<long long>(range.Length));
    }
  }
  if (report.End == TScanEnd::Declined) {
    ConsolePrintf(stderr,
                 "Refused: the output file \"%s\" lies on \"%s\", the device being scanned. "
                 "Writing it would overwrite the free space where the lost data may be. Save "
                 "the output on another disk, or add --allow-same-device.\n",
                 shown(output).c_str(), options.Source.c_str());
    return kExitFailure;
  }
  if (status != kExitOk) return status;
  if (!options.Quiet) PrintSummary(report, shown(output));
  switch (report.End) {
    case TScanEnd::Completed: return report.Unreadable.empty() ? kExitOk : kExitUnreadable;
    case TScanEnd::Stopped: return kExitStopped;
    default: return kExitFailure;
  }
}

}  // namespace quillon
