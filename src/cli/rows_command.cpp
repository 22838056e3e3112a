// quillon-cli rows: the tables and rows held by the data and LVAL pages of a fragment file,
// as a summary, CSV files or JSON.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <ostream>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "app/error_display.h"
#include "cli/commands.h"
#include "cli/platform_console.h"
#include "cli/progress_line.h"
#include "cli/progress_meter.h"
#include "cli/rows_output.h"
#include "storage/utf8_paths.h"
#include "core/errors.h"
#include "core/replacing_file.h"
#include "rows/catalog_reading.h"
#include "rows/row_recovery.h"
#include "storage/file_system.h"
#include "storage/device_queries.h"
#include "storage/full_path.h"
#include "storage/output_guard.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

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
  TReadFailure LastReadFailure() const override { return inner_.LastReadFailure(); }
  std::string LastErrorText() const override { return inner_.LastErrorText(); }
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

// Pages held in memory before the rest go to a temporary file: 256 MiB.
constexpr std::size_t kMemoryPages = 65536;

// The temporary file that takes the pages past kMemoryPages; removed when done.
class TSpillFile {
 public:
  explicit TSpillFile(IFileSystem& fileSystem) : fileSystem_(fileSystem) {
    std::error_code ec;
    const fs::path directory = fs::temp_directory_path(ec);
    if (ec) {
      problem_ = "no temporary directory: " + ec.message();
      return;
    }
    std::random_device random;
    for (int attempt = 0; attempt < 8 && !stream_; ++attempt) {
      const fs::path candidate =
          directory / ("quillon-rows-" + std::to_string(random()) + ".pages");
      if (fs::exists(candidate, ec)) continue;
      path_ = Utf8Of(candidate);
      try {
        systemPath_ = SystemPathOf(fileSystem, path_);
        // Created new: a file or a link put at the name meanwhile is never written through.
        stream_ = fileSystem.Open(systemPath_, TOpenMode::CreateNew);
      } catch (const EQuillonError& error) {
        problem_ = error.what();
        if (fileSystem.Facts(systemPath_).Kind != TPathKind::Missing) continue;
        return;
      }
    }
    if (!stream_) problem_ = "no free name in " + Utf8Of(directory);
  }
  ~TSpillFile() {
    if (!stream_) return;
    stream_.reset();
    fileSystem_.Remove(systemPath_);
  }
  TSpillFile(const TSpillFile&) = delete;
  TSpillFile& operator=(const TSpillFile&) = delete;

  TStream* Stream() const { return stream_.get(); }
  const std::string& Path() const { return path_; }
  const std::string& Problem() const { return problem_; }

 private:
  IFileSystem& fileSystem_;
  std::unique_ptr<TStream> stream_;
  std::string path_;
  std::string systemPath_;
  std::string problem_;
};

bool IsTableCsvName(const std::string& name) {
  return name.size() > 10 && name.rfind("table-", 0) == 0 &&
         name.compare(name.size() - 4, 4, ".csv") == 0;
}

