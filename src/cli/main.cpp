// quillon-cli: scan a source for Jet 4 database pages into a fragment file, check a
// fragment file before handing it on, show the rows it holds, recover the databases from a
// source or a fragment file into a folder, and list the sources this machine offers.
// scan and recover log the window's lines in the window's language (the locale's, or
// --lang zh|en); the program's own messages are English in both.
//
// Exit status (the same for every command; a recovery's reading counts as a scan):
//              0 a scan ended normally, or the inspected (or read) file is complete;
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

#include <cstdio>
#include <exception>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/command_line.h"
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

  TCommandLine line;
  std::ostringstream out;
  std::ostringstream err;
  const std::vector<std::string> arguments = ArgumentsAsUtf8(argc, argv);
  const std::optional<int> status = ParseCommandLine(
      std::vector<std::string>(arguments.begin() + (arguments.empty() ? 0 : 1), arguments.end()),
      line, out, err);
  if (status) {
    ConsolePrintf(stdout, "%s", out.str().c_str());
    ConsolePrintf(stderr, "%s", err.str().c_str());
    return *status;
  }

  // The language is settled once, here: the window's texts that scan and recover log.
  const TLanguage language = line.Language.value_or(SystemLanguage());
  line.Scan.Language = language;
  line.Recover.Language = language;

  // Failures the commands expect end in their own messages; anything else (memory
  // exhausted, say) still ends with a message and status 1, never an abort.
  try {
    switch (line.Command) {
      case TCliCommand::Scan: return RunScanCommand(line.Scan);
      case TCliCommand::Inspect: return RunInspectCommand(line.Inspect);
      case TCliCommand::Rows: return RunRowsCommand(line.Rows);
      case TCliCommand::Recover: return RunRecoverCommand(line.Recover);
      case TCliCommand::Sources: return RunSourcesCommand(line.Sources);
    }
    return kExitFailure;
  } catch (const std::exception& error) {
    ConsolePrintf(stderr, "quillon-cli: %s\n", error.what());
    return kExitFailure;
  }
}
