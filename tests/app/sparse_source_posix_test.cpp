// A sparse disk image of 3 TiB, as imaging tools leave unread areas: databases beyond
// 2 TiB (beyond 2^32 sectors of 512 bytes), a page whose 4096 bytes run into a hole, and a
// page in the file's last 4095 bytes. Scanned through the real file system in seconds.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "app/main_form.h"
#include "core/chunk_loop.h"
#include "core/fragment_file_reader.h"
#include "storage/file_system.h"
#include "support/fake_device_queries.h"
#include "support/scripted_view.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kTiB = std::int64_t{1} << 40;
constexpr std::int64_t kImageSize = 3 * kTiB;

std::vector<std::uint8_t> Database() {
  std::ifstream in(QUILLON_SAMPLES_DIR "/sample-jet4-small.mdb", std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The candidate pages of the database, from its manifest (written by an independent tool).
std::vector<int> CandidatePages() {
  std::ifstream in(QUILLON_SAMPLES_DIR "/sample-jet4-small.mdb.manifest.json");
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  const std::size_t start = text.find('[', text.find("\"candidate_pages\""));
  const std::size_t end = text.find(']', start);
  std::vector<int> pages;
  std::string number;
  for (std::size_t i = start + 1; i <= end; ++i) {
    if (std::isdigit(static_cast<unsigned char>(text[i]))) {
      number += text[i];
    } else if (!number.empty()) {
      pages.push_back(std::stoi(number));
      number.clear();
    }
  }
  return pages;
}

TEST(SparseSource, ThreeTebibytesScanInSecondsWithEveryPlantedPage) {
  const fs::path dir = fs::temp_directory_path() / ("quillon-sparse-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  struct TCleanup {
    fs::path Dir;
    ~TCleanup() { fs::remove_all(Dir); }
  } cleanup{dir};
  const std::string image = (dir / "disk.img").string();
  const std::string output = (dir / "disk.frag").string();

  const int fd = ::open(image.c_str(), O_CREAT | O_RDWR | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  if (::ftruncate(fd, kImageSize) != 0) {
    ::close(fd);
    GTEST_SKIP() << "this file system cannot hold a sparse file of 3 TiB";
  }
  // Every byte written, by offset: the image is zeros everywhere else.
  std::map<std::int64_t, std::vector<std::uint8_t>> planted;
  const auto plant = [&](std::int64_t at, std::vector<std::uint8_t> bytes) {
    ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), at), static_cast<ssize_t>(bytes.size()));
    planted[at] = std::move(bytes);
  };
  const std::vector<std::uint8_t> database = Database();
  const std::vector<std::uint8_t> dataPage(database.begin() + 4096, database.begin() + 8192);
  const std::int64_t beyondTwoTiB = 2 * kTiB + 7 * 512;  // sector 2^32 + 7, not 4096-aligned
  const std::int64_t farther = 2 * kTiB + 300 * (std::int64_t{1} << 30) + 4096;
  plant(beyondTwoTiB, database);
  plant(farther, database);
  // Half a page before a hole: the fragment runs 2048 bytes into it.
  const std::int64_t straddling = kTiB + 64 * 4096 - 2048;
  plant(straddling, std::vector<std::uint8_t>(dataPage.begin(), dataPage.begin() + 2048));
  // In the last 4095 bytes: the fragment runs 2560 bytes past the end.
  const std::int64_t atTheEnd = kImageSize - 1536;
  plant(atTheEnd, std::vector<std::uint8_t>(dataPage.begin(), dataPage.begin() + 1536));
  ::close(fd);

  // The full read's fragments: each candidate page's 4096 bytes, zeros where nothing was
  // written and past the end.
  const auto bytesAt = [&](std::int64_t at) {
    std::vector<std::uint8_t> page(kFragmentSize, 0);
    for (const auto& [where, bytes] : planted) {
      for (std::int64_t i = 0; i < static_cast<std::int64_t>(kFragmentSize); ++i) {
        const std::int64_t source = at + i - where;
        if (source >= 0 && source < static_cast<std::int64_t>(bytes.size())) page[i] = bytes[source];
      }
    }
    return page;
  };
  std::vector<std::int64_t> expectedOffsets = {straddling};
  for (const std::int64_t base : {beyondTwoTiB, farther}) {
    for (const int page : CandidatePages()) expectedOffsets.push_back(base + page * 4096);
  }
  expectedOffsets.push_back(atTheEnd);

  const std::unique_ptr<IFileSystem> files = MakePlatformFileSystem();
  testing::TScriptedView view;
  testing::TFakeDeviceQueries devices;
  TMain main(view, *files, devices);
  std::vector<std::int64_t> offsets;
  main.SetFragmentObserver([&](std::int64_t, std::int64_t offset,
                               std::span<const std::uint8_t, kFragmentSize>) {
    offsets.push_back(offset);
  });
  main.Source.SetText(image);
  main.Destination.SetText(output);
  ASSERT_EQ(main.SourceSize, kImageSize);
  const auto started = std::chrono::steady_clock::now();
  main.button2Click();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  EXPECT_EQ(main.LastScan().End, TScanEnd::Completed);
  EXPECT_EQ(main.LastScan().BytesScanned, kImageSize);
  EXPECT_LT(seconds, 30.0) << "the holes must be skipped, not read";
  EXPECT_EQ(offsets, expectedOffsets);

  const std::unique_ptr<TStream> file = files->Open(output, TOpenMode::ReadShared);
  std::vector<std::vector<std::uint8_t>> fragments;
  const TFragmentFileReport report =
      ReadFragmentFile(*file, [&](std::uint64_t, std::span<const std::uint8_t, kFragmentSize> f) {
        fragments.emplace_back(f.begin(), f.end());
      });
  EXPECT_EQ(report.State, TFragmentFileState::Complete) << report.Problem;
  EXPECT_EQ(report.SourceLength, kImageSize);
  ASSERT_EQ(fragments.size(), expectedOffsets.size());
  for (std::size_t k = 0; k < fragments.size(); ++k) {
    EXPECT_TRUE(fragments[k] == bytesAt(expectedOffsets[k])) << "fragment " << k;
  }

  // The gauge counts 2 KiB units above 2 TiB, so that its range fits 32 bits and still
  // ends at the source's end; the last chunk read shows as 99%, then the reset.
  const std::int64_t unit = GaugeUnitFor(kImageSize);
  EXPECT_EQ(unit, 2048);
  EXPECT_EQ(main.gg().Max(), kImageSize / unit);
  const std::vector<int>& shown = view.GaugePositions;
  ASSERT_GE(shown.size(), 3u);
  EXPECT_TRUE(std::is_sorted(shown.begin(), shown.end() - 1));
  EXPECT_EQ(shown[shown.size() - 2], (kImageSize - kChunkSize) / unit);
  TGauge full = main.gg();
  full.SetPosition(static_cast<std::int32_t>(kImageSize / unit));
  EXPECT_EQ(full.Percent(), 100);
}

}  // namespace
}  // namespace quillon
