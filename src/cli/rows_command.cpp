// quillon-cli rows: the tables and rows held by the data and LVAL pages of a fragment file,
// as a summary, CSV files or JSON.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "app/error_display.h"
#include "cli/commands.h"
#include "cli/platform_console.h"
#include "cli/progress_line.h"
#include "cli/progress_meter.h"
#include "cli/rows_output.h"
#include "core/errors.h"
#include "rows/catalog_reading.h"
#include "rows/row_recovery.h"
#include "storage/file_system.h"
#include "storage/full_path.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

// Paths are UTF-8 inside the program; std::filesystem takes them as such on every platform.
fs::path PathFromUtf8(const std::string& text) {
  return fs::path(std::u8string(text.begin(), text.end()));
}

std::string Utf8Of(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// Passes reads through and shows how far the file has been read on a terminal.
class TProgressStream : public TStream {
 public:
  TProgressStream(TStream& inner, std::int64_t length) : inner_(inner) { meter_.Start(length); }
  ~TProgressStream() override { line_.Clear(); }

  std::size_t Read(void* buffer, std::size_t n) override {
    const std::size_t got = inner_.Read(buffer, n);
    done_ += static_cast<std::int64_t>(got);
    const auto now = TProgressMeter::TClock::now();
    if (now - lastDraw_ >= std::chrono::milliseconds(200)) {
      lastDraw_ = now;
      line_.Show(meter_.FittedLine(done_, "reading fragments", now, TProgressLine::kMaxColumns));
    }
    return got;
  }
  std::size_t Write(const void* buffer, std::size_t n) override { return inner_.Write(buffer, n); }
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
    return inner_.Seek(offset, origin);
  }

 private:
  TStream& inner_;
  TProgressMeter meter_;
  std::int64_t done_ = 0;
  TProgressLine line_{stderr};
  TProgressMeter::TClock::time_point lastDraw_ = TProgressMeter::TClock::now();
};

bool IsTableCsvName(const std::string& name) {
  return name.size() > 10 && name.rfind("table-", 0) == 0 &&
         name.compare(name.size() - 4, 4, ".csv") == 0;
}

// The table-*.csv files already in the directory.
std::vector<fs::path> ExistingTableFiles(const fs::path& directory, std::error_code& ec) {
  std::vector<fs::path> found;
  for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
    if (IsTableCsvName(Utf8Of(it->path().filename()))) found.push_back(it->path());
  }
  return found;
}

// Creates the directory when needed and refuses to overwrite earlier tables unless forced.
// Returns an error text, empty when the directory can take the CSV files.
std::string PrepareCsvDirectory(const fs::path& directory, bool force,
                                std::vector<fs::path>& toReplace) {
  std::error_code ec;
  fs::create_directories(directory, ec);
  if (ec) {
    return "Cannot create the directory \"" + Utf8Of(directory) + "\": " + ec.message() + ".";
  }
  if (!fs::is_directory(directory, ec)) {
    return "\"" + Utf8Of(directory) + "\" is not a directory.";
  }
  toReplace = ExistingTableFiles(directory, ec);
  if (ec) {
    return "Cannot read the directory \"" + Utf8Of(directory) + "\": " + ec.message() + ".";
  }
  if (!toReplace.empty() && !force) {
    return "The directory \"" + Utf8Of(directory) + "\" already holds " +
           std::to_string(toReplace.size()) + " table CSV file" +
           (toReplace.size() == 1 ? "" : "s") + " (" + Utf8Of(toReplace.front().filename()) +
           (toReplace.size() == 1 ? "" : ", ...") +
           "). Choose another directory, or add --force to replace them.";
  }
  return {};
}

