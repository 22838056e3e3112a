// quillon-recover-bench: how fast recovery decodes database pages into SQLite and CSV,
// next to merely reading the same pages from the store.
//
// The store is one large database made from the bundled sample: its pages as they are,
// then its data and LVAL pages again and again under new page numbers, each copy's memo,
// chain and overflow pointers moved on so that they name pages of its own copy, up to the
// given size. The tables' usage maps are made to list every page (their bitmap pages all
// ones, one for each range of 32,736 pages), so that the copies are live rows. Times, in
// the same run: reading every page of the store; and the whole
// recovery (definitions tied, every row and value decoded, SQLite and CSV written to DIR).
// Prints MB/s for both and the peak memory beside the data's size; then the time and the
// peak memory of writing report.html from what was written (its first rows per table).
//
// usage: quillon-recover-bench [--size MiB] [--dir DIR]   (default 1024 MiB, a folder in /tmp)

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "core/errors.h"
#include "core/little_endian.h"
#include "jet/long_value.h"
#include "jet/row_layout.h"
#include "jet/row_slots.h"
#include "recover/recovery.h"
#include "recover/recovery_report.h"
#include "recover/report_html.h"
#include "storage/file_system.h"

namespace {

using namespace quillon::recover;
using quillon::kPageSize;

// The bench reads whole pages it built or kept, at offsets inside them: a read past one
// is a fault of the bench, and throws.
std::uint16_t LoadU16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return quillon::ReadU16(bytes, at).value();
}
std::uint32_t LoadU32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return quillon::ReadU32(bytes, at).value();
}

std::pair<std::size_t, std::size_t> RowSpan(const std::uint8_t* page, std::size_t slot) {
  const std::span<const std::uint8_t> bytes(page, kPageSize);
  const auto entry = [&](std::size_t s) -> std::size_t {
    return LoadU16(bytes, 14 + 2 * s) & 0x1FFF;
  };
  return {entry(slot), slot == 0 ? kPageSize : entry(slot - 1)};
}

// Offsets within each page of the pointers a copy must move: long-value heads' pointers,
// overflow pointers and the next-part pointers of chains.
std::vector<std::vector<std::size_t>> FindPointers(const std::vector<std::uint8_t>& database) {
  const std::size_t pages = database.size() / kPageSize;
  std::vector<std::vector<std::size_t>> places(pages);
  std::vector<std::pair<std::uint32_t, std::uint8_t>> chains;
  for (std::size_t n = 0; n < pages; ++n) {
    const std::uint8_t* page = database.data() + n * kPageSize;
    const std::span<const std::uint8_t> bytes(page, kPageSize);
    if (page[0] != 1 || page[1] != 1 || LoadU32(bytes, 4) == quillon::jet::kLvalOwner) continue;
    const std::size_t rows = LoadU16(bytes, 12);
    for (std::size_t slot = 0; slot < rows && 14 + 2 * slot < kPageSize; ++slot) {
      const auto [start, end] = RowSpan(page, slot);
      if (start >= end || end > kPageSize) continue;
      const std::uint16_t flags = LoadU16(bytes, 14 + 2 * slot) & 0xC000;
      if (flags == 0x4000) {
        places[n].push_back(start);
        continue;
      }
      const auto row = bytes.subspan(start, end - start);
      const auto layout = quillon::jet::ReadRowLayout(row, false);
      if (!layout) continue;
      for (std::uint16_t k = 0; k < layout->VarCount(); ++k) {
        const auto head = quillon::jet::ParseLongValueHead(layout->Var(k));
        if (!head || head->Kind == quillon::jet::TLongValueKind::Inline) continue;
        places[n].push_back(static_cast<std::size_t>(layout->Var(k).data() - row.data()) + start +
                            4);
        if (head->Kind == quillon::jet::TLongValueKind::Chain)
          chains.emplace_back(head->Where.Page, head->Where.Row);
      }
    }
  }
  std::set<std::pair<std::uint32_t, std::uint8_t>> seen;
  for (auto [pageNumber, row] : chains) {
    while (pageNumber != 0 && pageNumber < pages && seen.insert({pageNumber, row}).second) {
      const std::uint8_t* page = database.data() + pageNumber * kPageSize;
      if (row >= LoadU16(std::span(page, kPageSize), 12)) break;
      const auto [start, end] = RowSpan(page, row);
      if (start + 4 > end || end > kPageSize) break;
      places[pageNumber].push_back(start);
      const std::uint32_t next = LoadU32(std::span(page, kPageSize), start);
      row = static_cast<std::uint8_t>(next & 0xFF);
      pageNumber = next >> 8;
    }
  }
  return places;
}

