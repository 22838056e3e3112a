// quillon-recover-read-bench: how fast recover reads a source (the scan's chunk loop keeping also
// definition, header and usage-map pages, and writing the page map) next to a plain read
// and a plain scan of the same file in the same run; then how fast the page store numbers
// and reads back the fragments it wrote.
//
// Two files of the given size (default 1024 MiB): random bytes (no pages), and the bundled
// sample database repeated (dense with pages). Each is read once before timing, so every
// reader sees the page cache; each timing is the best of --repeat runs. The scan and
// recover's reading compress on one worker per core, as the program does. Beside each rate
// the processor time of the process (all threads) is printed as MB of source per processor
// second: on a shared machine the wall-clock rate shows the share of the cores a run got,
// the processor time what it cost.
//
// usage: quillon-recover-read-bench [--size MiB] [--dir DIR] [--database FILE.mdb] [--repeat N]

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "bench_files.h"
#include "core/aligned_buffer.h"
#include "core/chunk_loop.h"
#include "core/fragment_file_writer.h"
#include "recover/fragment_page_store.h"
#include "recover/page_map_writer.h"
#include "storage/file_system.h"

namespace {

using quillon::bench::RandomBytes;
using quillon::bench::WriteFile;

using namespace quillon;
using TClock = std::chrono::steady_clock;

// The loop's host as recover's is, without a window: fragments and other pages go to the
// page map when keep is set.
class THost : public IScanHost {
 public:
  THost(std::int64_t size, recover::TPageMapWriter* map) : size_(size), map_(map) {}
  void ProcessPendingMessages() override {}
  void ShowProgress(std::int64_t) override {}
  bool StopRequested() override { return false; }
  std::int64_t SourceSize() override { return size_; }
  void ShowFragmentCount(std::int64_t) override {}
  void FragmentAdded(std::int64_t, std::int64_t offset,
                     std::span<const std::uint8_t, kFragmentSize> page) override {
    if (map_) map_->AddFragment(offset, page);
  }
  bool KeepsOtherPages() override { return map_ != nullptr; }
  void OtherPageSeen(std::int64_t offset,
                     std::span<const std::uint8_t, kFragmentSize> page) override {
    map_->OfferPage(offset, page);
  }

 private:
  std::int64_t size_;
  recover::TPageMapWriter* map_;
};

double Seconds(TClock::time_point start) {
  return std::chrono::duration<double>(TClock::now() - start).count();
}

// The processor time of the whole process so far, user and system, every thread.
double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The processor time of the last PlainRead or Read.
double lastCpuSeconds = 0;

double PlainRead(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) std::exit(1);
  TAlignedBuffer buffer(static_cast<std::size_t>(kChunkSize));
  const double cpuStart = ProcessCpuSeconds();
  const auto start = TClock::now();
  off_t offset = 0;
  for (ssize_t got; (got = ::pread(fd, buffer.data(), buffer.size(), offset)) > 0;) offset += got;
  const double seconds = Seconds(start);
  lastCpuSeconds = ProcessCpuSeconds() - cpuStart;
  ::close(fd);
  return static_cast<double>(offset) / seconds / 1e6;
}

// A scan into output; with keep, also the page map beside it, as recover reads.
double Read(const std::string& path, const std::string& output, bool keep, std::int64_t& fragments,
            std::uint64_t& kept) {
  auto files = MakePlatformFileSystem();
  const double cpuStart = ProcessCpuSeconds();
  const auto start = TClock::now();
  auto source = files->Open(path, TOpenMode::ReadShared);
  TFragmentFileWriter writer(*files, std::max(1u, std::thread::hardware_concurrency()));
  writer.Create(output);
  const std::int64_t length = source->Length();
  writer.WriteHeader(path, length);
  std::unique_ptr<recover::TPageMapWriter> map;
  if (keep) {
    map = std::make_unique<recover::TPageMapWriter>(
        files->Open(recover::PageMapPathFor(output), TOpenMode::CreateExclusive), output);
    map->WriteHeader();
  }
  THost host(length, map.get());
  const TChunkLoopResult loop = RunChunkLoop(host, *source, length, writer);
  fragments = loop.Fragments;
  writer.Finish();
  writer.Close();
  if (map) {
    map->Finish(loop.EndPosition, recover::TPageMapScanEnd::Completed);
    kept = map->KeptPages();
  }
  const double seconds = Seconds(start);
  lastCpuSeconds = ProcessCpuSeconds() - cpuStart;
  return static_cast<double>(length) / seconds / 1e6;
}

