#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "app/error_display.h"
#include "app/main_form.h"
#include "cli/commands.h"
#include "cli/console_view.h"
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
  return FullPath(argument);
}

}  // namespace

int RunScanCommand(const TScanOptions& options) {
  const std::string output = FullPath(options.Output);
  std::error_code ec;
  if (!options.Force && std::filesystem::exists(output, ec)) {
    std::fprintf(stderr,
                 "The output file \"%s\" already exists. Choose another name, or add --force "
                 "to replace it.\n",
                 output.c_str());
    return kExitFailure;
  }

  const std::unique_ptr<IFileSystem> fileSystem = MakePlatformFileSystem();
  TConsoleView view(options.Quiet, !options.Quiet && isatty(STDERR_FILENO));
  const std::unique_ptr<IDeviceQueries> devices = MakePlatformDeviceQueries();
  TMain main(view, *fileSystem, *devices);
  view.Attach(main);
  view.SetQuestionAnswer(options.AllowSameDevice);
  TConsoleView::InstallStopSignals();

  try {
    main.Source.SetText(SourceText(options.Source, main));
    main.Destination.SetText(output);
    main.button2Click();
  } catch (const EQuillonError& error) {
    view.ShowError(ErrorDisplayText(error.what()));
    return kExitFailure;
  }

  const TScanReport& report = main.LastScan();
  if (!options.Quiet) {
    std::printf("%lld fragments from %lld bytes scanned; written to %s\n",
                static_cast<long long>(report.Fragments),
                static_cast<long long>(report.BytesScanned), output.c_str());
  }
  if (report.End == TScanEnd::Declined) {
    std::fprintf(stderr,
                 "Refused: the output file \"%s\" lies on \"%s\", the device being scanned. "
                 "Writing it would overwrite the free space where the lost data may be. Save "
                 "the output on another disk, or add --allow-same-device.\n",
                 output.c_str(), options.Source.c_str());
    return kExitFailure;
  }
  switch (report.End) {
    case TScanEnd::Completed: return kExitOk;
    case TScanEnd::Stopped: return kExitStopped;
    default: return kExitFailure;
  }
}

}  // namespace quillon