class TRepeatedStore : public IPageStore {
 public:
  TRepeatedStore(std::vector<std::uint8_t> database, std::size_t count)
      : database_(std::move(database)), places_(FindPointers(database_)) {
    pages_ = database_.size() / kPageSize;
    for (std::size_t copy = 0; entries_.size() < count; ++copy) {
      for (std::size_t n = 0; n < pages_ && entries_.size() < count; ++n) {
        const std::uint8_t* bytes = database_.data() + n * kPageSize;
        TPageEntry entry;
        entry.SourceOffset = static_cast<std::int64_t>((copy * pages_ + n) * kPageSize);
        if (bytes[0] == 0x01 && bytes[1] == 0x01) {
          entry.Kind = TPageKind::Data;
          std::memcpy(&entry.Owner, bytes + 4, 4);
        } else if (copy > 0) {
          continue;  // copies are of data and LVAL pages only
        } else if (bytes[0] == 0x00 && n == 0) {
          entry.Kind = TPageKind::Header;
        } else if (bytes[0] == 0x02) {
          entry.Kind = TPageKind::Definition;
        } else if (bytes[0] == 0x05) {
          entry.Kind = TPageKind::UsageMap;
        } else {
          continue;  // index pages: the scan keeps none
        }
        entries_.push_back(entry);
      }
    }
    // Where the user tables' usage maps lie: (page, row) from their definitions.
    for (std::size_t n = 0; n < pages_; ++n) {
      const std::uint8_t* bytes = database_.data() + n * kPageSize;
      if (bytes[0] != 0x02 || bytes[40] != 0x4E) continue;
      std::uint32_t pointer;
      std::memcpy(&pointer, bytes + 55, 4);
      maps_.emplace_back(pointer >> 8, pointer & 0xFF);
    }
  }

  std::size_t Count() const override { return entries_.size(); }
  TPageEntry Entry(std::size_t index) const override { return entries_[index]; }
  bool HasOffsets() const override { return true; }

  void Read(std::size_t index, std::span<std::uint8_t, kPageSize> out) const override {
    const std::size_t number = static_cast<std::size_t>(entries_[index].SourceOffset) / kPageSize;
    const std::size_t n = number % pages_;
    const auto shift = static_cast<std::uint32_t>(number - n);
    std::memcpy(out.data(), database_.data() + n * kPageSize, kPageSize);
    if (shift == 0) {
      ListEveryPage(n, out);
      return;
    }
    for (const std::size_t at : places_[n]) {
      std::uint32_t stored;
      std::memcpy(&stored, out.data() + at, 4);
      if (stored == 0) continue;
      stored = (((stored >> 8) + shift) << 8) | (stored & 0xFF);
      std::memcpy(out.data() + at, &stored, 4);
    }
  }

 private:
  // A bitmap page all ones, and a page-list map that names it for every range.
  void ListEveryPage(std::size_t n, std::span<std::uint8_t, kPageSize> page) const {
    if (page[0] == 0x05) std::memset(page.data() + 4, 0xFF, kPageSize - 4);
    for (const auto& [mapPage, row] : maps_) {
      if (mapPage != n) continue;
      const auto [start, end] = RowSpan(page.data(), row);
      if (start >= end || end > kPageSize || page[start] != 1) continue;
      for (std::size_t at = start + 5; at + 4 <= end; at += 4)
        std::memcpy(page.data() + at, page.data() + start + 1, 4);
    }
  }

