// quillon-cli's subcommands and options (CLI11), and the usage errors it names itself.

#include "cli/command_line.h"

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

#include "app/branding.h"

namespace quillon {
namespace {

// Listed under every --help; the statuses are kExit* in commands.h.
constexpr const char* kExitStatusHelp =
    "Exit status:\n"
    "  0    a scan ended normally; the inspected or read file is complete\n"
    "  1    a failure or a refusal (an earlier OUTPUT is kept as it was), or the file is\n"
    "       incomplete, corrupt or unreadable (rows still shows what could be read)\n"
    "  2    a usage error: a mistyped command or option, a missing argument\n"
    "  3    a scan ended with a complete file, but some bytes of the source could not be\n"
    "       read (they were scanned as zeros; --verbose lists them)\n"
    "  130  a scan stopped with Ctrl-C, SIGTERM or SIGHUP (its file is still complete)";

// Every name an option of `app` answers to, "--force" and "-f" alike.
std::vector<std::string> OptionNames(const CLI::App& app) {
  std::vector<std::string> names;
  for (const CLI::Option* option : app.get_options()) {
    for (const std::string& name : option->get_lnames()) names.push_back("--" + name);
    for (const std::string& name : option->get_snames()) names.push_back("-" + name);
  }
  return names;
}

// After a failed parse: the first word of the command line that names no command, or no
// option of the command it follows, with the nearest valid name. Empty when every name
// was known (the failure is then CLI11's to tell: a missing argument, say).
std::string UnknownNameMessage(const CLI::App& app) {
  std::vector<const CLI::App*> apps{&app};
  for (const CLI::App* command : app.get_subcommands()) apps.push_back(command);
  for (const CLI::App* owner : apps) {
    for (const std::string& word : owner->remaining()) {
      if (word == "--") break;
      const bool isOption = word.size() > 1 && word.front() == '-';
      std::string message;
      std::vector<std::string> names;
      if (isOption) {
        const std::string name = word.substr(0, word.find('='));
        message = "Unknown option \"" + name + "\"";
        if (owner != &app) message += " for " + owner->get_name();
        names = OptionNames(*owner);
      } else if (owner == &app && app.get_subcommands().empty()) {
        message = "Unknown command \"" + word + "\"";
        for (const CLI::App* command : app.get_subcommands({})) names.push_back(command->get_name());
      } else {
        continue;
      }
      const std::string nearest = NearestName(word.substr(0, word.find('=')), names);
      if (!nearest.empty()) return message + ". Did you mean \"" + nearest + "\"?";
      if (isOption) return message + ".";
      std::string list;
      for (std::size_t i = 0; i < names.size(); ++i)
        list += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
      return message + ". The commands are " + list + ".";
    }
  }
  return {};
}

}  // namespace

std::optional<int> ParseCommandLine(const std::vector<std::string>& arguments,
                                    TCommandLine& line, std::ostream& out, std::ostream& err) {
  CLI::App app{"Quillon: finds the pages of lost Access (Jet 4) databases on a disk or image."};
  app.name("quillon-cli");
  app.set_version_flag("--version", std::string("quillon-cli ") + branding::kVersion);
  app.require_subcommand(1);
  app.footer(kExitStatusHelp);

  CLI::App* scanCommand =
      app.add_subcommand("scan", "Scan SOURCE into the fragment file OUTPUT");
  scanCommand
      ->add_option("SOURCE", line.Scan.Source,
                   "A drive letter with colon (\"C:\"), \"physicaldrive\" and a number, or a "
                   "disk image file; see quillon-cli sources")
      ->required();
  scanCommand->add_option("OUTPUT", line.Scan.Output, "The fragment file to write")->required();
  scanCommand->add_flag("-q,--quiet", line.Scan.Quiet, "Print errors only");
  scanCommand->add_flag("-f,--force", line.Scan.Force,
                        "Replace OUTPUT (and the --index FILE) if it exists and is a fragment "
                        "file (an index); the old file goes only once the new one is complete");
  scanCommand->add_flag("--allow-same-device", line.Scan.AllowSameDevice,
                        "Write OUTPUT even when it lies on the drive or volume being scanned "
                        "(it overwrites free space that may hold what you want to recover)");
  scanCommand->add_flag("-v,--verbose", line.Scan.Verbose,
                        "After the scan, list the ranges of the source that could not be read: "
                        "one line each, \"unreadable<TAB>offset<TAB>length\"");
  scanCommand->add_option("--index", line.Scan.Index,
                          "Also write FILE: one tab-separated line per fragment: number, source "
                          "offset, page type (data or LVAL), owner page, row count");
  scanCommand->add_flag("--resume", line.Scan.Resume,
                        "Continue the scan into OUTPUT that was stopped or cut off, from what "
                        "OUTPUT.resume says (a scan keeps it beside OUTPUT while it runs); "
                        "SOURCE must be the same source");
  scanCommand
      ->add_option("--restart-interval", line.Scan.RestartIntervalSeconds,
                   "Seconds between two restart points written to OUTPUT.resume (default "
                   "10; 0 at every 256 KiB chunk)")
      ->check(CLI::Range(0.0, 86400.0));

  CLI::App* inspectCommand =
      app.add_subcommand("inspect", "Read a fragment file back and check that it is complete");
  inspectCommand->add_option("FILE", line.Inspect.File, "The fragment file")->required();
  inspectCommand->add_flag("--json", line.Inspect.Json, "Print the summary as JSON");
  inspectCommand->add_flag("--pages", line.Inspect.Pages, "List every fragment's page header");

  CLI::App* rowsCommand = app.add_subcommand(
      "rows", "Show the tables and rows held by the data and long-value pages of a fragment file");
  rowsCommand->add_option("FILE", line.Rows.File, "The fragment file")->required();
  rowsCommand->add_option("--csv", line.Rows.CsvDirectory,
                          "Write one CSV file per table, DIR/table-<owner page>.csv (DIR is "
                          "created when needed)")
      ->type_name("DIR");
  rowsCommand->add_flag("--json", line.Rows.Json, "Print the tables and rows as JSON");
  rowsCommand->add_flag("-f,--force", line.Rows.Force,
                        "Replace the table-*.csv files already in DIR (all are removed first)");
  rowsCommand->footer(
      std::string("Without the table definitions (a scan does not keep them) there are no column "
                  "names or types: each row shows its fixed-length columns together as hex, and "
                  "each variable-length column as text, as 0x and hex, or as its memo value.\n\n") +
      kExitStatusHelp);

  CLI::App* recoverCommand = app.add_subcommand(
      "recover", "Read SOURCE and rebuild the tables of the Access databases on it in OUTDIR");
  recoverCommand
      ->add_option("SOURCE", line.Recover.Source,
                   "A drive, a volume or a disk image, as for scan; or a fragment file written "
                   "by scan or recover, decoded without reading any source (with the page map "
                   "beside it, FILE.pagemap, where there is one)")
      ->required();
  recoverCommand
      ->add_option("OUTDIR", line.Recover.OutputDir,
                   "A new or empty folder: fragments.frag, fragments.pagemap, database-N.sqlite "
                   "and database-N/TABLE.csv go there")
      ->required();
  recoverCommand->add_flag("-q,--quiet", line.Recover.Quiet, "Print errors only");
  recoverCommand->add_flag("--json", line.Recover.Json, "Print the summary as JSON");
  recoverCommand->add_flag("-f,--force", line.Recover.Force,
                           "Replace what an earlier recover wrote in OUTDIR (and nothing else)");
  recoverCommand->add_flag("--allow-same-device", line.Recover.AllowSameDevice,
                           "Write OUTDIR even when it lies on the drive or volume being read "
                           "(it overwrites free space that may hold what you want to recover)");
  recoverCommand->add_flag("-v,--verbose", line.Recover.Verbose,
                           "List the ranges of the source that could not be read");
  recoverCommand->add_flag("--resume", line.Recover.Resume,
                           "Continue the reading of a recover into OUTDIR that was stopped or "
                           "cut off, from the restart points it kept in OUTDIR/"
                           ".quillon-recover.partial, then decode everything; SOURCE must be "
                           "the same source");
  recoverCommand
      ->add_option("--restart-interval", line.Recover.RestartIntervalSeconds,
                   "Seconds between two restart points of the reading (default 10; 0 at "
                   "every 256 KiB chunk)")
      ->check(CLI::Range(0.0, 86400.0));

  CLI::App* sourcesCommand = app.add_subcommand(
      "sources", "List the volumes and physical drives a scan can read, as the window's menu does");
  sourcesCommand->add_flag("--json", line.Sources.Json, "Print the list as JSON");

  // --lang before the command or among its options.
  std::string languageName;
  const auto addLanguageOption = [&languageName](CLI::App& owner) {
    owner.add_option("--lang", languageName,
                     "The language of the log that scan and recover show: zh (Chinese) or en "
                     "(English). Without it: the system's (LANGUAGE, LC_ALL, LC_MESSAGES, LANG "
                     "on Linux)")
        ->check(CLI::IsMember({"zh", "en"}))
        ->type_name("zh|en");
  };
  addLanguageOption(app);
  for (CLI::App* command : app.get_subcommands({})) {
    addLanguageOption(*command);
    if (command->get_footer().empty()) command->footer(kExitStatusHelp);
  }

  std::vector<std::string> words{"quillon-cli"};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> pointers;
  for (std::string& word : words) pointers.push_back(word.data());
  try {
    app.parse(static_cast<int>(pointers.size()), pointers.data());
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e, out, err);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e, out, err);
  } catch (const CLI::ParseError& e) {
    std::string message = UnknownNameMessage(app);
    if (message.empty() && app.get_subcommands().empty())
      message = "A command is required: scan, inspect, rows, recover or sources.";
    if (message.empty()) {
      app.exit(e, out, err);
    } else {
      err << message << "\nRun with --help for more information.\n";
    }
    return kExitUsage;
  }

  if (!languageName.empty()) line.Language = LanguageNamed(languageName);
  if (scanCommand->parsed()) line.Command = TCliCommand::Scan;
  else if (inspectCommand->parsed()) line.Command = TCliCommand::Inspect;
  else if (rowsCommand->parsed()) line.Command = TCliCommand::Rows;
  else if (recoverCommand->parsed()) line.Command = TCliCommand::Recover;
  else line.Command = TCliCommand::Sources;
  return std::nullopt;
}

}  // namespace quillon
