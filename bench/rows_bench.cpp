// quillon-rows-bench: how fast quillon-cli rows reads a fragment file, next to merely
// inflating it.
//
// Builds a fragment file of about the given size (default 6144 MiB) of database pages: the
// data and LVAL pages of the bundled sample database, repeated as the pages of one large
// database would follow each other. Each copy's page numbers are moved on (memo pointers,
// chain pointers, overflow pointers), so that every pointer names a page of its own copy,
// and the owner fields vary, so that the rows fall into many tables. With --copies N it
// holds N identical copies of the database instead (a disk with many backups of one file:
// every pointer fits N rows). Then it times, on the same file: inflating the fragments
// alone; and reading the rows as quillon-cli rows does (pages kept, past 256 MiB in a
// temporary file in DIR, rows decoded, pointers matched, every value decoded, no output).
//
// usage: quillon-rows-bench [--size MiB | --copies N] [--dir DIR] [--database FILE.mdb]
//        [--keep]   (--keep leaves the fragment file in DIR, for timing quillon-cli rows)
//        [--file FRAGMENTS]   (times a fragment file written before instead of writing one)
//        [--memory-pages N]   (pages held in memory before the temporary file: 65536)

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/fragment_file_reader.h"
#include "core/fragment_file_writer.h"
#include "core/little_endian.h"
#include "core/page_head.h"
#include "jet/long_value.h"
#include "jet/row_layout.h"
#include "rows/catalog_reading.h"
#include "rows/page_catalog.h"
#include "rows/row_recovery.h"
#include "storage/file_system.h"

namespace {

using namespace quillon;
using jet::ParseLongValueHead;
using jet::RowPointerFrom;
using TClock = std::chrono::steady_clock;
using TPage = std::vector<std::uint8_t>;

// The bench reads whole pages it built or kept, at offsets inside them: a read past one
// is a fault of the bench, and throws.
std::uint16_t LoadU16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return quillon::ReadU16(bytes, at).value();
}
std::uint32_t LoadU32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return quillon::ReadU32(bytes, at).value();
}

double Since(TClock::time_point start) {
  return std::chrono::duration<double>(TClock::now() - start).count();
}

// Processor time of the process, user and system: on a shared machine the wall-clock time
// says more about the neighbours than about the program.
double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void AddToPointer(TPage& page, std::size_t at, std::uint32_t shift) {
  const std::uint32_t stored = LoadU32(page, at);
  const std::uint32_t moved = (((stored >> 8) + shift) << 8) | (stored & 0xFF);
  for (int i = 0; i < 4; ++i) page[at + i] = static_cast<std::uint8_t>(moved >> (8 * i));
}

std::pair<std::uint16_t, std::uint16_t> RowSpan(const TPage& page, std::uint16_t slot) {
  const auto entry = [&](std::uint16_t s) {
    return static_cast<std::uint16_t>(LoadU16(page, kRowTableAt + 2u * s) & kRowOffsetMask);
  };
  return {entry(slot), slot == 0 ? static_cast<std::uint16_t>(kFragmentSize) : entry(slot - 1)};
}

// Where each pointer of the database lies, so that a copy can move it: offsets within the
// page of memo pointers, overflow pointers and chain pointers.
struct TPointerPlaces {
  std::vector<std::vector<std::size_t>> ByPage;
};

TPointerPlaces FindPointers(const std::vector<std::uint8_t>& database) {
  const std::size_t pages = database.size() / kFragmentSize;
  TPointerPlaces places{std::vector<std::vector<std::size_t>>(pages)};
  const auto pageOf = [&](std::size_t n) {
    return TPage(database.begin() + static_cast<std::ptrdiff_t>(n * kFragmentSize),
                 database.begin() + static_cast<std::ptrdiff_t>((n + 1) * kFragmentSize));
  };
  std::set<std::pair<std::uint32_t, std::uint8_t>> chainParts;
  std::vector<TRowPointer> chainStarts;
  for (std::size_t n = 0; n < pages; ++n) {
    const TPage page = pageOf(n);
    if (page[0] != 1 || page[1] != 1 || LoadU32(page, kOwnerAt) == kLvalOwner) continue;
    const std::uint16_t rows = LoadU16(page, kRowCountAt);
    for (std::uint16_t slot = 0; slot < rows; ++slot) {
      const auto [start, end] = RowSpan(page, slot);
      if (start >= end || end > kFragmentSize) continue;
      const std::uint16_t flags = LoadU16(page, kRowTableAt + 2u * slot) & 0xC000;
      if (flags == kRowOverflowFlag) {
        places.ByPage[n].push_back(start);
        continue;
      }
      const auto row = std::span<const std::uint8_t>(page).subspan(start, end - start);
      const auto layout = jet::ReadRowLayout(row, false);
      if (!layout) continue;
      for (std::uint16_t k = 0; k < layout->VarCount(); ++k) {
        const auto head = ParseLongValueHead(layout->Var(k));
        if (!head || head->Kind == TLongValueKind::Inline) continue;
        places.ByPage[n].push_back(static_cast<std::size_t>(layout->Var(k).data() - row.data()) +
                                   start + 4);
        if (head->Kind == TLongValueKind::Chain) chainStarts.push_back(head->Where);
      }
    }
  }
  for (TRowPointer where : chainStarts) {
    while (where.Page != 0 && where.Page < pages &&
           chainParts.insert({where.Page, where.Row}).second) {
      const TPage page = pageOf(where.Page);
      if (where.Row >= LoadU16(page, kRowCountAt)) break;
      const auto [start, end] = RowSpan(page, where.Row);
      if (start + 4 > end || end > kFragmentSize) break;
      places.ByPage[where.Page].push_back(start);
      where = RowPointerFrom(LoadU32(page, start));
    }
  }
  return places;
}

