// quillon-cli: scan a source for Jet 4 database pages into a fragment file, check a
// fragment file before handing it on, and show the rows it holds.
//
// Exit status: 0 a scan ended normally, or the inspected (or read) file is complete;
//              1 a failure (the text is on stderr; an earlier OUTPUT is as it was), a
//                refusal (nothing was created), or an incomplete, corrupt or unreadable
//                file (rows still shows what could be read from it);
//              2 a usage error;
//              3 a scan ended and its file is complete, but some bytes of the source could
//                not be read (they were scanned as zeros; --verbose lists them);
//              130 a scan stopped with Ctrl-C, SIGTERM or SIGHUP (its fragment file is
//                  complete).
//
// A reader of the output that goes away (| head) ends no command: writes to it fail and
// the command goes on, so a scan still finishes its file and rows still writes its CSV
// files. Standard streams the program was started without are opened on the null device.

#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/platform_console.h"
#include "storage/standard_streams.h"
#include "storage/library_search.h"
#include "storage/system_error_mode.h"

int main(int argc, char** argv) {
  using namespace quillon;
  if (!OpenClosedStandardStreams()) {
    ConsolePrintf(stderr,
                 "quillon-cli: a standard stream is closed and the null device cannot be opened "
                 "in its place; nothing was done, since a file opened now would receive the "
                 "program's output.\n");
    return kExitFailure;
  }
  KeepRunningOnBrokenPipes();
  LoadLibrariesFromSystemFolderOnly();
  SuppressSystemErrorBoxes();
  PrepareConsole();

  CLI::App app{"Quillon: finds the pages of lost Access (Jet 4) databases on a disk or image."};
  app.set_version_flag("--version", "quillon-cli 2.0");
  app.require_subcommand(1);
  app.footer(
      "Exit status: 0 scan ended normally / file complete; 1 failure or refusal (an earlier "
      "OUTPUT is kept as it was), or file incomplete, corrupt or unreadable (rows still shows "
      "what could be read); 2 usage error; 3 scan ended with a "
      "complete file, but some bytes of the source could not be read; 130 scan stopped with "
      "Ctrl-C, SIGTERM or SIGHUP (its file is still complete).");

  TScanOptions scan;
  CLI::App* scanCommand =
      app.add_subcommand("scan", "Scan SOURCE into the fragment file OUTPUT");
  scanCommand
      ->add_option("SOURCE", scan.Source,
                   "A drive letter with colon (\"C:\"), \"physicaldrive\" and a number, or a "
                   "disk image file; see quillon-cli sources")
      ->required();
  scanCommand->add_option("OUTPUT", scan.Output, "The fragment file to write")->required();
  scanCommand->add_flag("-q,--quiet", scan.Quiet, "Print errors only");
  scanCommand->add_flag("-f,--force", scan.Force,
                        "Replace OUTPUT (and the --index FILE) if it exists and is a fragment "
                        "file (an index); the old file goes only once the new one is complete");
  scanCommand->add_flag("--allow-same-device", scan.AllowSameDevice,
                        "Write OUTPUT even when it lies on the drive or volume being scanned "
                        "(it overwrites free space that may hold what you want to recover)");
  scanCommand->add_flag("-v,--verbose", scan.Verbose,
                        "After the scan, list the ranges of the source that could not be read: "
                        "one line each, \"unreadable<TAB>offset<TAB>length\"");
  scanCommand->add_option("--index", scan.Index,
                          "Also write FILE: one tab-separated line per fragment: number, source "
                          "offset, page type (data or LVAL), owner page, row count");

  TInspectOptions inspect;
  CLI::App* inspectCommand =
      app.add_subcommand("inspect", "Read a fragment file back and check that it is complete");
  inspectCommand->add_option("FILE", inspect.File, "The fragment file")->required();
  inspectCommand->add_flag("--json", inspect.Json, "Print the summary as JSON");
  inspectCommand->add_flag("--pages", inspect.Pages, "List every fragment's page header");

  TRowsOptions rows;
  CLI::App* rowsCommand = app.add_subcommand(
      "rows", "Show the tables and rows held by the data and long-value pages of a fragment file");
  rowsCommand->add_option("FILE", rows.File, "The fragment file")->required();
  rowsCommand->add_option("--csv", rows.CsvDirectory,
                          "Write one CSV file per table, DIR/table-<owner page>.csv (DIR is "
                          "created when needed)")
      ->type_name("DIR");
  rowsCommand->add_flag("--json", rows.Json, "Print the tables and rows as JSON");
  rowsCommand->add_flag("-f,--force", rows.Force,
                        "Replace the table-*.csv files already in DIR (all are removed first)");
  rowsCommand->footer(
      "Without the table definitions (a scan does not keep them) there are no column names or "
      "types: each row shows its fixed-length columns together as hex, and each variable-length "
      "column as text, as 0x and hex, or as its memo value. Exit status: 0 the file is "
      "complete; 1 a failure, or an incomplete or corrupt file, whose readable fragments are "
      "still shown (the reason is on stderr).");

  TRecoverOptions recover;
  CLI::App* recoverCommand = app.add_subcommand(
      "recover", "Read SOURCE and rebuild the tables of the Access databases on it in OUTDIR");
  recoverCommand
      ->add_option("SOURCE", recover.Source,
                   "A drive, a volume or a disk image, as for scan; or a fragment file written "
                   "by scan or recover, decoded without reading any source (with the page map "
                   "beside it, FILE.pagemap, where there is one)")
      ->required();
  recoverCommand
      ->add_option("OUTDIR", recover.OutputDir,
                   "A new or empty folder: fragments.frag, fragments.pagemap, database-N.sqlite "
                   "and database-N/TABLE.csv go there")
      ->required();
  recoverCommand->add_flag("-q,--quiet", recover.Quiet, "Print errors only");
  recoverCommand->add_flag("--json", recover.Json, "Print the summary as JSON");
  recoverCommand->add_flag("-f,--force", recover.Force,
                           "Replace what an earlier recover wrote in OUTDIR (and nothing else)");
  recoverCommand->add_flag("--allow-same-device", recover.AllowSameDevice,
                           "Write OUTDIR even when it lies on the drive or volume being read "
                           "(it overwrites free space that may hold what you want to recover)");
  recoverCommand->add_flag("-v,--verbose", recover.Verbose,
                           "List the ranges of the source that could not be read");

  TSourcesOptions sources;
  CLI::App* sourcesCommand = app.add_subcommand(
      "sources", "List the volumes and physical drives a scan can read, as the window's menu does");
  sourcesCommand->add_flag("--json", sources.Json, "Print the list as JSON");

  // The arguments as UTF-8, whatever the system's code page; the commands turn paths into
  // the system's form and refuse what it cannot hold.
  std::vector<std::string> arguments = ArgumentsAsUtf8(argc, argv);
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  try {
    app.parse(static_cast<int>(pointers.size()), pointers.data());
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return kExitUsage;
  }

  // Failures the commands expect end in their own messages; anything else (memory
  // exhausted, say) still ends with a message and status 1, never an abort.
  try {
    if (scanCommand->parsed()) return RunScanCommand(scan);
    if (sourcesCommand->parsed()) return RunSourcesCommand(sources);
    if (rowsCommand->parsed()) return RunRowsCommand(rows);
    if (recoverCommand->parsed()) return RunRecoverCommand(recover);
    return RunInspectCommand(inspect);
  } catch (const std::exception& error) {
    ConsolePrintf(stderr, "quillon-cli: %s\n", error.what());
    return kExitFailure;
  }
}
