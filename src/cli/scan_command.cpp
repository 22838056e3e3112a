#include <cstdio>
#include <memory>

#include "app/error_display.h"
#include "app/main_form.h"
#include "cli/commands.h"
#include "cli/console_view.h"
#include "cli/fragment_index.h"
#include "cli/platform_console.h"
#include "core/errors.h"
#include "storage/device_queries.h"
#include "storage/file_system.h"
#include "storage/full_path.h"

namespace quillon {
namespace {

// A drive letter ("C:") or a drive name ("physicaldrive0") is passed on as typed; anything
// else is an image file, named by its full path.
std::string SourceText(const std::string& argument, const TMain& main) {
  if (ToSourcePath(argument, main.PathConstants()) != argument) return argument;
  return FullPath(main.SystemPath(argument));
}

// An existing file is replaced only on request.
bool Refused(const std::string& path, const std::string& shown, const char* what, bool force) {
  if (force || !PathExists(path)) return false;
  ConsolePrintf(
      stderr, "The %s \"%s\" already exists. Choose another name, or add --force to replace it.\n",
      what, shown.c_str());
  return true;
}

}  // namespace

int RunScanCommand(const TScanOptions& options) {
  const std::unique_ptr<IFileSystem> fileSystem = MakePlatformFileSystem();
  TConsoleView view(options.Quiet, !options.Quiet && IsTerminal(stderr));
  const std::unique_ptr<IDeviceQueries> devices = MakePlatformDeviceQueries();
  TMain main(view, *fileSystem, *devices);
  view.Attach(main);
  view.SetQuestionAnswer(options.AllowSameDevice);
  const auto shown = [&](const std::string& path) { return fileSystem->ToDisplayText(path); };

  std::string source;
  std::string output;
  std::string index;
  try {
    output = FullPath(main.SystemPath(options.Output));
    if (!options.Index.empty()) index = FullPath(main.SystemPath(options.Index));
    source = SourceText(options.Source, main);
  } catch (const EQuillonError& error) {
    view.ShowError(ErrorDisplayText(error.what()));
    return kExitFailure;
  }
  if (Refused(output, shown(output), "output file", options.Force)) return kExitFailure;
  if (!index.empty() && Refused(index, shown(index), "index file", options.Force)) {
    return kExitFailure;
  }

  TFragmentIndexWriter indexWriter;
  if (!index.empty()) {
    if (!indexWriter.Create(index)) {
      ConsolePrintf(stderr, "Cannot create the index file \"%s\". %s\n", shown(index).c_str(),
                    indexWriter.Failure().c_str());
      return kExitFailure;
    }
    main.SetFragmentObserver([&indexWriter](std::int64_t number, std::int64_t offset,
                                            std::span<const std::uint8_t, kFragmentSize> page) {
      indexWriter.Add(number, offset, page);
    });
  }
  InstallStopRequestHandler();

  int status = kExitOk;
  try {
    main.Source.SetText(source);
    main.Destination.SetText(output);
    main.button2Click();
  } catch (const EQuillonError& error) {
    view.ShowError(ErrorDisplayText(error.what()));
    status = kExitFailure;
  }
  if (!index.empty() && !indexWriter.Close()) {
    ConsolePrintf(stderr, "The index file \"%s\" could not be written completely. %s\n",
                  shown(index).c_str(), indexWriter.Failure().c_str());
    status = kExitFailure;
  }

  const TScanReport& report = main.LastScan();
  if (options.Verbose) {
    for (const TByteRange& range : report.Unreadable) {
      ConsolePrintf(stdout, "unreadable\t%lld\t%lld\n", static_cast<long long>(range.Offset),
                    static_cast<long long>(range.Length));
    }
  }
  if (status != kExitOk) return status;
  if (!options.Quiet) {
    ConsolePrintf(stdout, "%lld fragments from %lld bytes scanned; written to %s\n",
                  static_cast<long long>(report.Fragments),
                  static_cast<long long>(report.BytesScanned), shown(output).c_str());
  }
  if (report.End == TScanEnd::Declined) {
    if (!index.empty()) std::remove(index.c_str());  // nothing was scanned
    ConsolePrintf(stderr,
                  "Refused: the output file \"%s\" lies on \"%s\", the device being scanned. "
                  "Writing it would overwrite the free space where the lost data may be. Save "
                  "the output on another disk, or add --allow-same-device.\n",
                  shown(output).c_str(), options.Source.c_str());
    return kExitFailure;
  }
  switch (report.End) {
    case TScanEnd::Completed: return report.Unreadable.empty() ? kExitOk : kExitUnreadable;
    case TScanEnd::Stopped: return kExitStopped;
    default: return kExitFailure;
  }
}

}  // namespace quillon
