// The writer's exact bytes, its write pattern and its failures.

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "core/errors.h"
#include "core/fragment_file_writer.h"
#include "support/memory_file_system.h"
#include "support/zlib_helpers.h"

namespace quillon {
namespace {

using testing::InflateStream;
using testing::TMemoryFileSystem;

using TFragment = std::array<std::uint8_t, kFragmentSize>;

TFragment RandomFragment(std::mt19937& random) {
  TFragment fragment;
  for (auto& byte : fragment) byte = static_cast<std::uint8_t>(random());
  return fragment;
}

std::uint64_t LoadLe(const std::vector<std::uint8_t>& data, std::size_t at, int bytes) {
  std::uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | data[at + i];
  return v;
}

class FragmentFileWriterTest : public ::testing::Test {
 protected:
  // Writes a whole file with the given fragments and returns its bytes.
  std::vector<std::uint8_t> WriteFile(const std::vector<TFragment>& fragments,
                                      const std::string& sourcePath = "/images/disk.img",
                                      std::int64_t sourceLength = 123456789,
                                      unsigned workers = 1) {
    TFragmentFileWriter writer(fs_, workers);
    writer.Create("/out.frag");
    writer.WriteHeader(sourcePath, sourceLength);
    for (const TFragment& f : fragments) writer.AddFragment(f);
    writer.Finish();
    writer.Close();
    return fs_.Find("/out.frag")->Data;
  }

