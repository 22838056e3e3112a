// quillon-bench: how fast a scan runs next to a plain sequential read of the same file.
//
// Builds two files of the given size (default 1024 MiB): one with no candidate page
// (random bytes) and one dense with database pages (the bundled sample database repeated).
// For each it times a plain read in 256 KiB preads into a page-aligned buffer and a whole
// scan through the program's chunk loop, fragment writer and POSIX file system, and prints
// MB/s and the ratio. Files are read once before timing, so both see the page cache.
//
// usage: quillon-bench [--size MiB] [--dir DIR] [--database FILE.mdb] [--repeat N]
//        quillon-bench --read FILE      the plain read alone, on one file: "<MB/s> <bytes>"
//                                       (bench/compare.sh uses it next to other programs)

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
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

double Scan(const std::string& path, const std::string& output, std::int64_t& fragments) {
  auto files = MakePlatformFileSystem();
  const auto start = TClock::now();
  auto source = files->Open(path, TOpenMode::ReadShared);
  TFragmentFileWriter writer(*files);
  writer.Create(output);
  const std::int64_t length = source->Length();
  writer.WriteHeader(path, length);
  TQuietHost host(length);
  fragments = RunChunkLoop(host, *source, length, writer).Fragments;
  writer.Finish();
  writer.Close();
  const double seconds = std::chrono::duration<double>(TClock::now() - start).count();
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

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--read") {
    std::int64_t bytes = 0;
    const double rate = PlainRead(argv[2], &bytes);
    std::printf("%.0f %lld\n", rate, static_cast<long long>(bytes));
    return 0;
  }
  std::int64_t sizeMiB = 1024;
  std::string dir = std::filesystem::temp_directory_path().string();
  std::string database = QUILLON_SAMPLE_DATABASE;
  int repeat = 3;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--size") sizeMiB = std::stoll(argv[i + 1]);
    else if (option == "--dir") dir = argv[i + 1];
    else if (option == "--database") database = argv[i + 1];
    else if (option == "--repeat") repeat = std::stoi(argv[i + 1]);
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

  std::printf("%-24s %12s %12s %8s %12s\n", "file", "read MB/s", "scan MB/s", "ratio", "fragments");
  for (const auto& [label, path] : {std::pair{"no candidates", sparsePath},
                                    std::pair{"dense database pages", densePath}}) {
    PlainRead(path);  // into the page cache, so both runs read from memory
    double bestRead = 0;
    double bestScan = 0;
    std::int64_t fragments = 0;
    for (int r = 0; r < repeat; ++r) {
      bestRead = std::max(bestRead, PlainRead(path));
      bestScan = std::max(bestScan, Scan(path, outPath, fragments));
    }
    std::printf("%-24s %12.0f %12.0f %8.2f %12lld\n", label, bestRead, bestScan,
                bestScan / bestRead, static_cast<long long>(fragments));
  }
  std::printf("%-24s %12s %12.0f\n", "zlib level 1 alone", "", DeflateOnly(pages, size));
  const auto outSize = std::filesystem::file_size(outPath);
  std::printf("Dense fragment file: %.1f MiB\n", static_cast<double>(outSize) / (1 << 20));
  std::filesystem::remove(sparsePath);
  std::filesystem::remove(densePath);
  std::filesystem::remove(outPath);
  return 0;
}
