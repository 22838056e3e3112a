#pragma once
// The subcommands of quillon-cli. Each returns the process's exit status.

#include <string>

#include "app/language.h"

namespace quillon {

// Exit statuses, also listed in --help.
inline constexpr int kExitOk = 0;          // scan ended normally; inspected/read file complete
inline constexpr int kExitFailure = 1;     // a failure, or an incomplete or corrupt file
inline constexpr int kExitUsage = 2;       // the command line was wrong
inline constexpr int kExitUnreadable = 3;  // scan ended, file complete, but some bytes of the
                                           // source could not be read (they count as zeros)
inline constexpr int kExitStopped = 130;   // scan stopped by Ctrl-C; its file is complete

struct TScanOptions {
  std::string Source;
  std::string Output;
  bool Quiet = false;
  bool Force = false;  // replace an existing output file
  bool AllowSameDevice = false;  // write the output onto the device being scanned
  bool Verbose = false;  // list the unreadable ranges
  std::string Index;     // a side index of the fragments; empty for none
  TLanguage Language = TLanguage::English;  // of the window's texts in the log
  bool Resume = false;   // continue the interrupted scan that OUTPUT.resume describes
  double RestartIntervalSeconds = 10;  // the least time between two restart points
};

struct TInspectOptions {
  std::string File;
  bool Json = false;
  bool Pages = false;
};

struct TRowsOptions {
  std::string File;
  std::string CsvDirectory;  // empty: no CSV files
  bool Json = false;
  bool Force = false;  // replace table CSV files already in CsvDirectory
};

struct TRecoverOptions {
  std::string Source;     // a drive, a volume, an image, or a fragment file to decode
  std::string OutputDir;  // new or empty, or holding an earlier recovery (with Force)
  bool Quiet = false;
  bool Json = false;
  bool Force = false;            // replace what an earlier recover wrote in OutputDir
  bool AllowSameDevice = false;  // write OutputDir onto the device being read
  bool Verbose = false;          // list the unreadable ranges
  bool Resume = false;  // continue the interrupted reading in OutputDir's staging folder
  double RestartIntervalSeconds = 10;  // the least time between two restart points
  TLanguage Language = TLanguage::English;  // of the window's texts in the log
};

struct TSourcesOptions {
  bool Json = false;
};

// The warning `sources` gives when drives and volumes could not be opened: systemText is
// what the system said for a device ("/dev/sda: Operation not permitted"; empty when it said
// nothing more), rightsWouldHelp whether administrator rights lift that refusal.
std::string DevicesRefusedText(const std::string& systemText, bool rightsWouldHelp);

int RunScanCommand(const TScanOptions& options);
int RunInspectCommand(const TInspectOptions& options);
// Shows the tables and rows of a fragment file; an incomplete file is read as far as it
// inflates and exits with kExitFailure.
int RunRowsCommand(const TRowsOptions& options);
// Reads a source into OUTDIR's fragment file and page map and decodes its databases there,
// or decodes a fragment file (with its page map) without reading any source.
int RunRecoverCommand(const TRecoverOptions& options);
// Lists the source menu's volumes and drives; always exits 0.
int RunSourcesCommand(const TSourcesOptions& options);

}  // namespace quillon
