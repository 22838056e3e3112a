#pragma once
// quillon-cli's command line: its subcommands and options, --help and --version, and the
// messages for a mistyped command or option, apart from main() so that tests can parse.

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/commands.h"

namespace quillon {

enum class TCliCommand { Scan, Inspect, Rows, Recover, Sources };

struct TCommandLine {
  TCliCommand Command = TCliCommand::Sources;
  TScanOptions Scan;
  TInspectOptions Inspect;
  TRowsOptions Rows;
  TRecoverOptions Recover;
  TSourcesOptions Sources;
  // --lang: the language of the window's texts that scan and recover show; nothing when
  // not given (the system's language then).
  std::optional<TLanguage> Language;
};

// Parses the arguments that follow the program's name (UTF-8). Returns nothing when
// `line.Command` is to run; otherwise the exit status the program ends with, after writing
// help or the version to `out` (status 0) or the usage error to `err` (kExitUsage).
std::optional<int> ParseCommandLine(const std::vector<std::string>& arguments,
                                    TCommandLine& line, std::ostream& out, std::ostream& err);

// The one of `names` that `typed` most likely meant: one or two letters wrong, missing,
// extra or swapped, or the start of only one name. Empty when none is that near.
std::string NearestName(std::string_view typed, const std::vector<std::string>& names);

}  // namespace quillon
