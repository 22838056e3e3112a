// quillon-bench: how fast a scan runs next to a plain sequential read of the same file.
//
// Builds two files of the given size (default 1024 MiB): one with no candidate page
// (random bytes) and one dense with database pages (the bundled sample database repeated).
// For each it times a plain read in 256 KiB preads into a page-aligned buffer and a whole
// scan through the program's chunk loop, fragment writer and POSIX file system, and prints
// MB/s and the ratio. Files are read once before timing, so both see the page cache.
// The dense file is scanned with the writer's workers (one per core, or --workers) and with
// one, and its fragments are deflated by zlib at level 1 on one core: the yardstick for the
// workers is that one core's rate times their number, on the same fragments, in the same run.
//
// usage: quillon-bench [--size MiB] [--dir DIR] [--database FILE.mdb] [--repeat N]
//                      [--workers N]
//        quillon-bench --read FILE      the plain read alone, on one file: "<MB/s> <bytes>"
//                                       (bench/compare.sh uses it next to other programs)
//        quillon-bench --scan FILE OUT [WORKERS]
//                                       one scan of FILE into OUT: "<MB/s> <fragments>"
//        quillon-bench --zlib FRAGMENTS SOURCE_BYTES
//                                       zlib level 1 on one core over the fragments of a
//                                       fragment file made from SOURCE_BYTES of source:
//                                       "<MB/s of source> <bytes of fragments>
//                                       <MB of source per processor second>"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <zlib.h>

#include "bench_files.h"
#include "core/aligned_buffer.h"
#include "core/chunk_loop.h"
#include "core/fragment_file_writer.h"
#include "storage/file_system.h"

namespace {

using quillon::bench::RandomBytes;
using quillon::bench::WriteFile;

using namespace quillon;
using TClock = std::chrono::steady_clock;

class TQuietHost : public IScanHost {
 public:
  explicit TQuietHost(std::int64_t size) : size_(size) {}
  void ProcessPendingMessages() override {}
  void ShowProgress(std::int64_t) override {}
  bool StopRequested() override { return false; }
  std::int64_t SourceSize() override { return size_; }
  void ShowFragmentCount(std::int64_t) override {}

 private:
  std::int64_t size_;
};

double PlainRead(const std::string& path, std::int64_t* bytes = nullptr) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) {
    std::fprintf(stderr, "Cannot open \"%s\": %s\n", path.c_str(), std::strerror(errno));
    std::exit(1);
  }
  TAlignedBuffer buffer(static_cast<std::size_t>(kChunkSize));
  const auto start = TClock::now();
  off_t offset = 0;
  for (ssize_t got; (got = ::pread(fd, buffer.data(), buffer.size(), offset)) > 0;) offset += got;
  const double seconds = std::chrono::duration<double>(TClock::now() - start).count();
  ::close(fd);
  if (bytes != nullptr) *bytes = offset;
  return static_cast<double>(offset) / seconds / 1e6;
}

// The processor time of the last Scan, all threads together: on a shared machine the
// wall-clock rate shows what the scan got, this what it cost.
double lastScanCpuSeconds = 0;

double Scan(const std::string& path, const std::string& output, std::int64_t& fragments,
            unsigned workers) {
  auto files = MakePlatformFileSystem();
  const std::clock_t cpuStart = std::clock();
  const auto start = TClock::now();
  auto source = files->Open(path, TOpenMode::ReadShared);
  TFragmentFileWriter writer(*files, workers);
  writer.Create(output);
  const std::int64_t length = source->Length();
  writer.WriteHeader(path, length);
  TQuietHost host(length);
  fragments = RunChunkLoop(host, *source, length, writer).Fragments;
  writer.Finish();
  writer.Close();
  const double seconds = std::chrono::duration<double>(TClock::now() - start).count();
  lastScanCpuSeconds = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
  return static_cast<double>(length) / seconds / 1e6;
}

// zlib alone: the dense file's bytes through one level-1 stream, as the scan's writer
// uses it, with no reading and no writing.
double DeflateOnly(const std::vector<std::uint8_t>& pattern, std::int64_t size) {
  z_stream zs{};
  deflateInit2(&zs, 1, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY);
  std::vector<std::uint8_t> out(65536);
  const auto start = TClock::now();
  for (std::int64_t done = 0; done < size;) {
    const std::size_t n = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(pattern.size()), size - done));
    zs.next_in = const_cast<Bytef*>(pattern.data());
    zs.avail_in = static_cast<uInt>(n);
    while (zs.avail_in > 0) {
      zs.next_out = out.data();
      zs.avail_out = static_cast<uInt>(out.size());
      deflate(&zs, Z_NO_FLUSH);
    }
    done += static_cast<std::int64_t>(n);
  }
  const double seconds = std::chrono::duration<double>(TClock::now() - start).count();
  deflateEnd(&zs);
  return static_cast<double>(size) / seconds / 1e6;
}