// Opens the page store over the fragment file and its map, then reads every page in order.
double StoreReadBack(const std::string& fragments, std::size_t& pages) {
  auto files = MakePlatformFileSystem();
  const auto start = TClock::now();
  recover::TFragmentPageStore store(files->Open(fragments, TOpenMode::ReadShared), fragments,
                                    files->Open(recover::PageMapPathFor(fragments),
                                                TOpenMode::ReadShared),
                                    fragments, nullptr);
  std::array<std::uint8_t, 4096> page;
  for (std::size_t i = 0; i < store.Count(); ++i) store.Read(i, page);
  pages = store.Count();
  return static_cast<double>(pages) * 4096 / Seconds(start) / 1e6;
}

long PeakKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  std::int64_t sizeMiB = 1024;
  std::string dir = std::filesystem::temp_directory_path().string();
  std::string database = QUILLON_SAMPLE_DATABASE;
  int repeat = 3;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    if (flag == "--size") sizeMiB = std::atoll(argv[i + 1]);
    else if (flag == "--dir") dir = argv[i + 1];
    else if (flag == "--database") database = argv[i + 1];
    else if (flag == "--repeat") repeat = std::max(1, std::atoi(argv[i + 1]));
  }
  const std::int64_t size = sizeMiB << 20;
  std::ifstream db(database, std::ios::binary);
  const std::vector<std::uint8_t> dense((std::istreambuf_iterator<char>(db)), {});
  if (dense.empty()) {
    std::fprintf(stderr, "Cannot read the database \"%s\".\n", database.c_str());
    return 1;
  }
  struct TInput {
    const char* Name;
    std::vector<std::uint8_t> Pattern;
  };
  const TInput inputs[] = {{"random (no pages)", RandomBytes(1 << 20)},
                           {"dense (database pages)", dense}};
  std::printf("%lld MiB per file, best of %d runs\n", static_cast<long long>(sizeMiB), repeat);
  std::printf("%-24s %10s %10s %10s %8s %8s %12s\n", "file", "read MB/s", "scan MB/s",
              "recv MB/s", "recv/rd", "kept", "store MB/s");
  std::printf("%-24s %10s %10s %10s %8s   (MB of source per processor second, best run)\n",
              "", "read cpu", "scan cpu", "recv cpu", "recv/rd");
  for (const TInput& input : inputs) {
    const std::string path = dir + "/quillon-recover-bench.img";
    const std::string output = dir + "/quillon-recover-bench.frag";
    WriteFile(path, size, input.Pattern);
    PlainRead(path);  // into the page cache
    double read = 0, scan = 0, recover = 0, store = 0;
    double readCpu = 1e30, scanCpu = 1e30, recoverCpu = 1e30;
    std::int64_t fragments = 0;
    std::uint64_t kept = 0;
    std::size_t pages = 0;
    for (int r = 0; r < repeat; ++r) {
      read = std::max(read, PlainRead(path));
      readCpu = std::min(readCpu, lastCpuSeconds);
      scan = std::max(scan, Read(path, output, false, fragments, kept));
      scanCpu = std::min(scanCpu, lastCpuSeconds);
      recover = std::max(recover, Read(path, output, true, fragments, kept));
      recoverCpu = std::min(recoverCpu, lastCpuSeconds);
    }
    store = StoreReadBack(output, pages);
    const std::string storeText = pages > 0 ? std::to_string(static_cast<long>(store)) : "-";
    std::printf("%-24s %10.0f %10.0f %10.0f %8.2f %8llu %12s\n", input.Name, read, scan,
                recover, recover / read, static_cast<unsigned long long>(kept), storeText.c_str());
    // Rates per processor second; the plain read's may be too short to time (then "-").
    const auto perCpu = [&](double cpu) {
      return static_cast<double>(size) / std::max(cpu, 1e-9) / 1e6;
    };
    char readCpuText[32] = "-";
    char ratioText[32] = "-";
    if (readCpu >= 0.005) {
      std::snprintf(readCpuText, sizeof readCpuText, "%.0f", perCpu(readCpu));
      std::snprintf(ratioText, sizeof ratioText, "%.2f", readCpu / recoverCpu);
    }
    std::printf("%-24s %10s %10.0f %10.0f %8s\n", "", readCpuText, perCpu(scanCpu),
                perCpu(recoverCpu), ratioText);
    std::filesystem::remove(path);
    std::filesystem::remove(output);
    std::filesystem::remove(recover::PageMapPathFor(output));
  }
  std::printf("peak memory %ld MiB\n", PeakKiB() / 1024);
  return 0;
}