// Creates the directory when needed and refuses to overwrite earlier tables unless forced.
// Returns an error text, empty when the directory can take the CSV files.
std::string PrepareCsvDirectory(IFileSystem& fileSystem, const fs::path& directory, bool force,
                                std::vector<fs::path>& toReplace) {
  std::string systemDirectory;
  try {
    systemDirectory = SystemPathOf(fileSystem, Utf8Of(directory));
    // The folders along it that are missing, made from the outermost in.
    std::vector<fs::path> missing;
    for (fs::path at = directory;
         fileSystem.Facts(SystemPathOf(fileSystem, Utf8Of(at))).Kind == TPathKind::Missing &&
         at.has_relative_path();
         at = at.parent_path()) {
      missing.push_back(at);
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
      fileSystem.CreateFolder(SystemPathOf(fileSystem, Utf8Of(*it)));
    }
  } catch (const EQuillonError& error) {
    return ErrorDisplayText(error.what());
  }
  if (fileSystem.Facts(systemDirectory).Kind != TPathKind::Directory) {
    return "\"" + Utf8Of(directory) + "\" is not a directory.";
  }
  const auto entries = fileSystem.ListFolder(systemDirectory);
  if (!entries) return "Cannot read the directory \"" + Utf8Of(directory) + "\".";
  // The table-*.csv files already there; a link of that name is no earlier table, and is
  // refused by the output checks instead.
  toReplace.clear();
  for (const TFolderEntry& entry : *entries) {
    const std::string name = fileSystem.ToDisplayText(entry.Name);
    if (!entry.IsLink && entry.Kind == TPathKind::File && IsTableCsvName(name)) {
      toReplace.push_back(directory / PathFromUtf8(name));
    }
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

// An ostream's buffer that writes to a TStream in 64 KiB pieces and keeps the first
// failure's text.
class TStreamOut : public std::streambuf {
 public:
  explicit TStreamOut(TStream& stream) : stream_(stream), buffer_(65536) {
    setp(buffer_.data(), buffer_.data() + buffer_.size());
  }
  // Writes what is buffered; false once a write has failed.
  bool Drain() {
    const auto n = static_cast<std::size_t>(pptr() - pbase());
    if (n > 0 && ok_ && stream_.Write(pbase(), n) != n) {
      ok_ = false;
      failure_ = stream_.LastErrorText();
    }
    setp(buffer_.data(), buffer_.data() + buffer_.size());
    return ok_;
  }
  const std::string& Failure() const { return failure_; }

 protected:
  int_type overflow(int_type c) override {
    if (!Drain()) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) sputc(traits_type::to_char_type(c));
    return traits_type::not_eof(c);
  }
  int sync() override { return Drain() ? 0 : -1; }

 private:
  TStream& stream_;
  std::vector<char> buffer_;
  bool ok_ = true;
  std::string failure_;
};

// Writes one file per table that has rows, each through the output checks and as a
// partial file moved into place once complete; then removes the earlier table files this
// run did not write again. Returns an error text, empty on success.
std::string WriteCsvFiles(IFileSystem& fileSystem, TOutputGuard& guard, const fs::path& directory,
                          const std::vector<fs::path>& toReplace, const TRowRecovery& recovery,
                          std::size_t& written) {
  std::vector<std::string> replaceable;
  for (const fs::path& old : toReplace) replaceable.push_back(Utf8Of(old));
  const auto mayReplace = [&](IFileSystem&, const std::string& systemPath) {
    const std::string shown = fileSystem.ToDisplayText(systemPath);
    return std::find(replaceable.begin(), replaceable.end(), shown) != replaceable.end();
  };
  std::vector<std::string> kept;
  const auto& tables = recovery.Tables();
  for (std::size_t t = 0; t < tables.size(); ++t) {
    if (tables[t].LiveRows + tables[t].DeletedRows + tables[t].MovedRowsNotFound == 0) continue;
    const std::string shown = Utf8Of(directory / TableCsvName(tables[t]));
    try {
      const TOutputPlan plan =
          guard.Check(SystemPathOf(fileSystem, shown), "CSV file", TReplaceRule::Recognised,
                      mayReplace, "table CSV file of an earlier run");
      TReplacingFile file(fileSystem);
      file.Create(plan.Path);
      TStreamOut buffer(file.Stream());
      std::ostream out(&buffer);
      WriteTableCsv(out, recovery, t);
      out.flush();
      if (!buffer.Drain() || !file.Stream().Flush()) {
        const std::string reason =
            buffer.Failure().empty() ? file.Stream().LastErrorText() : buffer.Failure();
        return "Cannot write \"" + fileSystem.ToDisplayText(file.PartialPath()) + "\"" +
               (reason.empty() ? "" : ": " + reason) + ". The unfinished file stays there.";
      }
      file.Commit();
    } catch (const EQuillonError& error) {
      return ErrorDisplayText(error.what());
    }
    kept.push_back(shown);
    ++written;
  }
  // Replaced as a whole, so that the directory holds this file's tables only.
  for (const fs::path& old : toReplace) {
    if (std::find(kept.begin(), kept.end(), Utf8Of(old)) != kept.end()) continue;
    try {
      fileSystem.RemoveBelow(SystemPathOf(fileSystem, Utf8Of(directory)),
                             SystemPathOf(fileSystem, Utf8Of(old.filename())), false);
    } catch (const EQuillonError& error) {
      return ErrorDisplayText(error.what());
    }
  }
  return {};
}

}  // namespace