  std::vector<std::uint8_t> database_;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> maps_;
  std::vector<std::vector<std::size_t>> places_;
  std::size_t pages_ = 0;
  std::vector<TPageEntry> entries_;
};

class TNoProgress : public IRecoveryProgress {
 public:
  void Progress(const std::string&, std::int64_t, std::int64_t) override {}
};

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t mebibytes = 1024;
  std::string dir = (std::filesystem::temp_directory_path() /
                     ("quillon-recover-bench-" + std::to_string(::getpid())))
                        .string();
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::string(argv[i]) == "--size")
      mebibytes = std::stoul(argv[i + 1]);
    else if (std::string(argv[i]) == "--dir")
      dir = argv[i + 1];
  }
  std::ifstream in(QUILLON_SAMPLE_DATABASE, std::ios::binary);
  std::vector<std::uint8_t> database((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
  if (database.empty()) {
    std::fprintf(stderr, "cannot read %s\n", QUILLON_SAMPLE_DATABASE);
    return 1;
  }
  const std::size_t pages = mebibytes * 1024 * 1024 / kPageSize;
  const TRepeatedStore store(std::move(database), pages);
  const double megabytes = static_cast<double>(pages) * kPageSize / 1e6;

  auto start = std::chrono::steady_clock::now();
  std::uint64_t sum = 0;
  std::array<std::uint8_t, kPageSize> page{};
  for (std::size_t i = 0; i < store.Count(); ++i) {
    store.Read(i, page);
    sum += page[100] + store.Entry(i).Owner;
  }
  const double readSeconds = Seconds(start);

  std::filesystem::create_directories(dir);
  std::unique_ptr<quillon::IFileSystem> files = quillon::MakePlatformFileSystem();
  TRecoveryOptions options;
  options.OutputDir = dir;
  TNoProgress progress;
  start = std::chrono::steady_clock::now();
  TRecoveryReport report;
  try {
    report = RecoverDatabases(store, *files, options, progress);
  } catch (const quillon::EQuillonError& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
  const double recoverSeconds = Seconds(start);
  rusage beforeReport{};
  getrusage(RUSAGE_SELF, &beforeReport);
  start = std::chrono::steady_clock::now();
  std::uintmax_t reportBytes = 0;
  try {
    const std::string reportPath =
        WriteReportHtml(report, *files, {.OutputDir = dir, .Source = "bench"}, progress);
    reportBytes = std::filesystem::file_size(reportPath);
  } catch (const quillon::EQuillonError& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
  const double reportSeconds = Seconds(start);
  std::int64_t rows = 0;
  for (const TDatabaseReport& db : report.Databases)
    for (const TTableReport& table : db.Tables)
      rows += table.Rows + table.StaleRows + table.DeletedRows;
  std::fputs(RecoveryReportText(report).c_str(), stderr);
  std::uintmax_t written = 0;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(dir))
    if (entry.is_regular_file()) written += entry.file_size();
  std::filesystem::remove_all(dir);

  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("pages: %zu (%.0f MB of database pages), rows decoded: %lld, written: %.0f MB\n",
              pages, megabytes, static_cast<long long>(rows), written / 1e6);
  std::printf("reading the pages alone:  %7.2f s  %8.1f MB/s  (checksum %llu)\n", readSeconds,
              megabytes / readSeconds, static_cast<unsigned long long>(sum % 1000));
  std::printf("recovery (SQLite + CSV):  %7.2f s  %8.1f MB/s\n", recoverSeconds,
              megabytes / recoverSeconds);
  std::printf("peak memory: %.0f MB for %.0f MB of pages (the sample database held in memory)\n",
              beforeReport.ru_maxrss / 1024.0, megabytes);
  std::printf("report.html:              %7.2f s  %.1f MB written, peak memory after it %.0f MB\n",
              reportSeconds, reportBytes / 1e6, usage.ru_maxrss / 1024.0);
  return 0;
}