// Writes one file per table that has rows; returns an error text, empty on success.
std::string WriteCsvFiles(const fs::path& directory, const std::vector<fs::path>& toReplace,
                          const TRowRecovery& recovery, std::size_t& written) {
  // Replaced as a whole, so that the directory holds this file's tables only.
  for (const fs::path& old : toReplace) {
    std::error_code ec;
    fs::remove(old, ec);
    if (ec) return "Cannot remove \"" + Utf8Of(old) + "\": " + ec.message() + ".";
  }
  const auto& tables = recovery.Tables();
  for (std::size_t t = 0; t < tables.size(); ++t) {
    if (tables[t].LiveRows + tables[t].DeletedRows + tables[t].MovedRowsNotFound == 0) continue;
    const fs::path path = directory / TableCsvName(tables[t]);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out) WriteTableCsv(out, recovery, t);
    out.close();
    if (!out) {
      return "Cannot write \"" + Utf8Of(path) + "\": " + std::strerror(errno) + ".";
    }
    ++written;
  }
  return {};
}

}  // namespace

int RunRowsCommand(const TRowsOptions& options) {
  const std::unique_ptr<IFileSystem> fileSystem = MakePlatformFileSystem();
  std::string path;  // as a person reads it
  std::unique_ptr<TStream> file;
  try {
    const std::string systemPath = FullPath(SystemPathOf(*fileSystem, options.File));
    path = fileSystem->ToDisplayText(systemPath);
    file = fileSystem->Open(systemPath, TOpenMode::ReadShared);
  } catch (const EQuillonError& error) {
    ConsolePrintf(stderr, "%s\n", ErrorDisplayText(error.what()).c_str());
    return kExitFailure;
  }
  // Refused before the long read, not after it.
  std::vector<fs::path> toReplace;
  std::error_code absoluteError;
  const fs::path csvDirectory =
      options.CsvDirectory.empty()
          ? fs::path()
          : fs::absolute(PathFromUtf8(options.CsvDirectory), absoluteError).lexically_normal();
  if (!options.CsvDirectory.empty()) {
    const std::string problem = PrepareCsvDirectory(csvDirectory, options.Force, toReplace);
    if (!problem.empty()) {
      ConsolePrintf(stderr, "%s\n", problem.c_str());
      return kExitFailure;
    }
  }

  // The pages are held in memory while pointers are matched across the whole file.
  TPageCatalog catalog;
  TFragmentFileReport report;
  std::unique_ptr<TRowRecovery> recovery;
  try {
    if (IsTerminal(stderr)) {
      TProgressStream progress(*file, file->Length());
      report = ReadPageCatalog(progress, catalog);
    } else {
      report = ReadPageCatalog(*file, catalog);
    }
    if (report.State != TFragmentFileState::Complete && report.Fragments == 0) {
      ConsolePrintf(stderr, "%s: %s fragment file: %s\n", path.c_str(), StateName(report.State),
                    report.Problem.c_str());
      return kExitFailure;
    }
    recovery = std::make_unique<TRowRecovery>(catalog);
  } catch (const std::bad_alloc&) {
    ConsolePrintf(stderr,
                  "Not enough memory to read the rows of \"%s\": its pages are held in memory "
                  "while they are read, %llu MB so far.\n",
                  path.c_str(),
                  static_cast<unsigned long long>(catalog.PageCount() * kFragmentSize / 1000000));
    return kExitFailure;
  }
  if (options.Json) {
    PrintRowsJson(stdout, path, report, *recovery);
  } else {
    PrintRowsSummary(stdout, path, report, *recovery);
  }
  std::fflush(stdout);
  if (!options.CsvDirectory.empty()) {
    std::size_t written = 0;
    const std::string problem = WriteCsvFiles(csvDirectory, toReplace, *recovery, written);
    if (!problem.empty()) {
      ConsolePrintf(stderr, "%s\n", problem.c_str());
      return kExitFailure;
    }
    if (!options.Json) {
      ConsolePrintf(stdout, "\nWrote %zu CSV file%s to %s\n", written, written == 1 ? "" : "s",
                    Utf8Of(csvDirectory).c_str());
    }
  }
  if (report.State != TFragmentFileState::Complete) {
    ConsolePrintf(stderr,
                  "%s: %s fragment file: %s. The rows shown come from the %llu fragments that "
                  "could be read.\n",
                  path.c_str(), StateName(report.State), report.Problem.c_str(),
                  static_cast<unsigned long long>(report.Fragments));
    return kExitFailure;
  }
  return kExitOk;
}

}  // namespace quillon