// The processor time of the calling thread.
double ThreadCpuSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// zlib level 1 on one core over the fragments of a fragment file, as the single-threaded
// writer compresses them: the body is inflated piece by piece (not timed) and each piece
// deflated (timed). Returns the seconds spent deflating; fragmentBytes gets their amount,
// cpuSeconds (where given) the processor time the deflating took.
double DeflateFragmentsSeconds(const std::string& fragmentFile, std::int64_t& fragmentBytes,
                               double* cpuSeconds = nullptr) {
  std::ifstream in(fragmentFile, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(kHeaderSize));
  z_stream inflater{};
  inflateInit(&inflater);
  z_stream deflater{};
  deflateInit2(&deflater, kDeflateLevel, Z_DEFLATED, kDeflateWindowBits, kDeflateMemLevel,
               Z_DEFAULT_STRATEGY);
  std::vector<std::uint8_t> input(1 << 20);
  std::vector<std::uint8_t> piece(8 << 20);
  std::vector<std::uint8_t> out(65536);
  TClock::duration spent{};
  double cpu = 0;
  fragmentBytes = 0;
  int rc = Z_OK;
  while (rc != Z_STREAM_END) {
    inflater.next_out = piece.data();
    inflater.avail_out = static_cast<uInt>(piece.size());
    while (inflater.avail_out > 0 && rc != Z_STREAM_END) {
      if (inflater.avail_in == 0) {
        in.read(reinterpret_cast<char*>(input.data()), static_cast<std::streamsize>(input.size()));
        inflater.next_in = input.data();
        inflater.avail_in = static_cast<uInt>(in.gcount());
        if (inflater.avail_in == 0) break;
      }
      rc = inflate(&inflater, Z_NO_FLUSH);
      if (rc < 0 && rc != Z_BUF_ERROR) break;
    }
    const std::size_t n = piece.size() - inflater.avail_out;
    if (n == 0) break;
    fragmentBytes += static_cast<std::int64_t>(n);
    const auto start = TClock::now();
    const double cpuStart = ThreadCpuSeconds();
    deflater.next_in = piece.data();
    deflater.avail_in = static_cast<uInt>(n);
    while (deflater.avail_in > 0) {
      deflater.next_out = out.data();
      deflater.avail_out = static_cast<uInt>(out.size());
      deflate(&deflater, Z_NO_FLUSH);
    }
    spent += TClock::now() - start;
    cpu += ThreadCpuSeconds() - cpuStart;
  }
  inflateEnd(&inflater);
  deflateEnd(&deflater);
  if (cpuSeconds != nullptr) *cpuSeconds = cpu;
  return std::chrono::duration<double>(spent).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--read") {
    std::int64_t bytes = 0;
    const double rate = PlainRead(argv[2], &bytes);
    std::printf("%.0f %lld\n", rate, static_cast<long long>(bytes));
    return 0;
  }
  if (argc == 4 && std::string(argv[1]) == "--zlib") {
    std::int64_t fragmentBytes = 0;
    double cpuSeconds = 0;
    const double seconds = DeflateFragmentsSeconds(argv[2], fragmentBytes, &cpuSeconds);
    if (fragmentBytes == 0) {
      std::fprintf(stderr, "No fragments in \"%s\"\n", argv[2]);
      return 1;
    }
    const auto sourceBytes = static_cast<double>(std::stoll(argv[3]));
    std::printf("%.0f %lld %.0f\n", sourceBytes / seconds / 1e6,
                static_cast<long long>(fragmentBytes), sourceBytes / cpuSeconds / 1e6);
    return 0;
  }
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  if ((argc == 4 || argc == 5) && std::string(argv[1]) == "--scan") {
    std::int64_t fragments = 0;
    const unsigned workers = argc == 5 ? static_cast<unsigned>(std::stoul(argv[4])) : cores;
    const double rate = Scan(argv[2], argv[3], fragments, workers);
    std::printf("%.0f %lld\n", rate, static_cast<long long>(fragments));
    return 0;
  }
  std::int64_t sizeMiB = 1024;
  unsigned workers = cores;
  std::string dir = std::filesystem::temp_directory_path().string();
  std::string database = QUILLON_SAMPLE_DATABASE;
  int repeat = 3;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--size") sizeMiB = std::stoll(argv[i + 1]);
    else if (option == "--dir") dir = argv[i + 1];
    else if (option == "--database") database = argv[i + 1];
    else if (option == "--repeat") repeat = std::stoi(argv[i + 1]);
    else if (option == "--workers") workers = static_cast<unsigned>(std::stoul(argv[i + 1]));
  }
  const std::int64_t size = sizeMiB * 1024 * 1024;

  std::ifstream in(database, std::ios::binary);
  const std::vector<std::uint8_t> pages((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
  if (pages.empty()) {
    std::fprintf(stderr, "Cannot read the database \"%s\"\n", database.c_str());
    return 1;
  }
  const std::string sparsePath = dir + "/quillon-bench-no-candidates.img";
  const std::string densePath = dir + "/quillon-bench-dense.img";
  const std::string outPath = dir + "/quillon-bench.frag";
  std::printf("Generating two files of %lld MiB in %s ...\n", static_cast<long long>(sizeMiB),
              dir.c_str());
  WriteFile(sparsePath, size, RandomBytes(1 << 20));
  WriteFile(densePath, size, pages);

  std::printf("%u cores; the scan's writer uses %u workers\n", cores, workers);
  std::printf("%-28s %12s %12s %8s %12s\n", "file", "read MB/s", "scan MB/s", "ratio",
              "fragments");
  double denseScan = 0;
  double denseSingle = 0;
  for (const auto& [label, path] : {std::pair{"no candidates", sparsePath},
                                    std::pair{"dense database pages", densePath}}) {
    const bool dense = path == densePath;
    PlainRead(path);  // into the page cache, so both runs read from memory
    double bestRead = 0;
    double bestScan = 0;
    double bestSingle = 0;
    double cpuScan = 1e30;
    double cpuSingle = 1e30;
    std::int64_t fragments = 0;
    for (int r = 0; r < repeat; ++r) {
      bestRead = std::max(bestRead, PlainRead(path));
      bestScan = std::max(bestScan, Scan(path, outPath, fragments, workers));
      cpuScan = std::min(cpuScan, lastScanCpuSeconds);
      if (dense) {
        bestSingle = std::max(bestSingle, Scan(path, outPath, fragments, 1));
        cpuSingle = std::min(cpuSingle, lastScanCpuSeconds);
      }
    }
    if (dense) {
      std::printf("processor time of a dense scan: %.2f s with %u workers, %.2f s with one "
                  "thread (%.0f and %.0f MB of source per processor second)\n",
                  cpuScan, workers, cpuSingle, static_cast<double>(size) / cpuScan / 1e6,
                  static_cast<double>(size) / cpuSingle / 1e6);
    }
    std::printf("%-28s %12.0f %12.0f %8.2f %12lld\n", label, bestRead, bestScan,
                bestScan / bestRead, static_cast<long long>(fragments));
    if (dense) {
      std::printf("%-28s %12.0f %12.0f %8.2f\n", "dense, writer on one thread", bestRead,
                  bestSingle, bestSingle / bestRead);
      denseScan = bestScan;
      denseSingle = bestSingle;
    }
  }
  // The yardstick on the same fragments: one core's zlib level 1, as MB/s of the source
  // (the scan's unit), times the workers.
  std::int64_t fragmentBytes = 0;
  double zlibSeconds = 1e30;
  for (int r = 0; r < repeat; ++r) {
    zlibSeconds = std::min(zlibSeconds, DeflateFragmentsSeconds(outPath, fragmentBytes));
  }
  const double zlibOneCore = static_cast<double>(size) / zlibSeconds / 1e6;
  std::printf("zlib level 1 on the dense scan's %.0f MB of fragments, one core: %.0f MB/s of "
              "fragments, %.0f MB/s of source\n",
              static_cast<double>(fragmentBytes) / 1e6,
              static_cast<double>(fragmentBytes) / zlibSeconds / 1e6, zlibOneCore);
  std::printf("dense scan %.0f MB/s = %.2f x (%u x one-core zlib = %.0f MB/s); per worker "
              "%.0f MB/s; one thread %.0f MB/s = %.2f x one-core zlib\n",
              denseScan, denseScan / (workers * zlibOneCore), workers, workers * zlibOneCore,
              denseScan / workers, denseSingle, denseSingle / zlibOneCore);
  std::printf("%-28s %12s %12.0f\n", "zlib level 1 on the image", "", DeflateOnly(pages, size));
  const auto outSize = std::filesystem::file_size(outPath);
  std::printf("Dense fragment file: %.1f MiB\n", static_cast<double>(outSize) / (1 << 20));
  std::filesystem::remove(sparsePath);
  std::filesystem::remove(densePath);
  std::filesystem::remove(outPath);
  return 0;
}