  TMemoryFileSystem fs_;
};

TEST_F(FragmentFileWriterTest, EmptyRunIsExactly528Bytes) {
  const auto data = WriteFile({});
  ASSERT_EQ(data.size(), 528u);
  const std::vector<std::uint8_t> tail(data.begin() + 512, data.end());
  const std::vector<std::uint8_t> expected = {0x78, 0x01, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01,
                                              0,    0,    0,    0,    'T',  'E',  'M',  'P'};
  EXPECT_EQ(tail, expected);
}

TEST_F(FragmentFileWriterTest, HeaderBytes) {
  const auto data = WriteFile({}, "/images/disk.img", 0x0102030405060708);
  const std::uint8_t start[] = {7, 'r', 'e', 'c', 'o', 'v', 'e', 'r', 3, 'A', 'E', 'S',
                                0, 5,   'f', 'i', 'x', 'F', 'I'};
  EXPECT_EQ(std::memcmp(data.data(), start, sizeof start), 0);
  EXPECT_EQ(LoadLe(data, 23, 8), 0x0102030405060708u);
  for (std::size_t at : {19u, 20u, 21u, 22u}) EXPECT_EQ(data[at], 0) << at;
  for (std::size_t at = 31; at < 55; ++at) {
    EXPECT_EQ(data[at], at == 40 ? 0x02 : 0) << at;  // 00 02 00 00 at 39..42
  }
  const std::string path = "/images/disk.img";
  EXPECT_EQ(std::string(data.begin() + 55, data.begin() + 55 + path.size()), path);
  for (std::size_t at = 55 + path.size(); at < 512; ++at) EXPECT_EQ(data[at], 0) << at;
  EXPECT_EQ(data[512], 0x78);
  EXPECT_EQ(data[513], 0x01);
}

TEST_F(FragmentFileWriterTest, SourcePathOf457BytesFillsTheHeaderAndLongerIsRefused) {
  const std::string longest(457, 'p');
  const auto data = WriteFile({}, longest);
  EXPECT_EQ(std::string(data.begin() + 55, data.begin() + 512), longest);
  EXPECT_EQ(data[512], 0x78);

  TFragmentFileWriter writer(fs_);
  writer.Create("/too-long.frag");
  EXPECT_THROW(writer.WriteHeader(std::string(458, 'p'), 0), EQuillonError);
  EXPECT_TRUE(fs_.Find("/too-long.frag.partial")->WriteSizes.empty());
}

TEST_F(FragmentFileWriterTest, BodyInflatesToTheFragmentsInOrder) {
  std::mt19937 random(7);
  std::vector<TFragment> fragments;
  for (int i = 0; i < 40; ++i) fragments.push_back(RandomFragment(random));
  fragments.push_back(fragments[3]);  // identical fragments are each stored
  const auto data = WriteFile(fragments);
  const auto body = InflateStream(data, 512);
  ASSERT_EQ(body.Content.size(), fragments.size() * kFragmentSize);
  for (std::size_t k = 0; k < fragments.size(); ++k) {
    EXPECT_EQ(std::memcmp(body.Content.data() + k * kFragmentSize, fragments[k].data(),
                          kFragmentSize),
              0)
        << k;
  }
}

TEST_F(FragmentFileWriterTest, TrailerPadsEveryBodyLengthToAMultipleOfFour) {
  std::mt19937 random(11);
  std::vector<TFragment> fragments;
  bool seen[4] = {};
  for (int round = 0; round < 64 && !(seen[0] && seen[1] && seen[2] && seen[3]); ++round) {
    // Fragments of mixed compressibility give bodies of every length mod 4.
    TFragment fragment = {};
    const int randomBytes = static_cast<int>(random() % 4096);
    for (int i = 0; i < randomBytes; ++i) fragment[i] = static_cast<std::uint8_t>(random());
    fragments.push_back(fragment);
    const auto data = WriteFile(fragments);
    const std::size_t body = InflateStream(data, 512).CompressedLength;
    seen[body % 4] = true;
    const std::size_t pad = (4 - (516 + body) % 4) % 4;
    ASSERT_EQ(data.size(), 520 + body + pad);
    EXPECT_EQ(data.size() % 4, 0u);
    for (std::size_t at = 512 + body; at < data.size() - 4; ++at) EXPECT_EQ(data[at], 0);
    EXPECT_EQ(std::string(data.end() - 4, data.end()), "TEMP");
  }
  EXPECT_TRUE(seen[0] && seen[1] && seen[2] && seen[3]);
}

TEST_F(FragmentFileWriterTest, OutputReachesTheFileOnlyInWholeBuffersUntilFinish) {
  std::mt19937 random(3);
  TFragmentFileWriter writer(fs_);
  writer.Create("/out.frag");
  writer.WriteHeader("/src", 1);
  const auto file = fs_.Find("/out.frag.partial");
  for (int i = 0; i < 100; ++i) writer.AddFragment(RandomFragment(random));  // ~400 KiB
  ASSERT_GE(file->WriteSizes.size(), 2u);
  EXPECT_EQ(file->WriteSizes[0], 512u);
  for (std::size_t i = 1; i < file->WriteSizes.size(); ++i) EXPECT_EQ(file->WriteSizes[i], 65536u);
  const std::size_t beforeFinish = file->WriteSizes.size();
  writer.Finish();
  EXPECT_GT(file->WriteSizes.size(), beforeFinish);
  for (std::size_t i = beforeFinish; i < file->WriteSizes.size(); ++i) {
    EXPECT_LE(file->WriteSizes[i], 65536u);
  }
}

TEST_F(FragmentFileWriterTest, FailedBodyWriteRaisesAndCloseAddsNothing) {
  std::mt19937 random(5);
  TFragmentFileWriter writer(fs_);
  writer.Create("/out.frag");
  const auto file = fs_.Find("/out.frag.partial");
  file->WriteLimit = 512 + 65536 + 100;  // the second body write falls short
  writer.WriteHeader("/src", 1);
  try {
    for (int i = 0; i < 100; ++i) writer.AddFragment(RandomFragment(random));
    FAIL() << "no write error";
  } catch (const EQuillonError& error) {
    EXPECT_STREQ(error.what(), "Stream write error");
  }
  const std::size_t writes = file->WriteSizes.size();
  writer.Close();
  EXPECT_EQ(file->WriteSizes.size(), writes);
  EXPECT_NE(std::string(file->Data.end() - 4, file->Data.end()), "TEMP");
}

TEST_F(FragmentFileWriterTest, FailedHeaderOrTrailerWriteRaisesToo) {
  TFragmentFileWriter writer(fs_);
  writer.Create("/header.frag");
  fs_.Find("/header.frag.partial")->WriteLimit = 100;
  try {
    writer.WriteHeader("/src", 1);
    FAIL() << "a short header write passed";
  } catch (const EQuillonError& error) {
    EXPECT_STREQ(error.what(), "Stream write error");
  }
  writer.Close();

  TFragmentFileWriter second(fs_);
  second.Create("/trailer.frag");
  fs_.Find("/trailer.frag.partial")->WriteLimit = 512 + 8 + 2;  // body fits, trailer does not
  second.WriteHeader("/src", 1);
  try {
    second.Finish();
    FAIL() << "a short trailer write passed";
  } catch (const EQuillonError& error) {
    EXPECT_STREQ(error.what(), "Stream write error");
  }
}

// An existing file is replaced only by a complete one: until Close after Finish it is
// untouched; a failed run leaves it as it was and keeps its own bytes as NAME.partial; a
// second writer on the same output cannot start, and a file changed meanwhile is not
// replaced.
TEST_F(FragmentFileWriterTest, AnExistingFileIsReplacedOnlyByACompleteOne) {
  const std::vector<std::uint8_t> old(10000, 0xAA);
  fs_.Put("/out.frag", old);
  {
    TFragmentFileWriter writer(fs_);
    writer.Create("/out.frag");
    writer.WriteHeader("/src", 1);
    writer.AddFragment(TFragment{});
    EXPECT_EQ(fs_.Find("/out.frag")->Data, old);
    TFragmentFileWriter second(fs_);
    try {
      second.Create("/out.frag");
      FAIL() << "a second writer started on the same output";
    } catch (const EQuillonError& error) {
      EXPECT_NE(std::string(error.what()).find("/out.frag.partial"), std::string::npos);
    }
    writer.Finish();
    EXPECT_EQ(fs_.Find("/out.frag")->Data, old);  // still open: the message is on screen
    writer.Close();
  }
  const std::vector<std::uint8_t>& replaced = fs_.Find("/out.frag")->Data;
  EXPECT_EQ(std::string(replaced.end() - 4, replaced.end()), "TEMP");
  EXPECT_EQ(replaced[0], 7);
  EXPECT_EQ(fs_.Find("/out.frag.partial"), nullptr);

  const std::vector<std::uint8_t> good = fs_.Find("/out.frag")->Data;
  {
    TFragmentFileWriter failing(fs_);
    failing.Create("/out.frag");
    fs_.Find("/out.frag.partial")->WriteLimit = 100;
    try {
      failing.WriteHeader("/src", 1);
      FAIL() << "no write error";
    } catch (const EWriteError& error) {
      EXPECT_EQ(error.Path(), "/out.frag.partial");
      EXPECT_EQ(error.Reason(), "No space left on device");
    }
    failing.Close();
  }
  EXPECT_EQ(fs_.Find("/out.frag")->Data, good);
  ASSERT_NE(fs_.Find("/out.frag.partial"), nullptr);
  EXPECT_EQ(fs_.Find("/out.frag.partial")->Data.size(), 100u);

  fs_.Remove("/out.frag.partial");
  TFragmentFileWriter overtaken(fs_);
  overtaken.Create("/out.frag");
  overtaken.WriteHeader("/src", 1);
  overtaken.Finish();
  fs_.Put("/out.frag", {1, 2, 3});  // another program wrote the output meanwhile
  EXPECT_THROW(overtaken.Close(), EQuillonError);
  EXPECT_EQ(fs_.Find("/out.frag")->Data, (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_EQ(fs_.Find("/out.frag.partial")->Data.size(), 528u);
}

// Fragments that compress like a disk's: runs of zeros, repeated pages, random bytes, and
// pages that repeat bytes from far back (beyond one block, inside the 32 KiB window).
std::vector<TFragment> MixedFragments(std::size_t count, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<TFragment> fragments;
  for (std::size_t i = 0; i < count; ++i) {
    TFragment fragment = {};
    switch (random() % 4) {
      case 0: break;
      case 1: fragment = RandomFragment(random); break;
      case 2:
        if (i > 0) fragment = fragments[i - 1 - random() % std::min<std::size_t>(i, 8)];
        break;
      default:
        for (std::size_t at = 0; at < kFragmentSize; ++at) {
          fragment[at] = static_cast<std::uint8_t>(at % 7 == 0 ? random() : at / 64);
        }
    }
    fragments.push_back(fragment);
  }
  return fragments;
}

// With workers the body is still one zlib stream of the same fragments in the same order,
// with a valid Adler-32, for counts that end a block exactly, just after and just before.
TEST_F(FragmentFileWriterTest, WorkersWriteOneStreamOfTheSameFragments) {
  const std::size_t perBlock = TParallelDeflater::kBlockSize / kFragmentSize;
  for (const std::size_t count :
       {std::size_t{0}, std::size_t{1}, perBlock - 1, perBlock, perBlock + 1, 9 * perBlock + 5}) {
    const auto fragments = MixedFragments(count, static_cast<unsigned>(count));
    for (const unsigned workers : {2u, 3u, 8u}) {
      const auto data = WriteFile(fragments, "/images/disk.img", 123456789, workers);
      const auto single = WriteFile(fragments);
      ASSERT_EQ(std::vector<std::uint8_t>(data.begin(), data.begin() + 514),
                std::vector<std::uint8_t>(single.begin(), single.begin() + 514));
      const auto body = InflateStream(data, 512);  // checks the Adler-32 and the end
      EXPECT_EQ(body.Content, InflateStream(single, 512).Content) << count << " " << workers;
      ASSERT_EQ(body.Content.size(), count * kFragmentSize);
      const std::size_t pad = (4 - (516 + body.CompressedLength) % 4) % 4;
      EXPECT_EQ(data.size(), 520 + body.CompressedLength + pad);
      EXPECT_EQ(std::string(data.end() - 4, data.end()), "TEMP");
      // Level 1 with each block primed by the 32 KiB before it: close to one thread's size.
      EXPECT_LE(data.size(), single.size() + single.size() / 50 + 64 * (count / perBlock + 1));
    }
  }
}

// Fragments the workers compress where they lie (held, as the scan hands over those inside
// its chunks) give the same bytes as copies do, in any mix with copied ones and from more
// places than a block holds; what was held is let go once written.
TEST_F(FragmentFileWriterTest, HeldFragmentsGiveTheSameBytesAsCopiesAndAreLetGo) {
  const std::size_t perBlock = TParallelDeflater::kBlockSize / kFragmentSize;
  const std::size_t count = 7 * perBlock + 9;
  const auto fragments = MixedFragments(count, 28);
  // "Chunks" of 16 fragments in memory the writer may hold: a block spans more of them than
  // it holds, so the last ones of a block are copied.
  constexpr std::size_t kPerChunk = 16;
  std::vector<std::shared_ptr<std::vector<std::uint8_t>>> chunks;
  for (std::size_t i = 0; i < count; i += kPerChunk) {
    auto chunk = std::make_shared<std::vector<std::uint8_t>>();
    for (std::size_t k = i; k < std::min(count, i + kPerChunk); ++k) {
      chunk->insert(chunk->end(), fragments[k].begin(), fragments[k].end());
    }
    chunks.push_back(chunk);
  }
  // Every page in order, a fifth of them handed over as copies; in every third chunk only
  // every other page, so that the pieces of a chunk are cut as well as joined.
  struct TAdded {
    std::size_t Chunk;
    std::size_t Page;
    bool Copy;
  };
  std::mt19937 random(3);
  std::vector<TAdded> order;
  for (std::size_t c = 0; c < chunks.size(); ++c) {
    for (std::size_t p = 0; p < chunks[c]->size() / kFragmentSize; ++p) {
      if (c % 3 == 2 && p % 2 == 1) continue;
      order.push_back({c, p, random() % 5 == 0});
    }
  }
  for (const unsigned workers : {2u, 3u}) {
    for (const bool held : {false, true}) {
      TFragmentFileWriter writer(fs_, workers);
      writer.Create(held ? "/held.frag" : "/copied.frag");
      writer.WriteHeader("/images/disk.img", 123456789);
      for (const TAdded& one : order) {
        const std::span<const std::uint8_t, kFragmentSize> page(
            chunks[one.Chunk]->data() + one.Page * kFragmentSize, kFragmentSize);
        if (held && !one.Copy) {
          writer.AddFragment(page, chunks[one.Chunk]);
        } else {
          TFragment copy;
          std::copy(page.begin(), page.end(), copy.begin());
          writer.AddFragment(copy);
        }
      }
      writer.Finish();
      writer.Close();
    }
    EXPECT_EQ(fs_.Find("/held.frag")->Data, fs_.Find("/copied.frag")->Data) << workers;
    for (const auto& chunk : chunks) EXPECT_EQ(chunk.use_count(), 1);
    fs_.Remove("/held.frag");
    fs_.Remove("/copied.frag");
  }
}

TEST_F(FragmentFileWriterTest, WorkersWriteWholeBuffersAndBoundWhatIsInFlight) {
  TFragmentFileWriter writer(fs_, 2);
  writer.Create("/out.frag");
  writer.WriteHeader("/src", 1);
  const auto file = fs_.Find("/out.frag.partial");
  std::mt19937 random(9);
  // Random bytes do not shrink: with at most two blocks per worker in flight and one being
  // filled, the rest of 24 MiB has reached the file before Finish.
  const int count = 6144;
  for (int i = 0; i < count; ++i) writer.AddFragment(RandomFragment(random));
  EXPECT_GE(file->Data.size(), count * kFragmentSize - 5 * TParallelDeflater::kBlockSize);
  for (std::size_t i = 1; i < file->WriteSizes.size(); ++i) EXPECT_EQ(file->WriteSizes[i], 65536u);
  writer.Finish();
  writer.Close();
  EXPECT_EQ(InflateStream(fs_.Find("/out.frag")->Data, 512).Content.size(), count * kFragmentSize);
}

// A write that fails while the workers run surfaces as the write error; nothing is written
// after it and the partial file stays incomplete.
TEST_F(FragmentFileWriterTest, WorkersReportAFailedWriteAndCloseAddsNothing) {
  std::mt19937 random(5);
  TFragmentFileWriter writer(fs_, 2);
  writer.Create("/out.frag");
  const auto file = fs_.Find("/out.frag.partial");
  file->WriteLimit = 512 + 65536 + 100;
  writer.WriteHeader("/src", 1);
  try {
    for (int i = 0; i < 1000; ++i) writer.AddFragment(RandomFragment(random));
    writer.Finish();
    FAIL() << "no write error";
  } catch (const EWriteError& error) {
    EXPECT_EQ(error.Path(), "/out.frag.partial");
  }
  const std::size_t writes = file->WriteSizes.size();
  writer.Close();
  EXPECT_EQ(file->WriteSizes.size(), writes);
  EXPECT_NE(std::string(file->Data.end() - 4, file->Data.end()), "TEMP");
  EXPECT_EQ(fs_.Find("/out.frag"), nullptr);
}

}  // namespace
}  // namespace quillon
