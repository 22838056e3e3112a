// quillon-make-image: builds a deterministic disk image around one or more Jet 4
// databases, as a scan would meet them on a used disk: the database's pages cut into
// runs, placed out of order between other data, some runs on 4096-byte boundaries and
// some only on 512-byte ones. Writes the image and a JSON map of where every run went.
//
// usage: quillon-make-image IMAGE LAYOUT.json DATABASE.mdb [DATABASE.mdb ...] [--seed N]

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kPage = 4096;
constexpr std::size_t kSector = 512;

// splitmix64: small, fast and the same on every platform.
class TRandom {
 public:
  explicit TRandom(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  std::size_t Below(std::size_t n) { return static_cast<std::size_t>(Next() % n); }

 private:
  std::uint64_t state_;
};

struct TRun {
  std::size_t Database;
  std::size_t FirstPage;
  std::size_t Pages;
  std::size_t Offset = 0;
};

// Other data: random bytes (compressed files), zeros (free space) or text.
void FillOtherData(std::vector<std::uint8_t>& image, std::size_t from, TRandom& random) {
  static const char kText[] = "The quick brown fox jumps over the lazy dog. 0123456789\r\n";
  for (std::size_t at = from; at < image.size(); at += 65536) {
    const std::size_t end = std::min(image.size(), at + 65536);
    const std::size_t kind = random.Below(3);
    for (std::size_t i = at; i < end; ++i) {
      image[i] = kind == 0 ? static_cast<std::uint8_t>(random.Next())
                 : kind == 1 ? 0
                             : static_cast<std::uint8_t>(kText[i % (sizeof kText - 1)]);
    }
  }
}

// Headers that begin like a data page but fail the candidate test at one condition each.
void PutDecoys(std::vector<std::uint8_t>& image, TRandom& random) {
  const std::uint8_t decoys[][16] = {
      {1, 1, 0x00, 0x20, 2, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0x00, 0x0F},  // free space 8192
      {1, 1, 0x10, 0x00, 0, 0x64, 0, 0, 0, 0, 0, 0, 1, 0, 0x00, 0x0F},  // owner 25600
      {1, 1, 0x10, 0x00, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x0F},  // no rows
      {1, 1, 0x10, 0x00, 2, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0x0F, 0x00},  // row offset 15
      {1, 2, 0x10, 0x00, 2, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0x00, 0x0F},  // second byte 2
  };
  for (int i = 0; i < 40; ++i) {
    const std::size_t at = random.Below(image.size() / kSector - 1) * kSector;
    const auto& decoy = decoys[i % std::size(decoys)];
    std::memcpy(image.data() + at, decoy, sizeof decoy);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> paths;
  std::uint64_t seed = 20261209;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--seed") == 0 && i + 1 < argc) {
      seed = std::stoull(argv[++i]);
    } else {
      paths.emplace_back(argv[i]);
    }
  }
  if (paths.size() < 3) {
    std::fprintf(stderr, "usage: quillon-make-image IMAGE LAYOUT.json DATABASE.mdb [...] [--seed N]\n");
    return 2;
  }
  const std::string imagePath = paths[0];
  const std::string layoutPath = paths[1];
  std::vector<std::string> databasePaths(paths.begin() + 2, paths.end());

  std::vector<std::vector<std::uint8_t>> databases;
  for (const std::string& path : databasePaths) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "Cannot read the database \"%s\"\n", path.c_str());
      return 1;
    }
    databases.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (databases.back().size() % kPage != 0) {
      std::fprintf(stderr, "\"%s\" is not a whole number of 4096-byte pages\n", path.c_str());
      return 1;
    }
  }

  TRandom random(seed);
  // Cut every database into runs of 1 to 24 pages; mix the runs of all databases and swap
  // some neighbours, as a fragmented file system leaves them.
  std::vector<TRun> runs;
  for (std::size_t d = 0; d < databases.size(); ++d) {
    const std::size_t pages = databases[d].size() / kPage;
    for (std::size_t page = 0; page < pages;) {
      const std::size_t length = std::min(pages - page, 1 + random.Below(24));
      runs.push_back({d, page, length});
      page += length;
    }
  }
  for (std::size_t i = 1; i < runs.size(); ++i) {
    if (random.Below(3) == 0) std::swap(runs[i - 1], runs[i]);
  }

  // Place the runs after 512 KiB of other data, with gaps; half of them on sector
  // boundaries that are not page boundaries.
  std::size_t cursor = 512 * 1024;
  for (TRun& run : runs) {
    cursor += random.Below(128) * kSector;
    cursor = (cursor + kSector - 1) / kSector * kSector;
    if (random.Below(2) == 0) {
      cursor = (cursor + kPage - 1) / kPage * kPage;
    } else if (cursor % kPage == 0) {
      cursor += kSector * (1 + random.Below(7));
    }
    run.Offset = cursor;
    cursor += run.Pages * kPage;
  }
  // Other data after the last run; the image ends off a chunk boundary.
  const std::size_t size = cursor + 300 * 1024 + 1000;

  std::vector<std::uint8_t> image(size);
  FillOtherData(image, 0, random);
  PutDecoys(image, random);
  for (const TRun& run : runs) {
    std::memcpy(image.data() + run.Offset, databases[run.Database].data() + run.FirstPage * kPage,
                run.Pages * kPage);
  }

  std::ofstream out(imagePath, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  if (!out) {
    std::fprintf(stderr, "Cannot write the image \"%s\"\n", imagePath.c_str());
    return 1;
  }

  std::ofstream layout(layoutPath, std::ios::trunc);
  layout << "{\n  \"image_size\": " << size << ",\n  \"seed\": " << seed << ",\n  \"databases\": [";
  for (std::size_t d = 0; d < databasePaths.size(); ++d) {
    const std::string name = databasePaths[d].substr(databasePaths[d].find_last_of('/') + 1);
    layout << (d ? ", " : "") << "\"" << name << "\"";
  }
  layout << "],\n  \"runs\": [\n";
  for (std::size_t i = 0; i < runs.size(); ++i) {
    layout << "    {\"database\": " << runs[i].Database << ", \"first_page\": " << runs[i].FirstPage
           << ", \"pages\": " << runs[i].Pages << ", \"offset\": " << runs[i].Offset << "}"
           << (i + 1 < runs.size() ? "," : "") << "\n";
  }
  layout << "  ]\n}\n";
  if (!layout) {
    std::fprintf(stderr, "Cannot write the layout \"%s\"\n", layoutPath.c_str());
    return 1;
  }
  std::printf("%s: %zu bytes, %zu runs of database pages\n", imagePath.c_str(), size, runs.size());
  return 0;
}