int RunRowsCommand(const TRowsOptions& options) {
  const std::unique_ptr<IFileSystem> fileSystem = MakePlatformFileSystem();
  std::string path;  // as a person reads it
  std::string systemPath;
  std::unique_ptr<TStream> file;
  try {
    systemPath = FullPath(SystemPathOf(*fileSystem, options.File));
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
    const std::string problem = PrepareCsvDirectory(*fileSystem, csvDirectory, options.Force, toReplace);
    if (!problem.empty()) {
      ConsolePrintf(stderr, "%s\n", problem.c_str());
      return kExitFailure;
    }
  }

  // Pointers are matched across the whole file: the pages are kept, the first in memory,
  // the rest in a temporary file.
  TPageCatalog catalog;
  const TSpillFile spill(*fileSystem);
  if (spill.Stream()) {
    catalog.SetSpill(spill.Stream(), spill.Path(), kMemoryPages);
  } else {
    ConsolePrintf(stderr,
                 "Cannot create a temporary file for the pages (%s): they are all held in "
                 "memory.\n",
                 spill.Problem().c_str());
  }
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
                 "Not enough memory to read the rows of \"%s\" (%llu pages read so far).\n",
                 path.c_str(), static_cast<unsigned long long>(catalog.PageCount()));
    return kExitFailure;
  } catch (const EQuillonError& error) {
    ConsolePrintf(stderr, "%s: %s\n", path.c_str(), error.what());
    return kExitFailure;
  }
  // Spilled pages are read back while the outputs are written.
  try {
    if (options.Json) {
      PrintRowsJson(stdout, path, report, *recovery);
    } else {
      PrintRowsSummary(stdout, path, report, *recovery);
    }
  } catch (const EQuillonError& error) {
    std::fflush(stdout);
    ConsolePrintf(stderr, "%s: %s\n", path.c_str(), error.what());
    return kExitFailure;
  }
  std::fflush(stdout);
  if (!options.CsvDirectory.empty()) {
    std::size_t written = 0;
    const std::unique_ptr<IDeviceQueries> devices = MakePlatformDeviceQueries();
    TOutputGuard guard(*fileSystem, *devices);
    guard.AddSource(systemPath);
    std::string problem;
    try {
      problem = WriteCsvFiles(*fileSystem, guard, csvDirectory, toReplace, *recovery, written);
    } catch (const EQuillonError& error) {
      problem = path + ": " + error.what();
    }
    if (!problem.empty()) {
      ConsolePrintf(stderr, "%s\n", problem.c_str());
      return kExitFailure;
    }
    if (!options.Json) {
      ConsolePrintf(stdout, "\nWrote %zu CSV file%s to %s\n", written, written == 1 ? "" : "s",
                    Utf8Of(csvDirectory).c_str());
    }
  }
  const TRecoveryTotals& totals = recovery->Totals();
  if (totals.RowLimitReached || totals.LongValueLimitReached) {
    const TRowLimits limits;
    const std::string what =
        totals.RowLimitReached
            ? "reading stopped at the limit of " + std::to_string(limits.Rows) + " rows"
            : "memo/OLE values past the limit of " + std::to_string(limits.LongValueHeads) +
                  " pointers or " + std::to_string(limits.LongValueRows) +
                  " LVAL rows were not matched";
    ConsolePrintf(stderr,
                 "%s: the rows shown are not all the file holds: %s. Split the scan into "
                 "smaller parts to read the rest.\n",
                 path.c_str(), what.c_str());
    if (report.State == TFragmentFileState::Complete) return kExitFailure;
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
