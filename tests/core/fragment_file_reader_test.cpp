// Reading a fragment file back: complete, cut short, and damaged files.

#include <gtest/gtest.h>

#include <random>

#include "core/fragment_file_reader.h"
#include "core/fragment_file_writer.h"
#include "support/memory_file_system.h"

namespace quillon {
namespace {

using testing::TMemoryFileSystem;

class FragmentFileReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::mt19937 random(1);
    TFragmentFileWriter writer(fs_);
    writer.Create("/good.frag");
    writer.WriteHeader("/images/card.img", 987654321);
    for (int i = 0; i < 30; ++i) {
      std::array<std::uint8_t, kFragmentSize> fragment{};
      fragment[0] = static_cast<std::uint8_t>(i);
      for (int k = 1; k < 2000; ++k) fragment[k] = static_cast<std::uint8_t>(random());
      writer.AddFragment(fragment);
    }
    writer.Finish();
    writer.Close();
    good_ = fs_.Find("/good.frag")->Data;
  }

  TFragmentFileReport Read(const std::vector<std::uint8_t>& bytes,
                           const TFragmentVisitor& visitor = {}) {
    fs_.Put("/file", bytes);
    return ReadFragmentFile(*fs_.Open("/file", TOpenMode::ReadShared), visitor);
  }

  TMemoryFileSystem fs_;
  std::vector<std::uint8_t> good_;
};

TEST_F(FragmentFileReaderTest, CompleteFileGivesHeaderAndEveryFragment) {
  std::vector<int> firstBytes;
  const auto report = Read(good_, [&](std::uint64_t index, auto fragment) {
    EXPECT_EQ(index, firstBytes.size());
    firstBytes.push_back(fragment[0]);
  });
  EXPECT_EQ(report.State, TFragmentFileState::Complete) << report.Problem;
  EXPECT_EQ(report.SourcePath, "/images/card.img");
  EXPECT_EQ(report.SourceLength, 987654321);
  EXPECT_EQ(report.Fragments, 30u);
  EXPECT_TRUE(report.TrailerValid);
  EXPECT_EQ(report.FileLength, good_.size());
  ASSERT_EQ(firstBytes.size(), 30u);
  EXPECT_EQ(firstBytes[29], 29);
}

TEST_F(FragmentFileReaderTest, EmptyRunIsComplete) {
  TFragmentFileWriter writer(fs_);
  writer.Create("/empty.frag");
  writer.WriteHeader(std::string(457, 'x'), 0);
  writer.Finish();
  writer.Close();
  const auto report = Read(fs_.Find("/empty.frag")->Data);
  EXPECT_EQ(report.State, TFragmentFileState::Complete);
  EXPECT_EQ(report.Fragments, 0u);
  EXPECT_EQ(report.SourcePath, std::string(457, 'x'));
}

TEST_F(FragmentFileReaderTest, CutShortFilesAreIncomplete) {
  for (std::size_t cut : {std::size_t{300}, std::size_t{600}, good_.size() / 2, good_.size() - 5,
                          good_.size() - 1}) {
    std::vector<std::uint8_t> bytes(good_.begin(), good_.begin() + static_cast<long>(cut));
    const auto report = Read(bytes);
    EXPECT_EQ(report.State, TFragmentFileState::Incomplete) << cut << ": " << report.Problem;
    EXPECT_FALSE(report.Problem.empty());
  }
}

TEST_F(FragmentFileReaderTest, DamagedFilesAreCorrupt) {
  auto damaged = good_;
  damaged[0] = 8;  // signature
  EXPECT_EQ(Read(damaged).State, TFragmentFileState::Corrupt);

  damaged = good_;
  damaged[40] = 3;  // the constant 512 at offset 39
  EXPECT_EQ(Read(damaged).State, TFragmentFileState::Corrupt);

  damaged = good_;
  damaged[good_.size() / 2] ^= 0x55;  // inside the body: bad data or a wrong Adler-32
  EXPECT_EQ(Read(damaged).State, TFragmentFileState::Corrupt);

  damaged = good_;
  damaged[damaged.size() - 1] = 'Q';  // "TEMQ"
  EXPECT_EQ(Read(damaged).State, TFragmentFileState::Corrupt);

  damaged = good_;
  damaged[damaged.size() - 6] = 1;  // a trailer zero byte
  EXPECT_EQ(Read(damaged).State, TFragmentFileState::Corrupt);

  damaged = good_;
  damaged.insert(damaged.end(), {0, 0, 0, 0});  // bytes after the trailer
  EXPECT_EQ(Read(damaged).State, TFragmentFileState::Corrupt);

  // More bytes after the trailer than one read takes in: all of them are counted.
  damaged = good_;
  damaged.resize(damaged.size() + 100000, 0xEE);
  const auto report = Read(damaged);
  EXPECT_EQ(report.State, TFragmentFileState::Corrupt);
  EXPECT_EQ(report.Problem, "100000 unexpected bytes after the trailer");

  // An empty file is what a scan leaves that wrote nothing at all: said as such.
  EXPECT_EQ(Read({}).State, TFragmentFileState::Incomplete);
  EXPECT_EQ(Read({}).Problem.rfind("empty (0 bytes)", 0), 0u) << Read({}).Problem;
}

// What the reader says must be the fault it found: an odd-sized body does not make a sound
// trailer invalid, and a medium that fails to deliver the file is not a scan that did not
// finish.
TEST_F(FragmentFileReaderTest, OddBodyKeepsItsValidTrailerAndReadErrorsNameTheirOffset) {
  // Not a whole fragment: the writer takes only whole ones, so the body is built by hand.
  std::vector<std::uint8_t> odd(good_.begin(), good_.begin() + kHeaderSize);
  std::vector<std::uint8_t> content(5000, 0x11);
  uLongf size = compressBound(content.size());
  std::vector<std::uint8_t> body(size);
  ASSERT_EQ(compress2(body.data(), &size, content.data(), content.size(), 1), Z_OK);
  odd.insert(odd.end(), body.begin(), body.begin() + static_cast<std::ptrdiff_t>(size));
  odd.insert(odd.end(), 4 + TrailerPadFor(odd.size() + 4), 0);
  odd.insert(odd.end(), {'T', 'E', 'M', 'P'});
  const auto oddReport = Read(odd);
  EXPECT_EQ(oddReport.State, TFragmentFileState::Corrupt);
  EXPECT_TRUE(oddReport.TrailerValid) << oddReport.Problem;
  EXPECT_EQ(oddReport.Problem, "the body holds 904 bytes beyond its last whole 4096-byte fragment");

  const auto bad = fs_.Put("/file", good_);
  bad->BadRanges.push_back({10240, 512});
  bad->PartialBeforeBad = true;
  const auto unreadable = ReadFragmentFile(*fs_.Open("/file", TOpenMode::ReadShared));
  EXPECT_EQ(unreadable.State, TFragmentFileState::Unreadable);
  EXPECT_EQ(unreadable.Problem, "the file could not be read at offset 10240: Input/output error");
  EXPECT_EQ(unreadable.Problem.find("did not finish"), std::string::npos);
}

}  // namespace
}  // namespace quillon