// Returns the fragments written.
std::uint64_t WriteBenchFile(const std::string& path, const std::vector<std::uint8_t>& database,
                             std::uint64_t targetBytes, std::uint64_t copies) {
  const std::size_t pages = database.size() / kFragmentSize;
  const TPointerPlaces places = FindPointers(database);
  auto files = MakePlatformFileSystem();
  TFragmentFileWriter writer(*files);
  writer.Create(path);
  writer.WriteHeader("/bench/one-large-database.img", static_cast<std::int64_t>(targetBytes));
  std::uint64_t written = 0;
  const bool identical = copies != 0;
  for (std::uint32_t copy = 0; identical ? copy < copies : written * kFragmentSize < targetBytes;
       ++copy) {
    const auto shift = static_cast<std::uint32_t>(copy * pages);
    for (std::size_t n = 0; n < pages && (identical || written * kFragmentSize < targetBytes);
         ++n) {
      TPage page(database.begin() + static_cast<std::ptrdiff_t>(n * kFragmentSize),
                 database.begin() + static_cast<std::ptrdiff_t>((n + 1) * kFragmentSize));
      if (page[0] != 1 || page[1] != 1) continue;
      if (identical) {
        writer.AddFragment(
            std::span<const std::uint8_t, kFragmentSize>(page.data(), kFragmentSize));
        ++written;
        continue;
      }
      for (const std::size_t at : places.ByPage[n]) {
        if (LoadU32(page, at) != 0) AddToPointer(page, at, shift);
      }
      const std::uint32_t owner = LoadU32(page, kOwnerAt);
      if (owner != kLvalOwner) {
        const std::uint32_t varied = owner + (copy % 200) * 100;
        for (int i = 0; i < 4; ++i) {
          page[kOwnerAt + i] = static_cast<std::uint8_t>(varied >> (8 * i));
        }
      }
      writer.AddFragment(std::span<const std::uint8_t, kFragmentSize>(page.data(), kFragmentSize));
      ++written;
    }
  }
  writer.Finish();
  writer.Close();
  return written;
}

long PeakMemoryMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t sizeMiB = 6144;
  std::uint64_t copies = 0;
  std::string dir = std::filesystem::temp_directory_path().string();
  std::string databasePath = QUILLON_SAMPLE_DATABASE;
  std::string given;
  std::size_t memoryPages = 65536;  // as quillon-cli rows does
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--keep") keep = true;
    if (i + 1 == argc) break;
    if (option == "--size") sizeMiB = std::stoull(argv[++i]);
    else if (option == "--copies") copies = std::stoull(argv[++i]);
    else if (option == "--dir") dir = argv[++i];
    else if (option == "--database") databasePath = argv[++i];
    else if (option == "--file") given = argv[++i];
    else if (option == "--memory-pages") memoryPages = std::stoull(argv[++i]);
  }
  std::ifstream in(databasePath, std::ios::binary);
  const std::vector<std::uint8_t> database((std::istreambuf_iterator<char>(in)),
                                           std::istreambuf_iterator<char>());
  if (database.size() < kFragmentSize || database.size() % kFragmentSize != 0) {
    std::fprintf(stderr, "Cannot read the database \"%s\"\n", databasePath.c_str());
    return 1;
  }
  const std::string path = given.empty() ? dir + "/quillon-rows-bench.frag" : given;
  if (!given.empty()) {
    keep = true;
  } else if (copies != 0) {
    std::printf("Writing a fragment file of %llu copies of %s to %s ...\n",
                static_cast<unsigned long long>(copies), databasePath.c_str(), path.c_str());
  } else {
    std::printf("Writing a fragment file of %llu MiB of database pages to %s ...\n",
                static_cast<unsigned long long>(sizeMiB), path.c_str());
  }
  auto files = MakePlatformFileSystem();
  std::uint64_t fragments = 0;
  if (given.empty()) {
    fragments = WriteBenchFile(path, database, sizeMiB << 20, copies);
  } else {
    auto file = files->Open(path, TOpenMode::ReadShared);
    fragments = ReadFragmentFile(*file).Fragments;
  }
  const double megabytes = static_cast<double>(fragments * kFragmentSize) / 1e6;
  std::printf("%llu fragments, %.0f MB inflated, %.0f MB compressed\n",
              static_cast<unsigned long long>(fragments), megabytes,
              static_cast<double>(std::filesystem::file_size(path)) / 1e6);

  {  // once before timing, so that both runs read the file from the page cache
    auto file = files->Open(path, TOpenMode::ReadShared);
    ReadFragmentFile(*file);
  }
  auto start = TClock::now();
  double cpu = CpuSeconds();
  {
    auto file = files->Open(path, TOpenMode::ReadShared);
    ReadFragmentFile(*file);
  }
  const double inflateSeconds = Since(start);
  const double inflateCpu = CpuSeconds() - cpu;

  start = TClock::now();
  cpu = CpuSeconds();
  TPageCatalog catalog;
  const std::string spillPath = dir + "/quillon-rows-bench.pages";
  auto spill = files->Open(spillPath, TOpenMode::CreateExclusive);
  catalog.SetSpill(spill.get(), spillPath, memoryPages);
  {
    auto file = files->Open(path, TOpenMode::ReadShared);
    ReadPageCatalog(*file, catalog);
  }
  const double readSeconds = Since(start);
  const double readCpu = CpuSeconds() - cpu;
  const auto matchStart = TClock::now();
  const TRowRecovery recovery(catalog);
  const double matchSeconds = Since(matchStart);
  const double matchCpu = CpuSeconds() - cpu - readCpu;
  const auto decodeStart = TClock::now();
  std::uint64_t rows = 0;
  std::uint64_t textBytes = 0;
  for (std::size_t t = 0; t < recovery.Tables().size(); ++t) {
    recovery.ForEachRow(t, [&](const TRecoveredRow& row) {
      ++rows;
      for (const TRecoveredValue& value : row.Values) textBytes += value.Text.size();
    });
  }
  const double decodeSeconds = Since(decodeStart);
  const double rowsSeconds = Since(start);
  const double rowsCpu = CpuSeconds() - cpu;

  const TRecoveryTotals& totals = recovery.Totals();
  std::printf("%-44s %8.2f s %8.0f MB/s %8.2f s CPU\n", "inflate only", inflateSeconds,
              megabytes / inflateSeconds, inflateCpu);
  std::printf("%-44s %8.2f s %8.0f MB/s %8.2f s CPU\n", "rows: read, match, decode every value",
              rowsSeconds, megabytes / rowsSeconds, rowsCpu);
  std::printf("  %-42s %8.2f s %17.2f s CPU\n", "inflate and keep the pages", readSeconds,
              readCpu);
  std::printf("  %-42s %8.2f s %17.2f s CPU\n", "decode rows, match pointers", matchSeconds,
              matchCpu);
  std::printf("  %-42s %8.2f s %17.2f s CPU\n", "decode every value", decodeSeconds,
              rowsCpu - readCpu - matchCpu);
  std::printf("%zu tables, %llu rows (%llu moved rows followed), %.0f MB of values; memo/OLE "
              "values %llu found, %llu not found, %llu ambiguous; peak memory %ld MiB\n",
              recovery.Tables().size(), static_cast<unsigned long long>(rows),
              static_cast<unsigned long long>(totals.MovedRowsFound),
              static_cast<double>(textBytes) / 1e6,
              static_cast<unsigned long long>(totals.LongValuesFound),
              static_cast<unsigned long long>(totals.LongValuesNotFound),
              static_cast<unsigned long long>(totals.LongValuesAmbiguous), PeakMemoryMiB());
  std::printf("%zu distinct pages, %zu of them in the temporary file\n", catalog.DistinctPages(),
              catalog.SpilledPages());
  spill.reset();
  std::filesystem::remove(spillPath);
  if (!keep) std::filesystem::remove(path);
  return 0;
}
