// Files through the POSIX layer: open and create errors, sharing as the program needs it,
// and the stream calls.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "core/errors.h"
#include "storage/file_system.h"
#include "storage/run_lock.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

class PosixFileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("quillon-storage-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string MakeFile(const std::string& name, const std::string& content) {
    const auto path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  static std::string ErrorOf(const std::function<void()>& action) {
    try {
      action();
    } catch (const EQuillonError& error) {
      return error.what();
    }
    return "";
  }

  fs::path dir_;
  std::unique_ptr<IFileSystem> files_ = MakePlatformFileSystem();
};

TEST_F(PosixFileSystemTest, OpenAndCreateErrorsNameTheFullPathAndTheCause) {
  const auto missing = (dir_ / "missing.img").string();
  EXPECT_EQ(ErrorOf([&] { files_->Open(missing, TOpenMode::ReadShared); }),
            "Cannot open file \"" + missing + "\". " + std::strerror(ENOENT));

  const auto noParent = (dir_ / "no" / "such" / "out.frag").string();
  EXPECT_EQ(ErrorOf([&] { files_->Open(noParent, TOpenMode::CreateExclusive); }),
            "Cannot create file \"" + noParent + "\". " + std::strerror(ENOENT));

  EXPECT_EQ(ErrorOf([&] { files_->Open(dir_.string(), TOpenMode::CreateExclusive); }),
            "Cannot create file \"" + dir_.string() + "\". " + std::strerror(EISDIR));
  EXPECT_EQ(ErrorOf([&] { files_->Open(dir_.string(), TOpenMode::ReadShared); }),
            "Cannot open file \"" + dir_.string() + "\". " + std::strerror(EISDIR));

  // A relative path is shown in full.
  const auto cwd = fs::current_path();
  fs::current_path(dir_);
  EXPECT_EQ(ErrorOf([&] { files_->Open("./sub/../gone.img", TOpenMode::ReadShared); }),
            "Cannot open file \"" + (dir_ / "gone.img").string() + "\". " + std::strerror(ENOENT));
  fs::current_path(cwd);
}

TEST_F(PosixFileSystemTest, TheOpenSourceCannotBeCreatedOverUnderAnyName) {
  const auto source = MakeFile("disk.img", std::string(10000, 'x'));
  const auto link = (dir_ / "link.img").string();
  const auto hardLink = (dir_ / "hard.img").string();
  fs::create_symlink(source, link);
  fs::create_hard_link(source, hardLink);
  const std::string dotted = (dir_ / "." / "disk.img").string();
  {
    auto open = files_->Open(source, TOpenMode::ReadShared);
    for (const std::string& name : {source, link, hardLink, dotted}) {
      const std::string error = ErrorOf([&] { files_->Open(name, TOpenMode::CreateExclusive); });
      EXPECT_EQ(error.rfind("Cannot create file \"", 0), 0u) << name << ": " << error;
      EXPECT_EQ(fs::file_size(source), 10000u) << name;
    }
    // Sharing for reading still works.
    EXPECT_NO_THROW(files_->Open(link, TOpenMode::ReadShared));
  }
  // Once the source is closed the path may be created over.
  EXPECT_NO_THROW(files_->Open(source, TOpenMode::CreateExclusive));
  EXPECT_EQ(fs::file_size(source), 0u);
}

TEST_F(PosixFileSystemTest, TheFileBeingWrittenCannotBeOpenedAsASource) {
  const auto out = (dir_ / "out.frag").string();
  auto writing = files_->Open(out, TOpenMode::CreateExclusive);
  EXPECT_EQ(ErrorOf([&] { files_->Open(out, TOpenMode::ReadShared); }).rfind("Cannot open file", 0),
            0u);
}

TEST_F(PosixFileSystemTest, StreamReadsWritesSeeksAndLength) {
  const auto path = MakeFile("data.bin", "0123456789");
  auto stream = files_->Open(path, TOpenMode::ReadShared);
  char buffer[16] = {};
  EXPECT_EQ(stream->Seek(4, TSeekOrigin::Begin), 4);
  EXPECT_EQ(stream->Length(), 10);
  EXPECT_EQ(stream->Seek(0, TSeekOrigin::Current), 4);  // the length restores the position
  EXPECT_EQ(stream->Read(buffer, 16), 6u);              // a short read at the end
  EXPECT_EQ(std::string(buffer, 6), "456789");
  EXPECT_EQ(stream->Read(buffer, 16), 0u);
  EXPECT_EQ(stream->Write("x", 1), 0u);  // a source is never written
  EXPECT_EQ(stream->Seek(-1, TSeekOrigin::Begin), -1);

  auto out = files_->Open((dir_ / "out.bin").string(), TOpenMode::CreateExclusive);
  EXPECT_EQ(out->Write("abc", 3), 3u);
  EXPECT_EQ(out->Length(), 3);
}

TEST_F(PosixFileSystemTest, ADiskDeviceIsNeverTheOutput) {
  // Any block device that opens will do: the refusal comes before anything is written.
  for (const char* node : {"/dev/loop0", "/dev/loop1", "/dev/ram0"}) {
    struct stat st {};
    if (::stat(node, &st) != 0 || !S_ISBLK(st.st_mode)) continue;
    const std::string error = ErrorOf([&] { files_->Open(node, TOpenMode::CreateExclusive); });
    if (error.find("disk or partition") == std::string::npos &&
        error.find("Cannot create file") == 0) {
      continue;  // the node does not open here (no rights, no such device)
    }
    EXPECT_EQ(error, std::string("Cannot create file \"") + node +
                         "\". It is a disk or partition device; the output must be a file");
    return;
  }
  GTEST_SKIP() << "no block device opens here";
}

TEST_F(PosixFileSystemTest, AFullDeviceWritesShort) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  auto full = files_->Open("/dev/full", TOpenMode::CreateExclusive);
  char block[512] = {};
  EXPECT_LT(full->Write(block, sizeof block), sizeof block);
}

TEST_F(PosixFileSystemTest, OutputsAreMadeNewAndNothingIsEverReachedThroughALink) {
  const std::string precious = MakeFile("precious.txt", "the only copy");
  fs::create_directories(dir_ / "user");
  MakeFile("user/thesis.docx", "thesis");
  fs::create_directories(dir_ / "out" / "db");
  MakeFile("out/db/T.csv", "table");
  fs::create_symlink(precious, dir_ / "out" / "planted.sqlite");
  fs::create_symlink(dir_ / "user", dir_ / "out" / "link");
  const std::string out = (dir_ / "out").string();

  // A create never goes through a link at the name, nor replaces what is there.
  EXPECT_THROW(files_->Open(out + "/planted.sqlite", TOpenMode::CreateNew), EQuillonError);
  EXPECT_THROW(files_->MoveNew(out + "/db/T.csv", out + "/planted.sqlite"), EQuillonError);
  EXPECT_THROW(files_->CreateNewFolder(out + "/db"), EQuillonError);

  // The folder as it is: links are named as links, never followed.
  const auto entries = files_->ListFolder(out);
  ASSERT_TRUE(entries.has_value());
  std::map<std::string, TFolderEntry> byName;
  for (const TFolderEntry& entry : *entries) byName[entry.Name] = entry;
  ASSERT_EQ(byName.size(), 3u);
  EXPECT_TRUE(byName["link"].IsLink);
  EXPECT_TRUE(byName["planted.sqlite"].IsLink);
  EXPECT_EQ(byName["db"].Kind, TPathKind::Directory);
  EXPECT_EQ(byName["db"].Identity, files_->Facts(out + "/db").Identity);
  EXPECT_FALSE(files_->ListFolder(out + "/db/T.csv").has_value());

  // Removal goes through no link; a link at the end goes itself.
  EXPECT_NE(ErrorOf([&] { files_->RemoveBelow(out, "link/thesis.docx", false); })
                .find("is a link or not a folder"),
            std::string::npos);
  EXPECT_TRUE(fs::exists(dir_ / "user" / "thesis.docx"));
  files_->RemoveBelow(out, "planted.sqlite", false);
  EXPECT_FALSE(fs::is_symlink(dir_ / "out" / "planted.sqlite"));
  EXPECT_TRUE(fs::exists(precious));
  EXPECT_NO_THROW(files_->RemoveBelow(out, "db/gone.csv", false));
  EXPECT_THROW(files_->RemoveBelow(out, "db", true), EQuillonError) << "not empty";
  files_->RemoveBelow(out, "db/T.csv", false);
  files_->RemoveBelow(out, "db", true);
  EXPECT_FALSE(fs::exists(dir_ / "out" / "db"));

  // A new folder is its owner's only, and made once.
  files_->CreateNewFolder(out + "/stage");
  EXPECT_EQ(fs::status(dir_ / "out" / "stage").permissions(), fs::perms::owner_all);
  files_->MoveNew(out + "/stage", out + "/moved");
  EXPECT_TRUE(fs::is_directory(dir_ / "out" / "moved"));
}

TEST_F(PosixFileSystemTest, ARunLockKeepsOutEveryOtherTakerAndItsFileGoesWithIt) {
  const auto path = (dir_ / "out.frag.lock").string();
  {
    const std::unique_ptr<TRunLock> first = files_->TryLock(path);
    ASSERT_NE(first, nullptr);
    // Another lock of this process is refused as another process's would be.
    EXPECT_EQ(files_->TryLock(path), nullptr);
    EXPECT_EQ(MakePlatformFileSystem()->TryLock(path), nullptr);
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), kRunLockText);
  }
  EXPECT_FALSE(fs::exists(path));
  EXPECT_NE(files_->TryLock(path), nullptr);
}

TEST_F(PosixFileSystemTest, AKilledHoldersLockFileStaysAndHoldsNobodyBack) {
  const auto path = (dir_ / "out.frag.lock").string();
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t holder = ::fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    const std::unique_ptr<TRunLock> lock = files_->TryLock(path);
    const char taken = lock ? 'y' : 'n';
    if (::write(ready[1], &taken, 1) != 1) ::_exit(2);
    ::pause();  // until the kill: nothing of this process lets go of the lock itself
    ::_exit(0);
  }
  char taken = 0;
  ASSERT_EQ(::read(ready[0], &taken, 1), 1);
  EXPECT_EQ(taken, 'y');
  EXPECT_EQ(files_->TryLock(path), nullptr);
  ::kill(holder, SIGKILL);
  ::waitpid(holder, nullptr, 0);
  ::close(ready[0]);
  ::close(ready[1]);
  EXPECT_TRUE(fs::exists(path));
  EXPECT_NE(files_->TryLock(path), nullptr);
  EXPECT_FALSE(fs::exists(path));
}

TEST_F(PosixFileSystemTest, ARunLockTakesOverAnEmptyFileButNoOtherFileOrLink) {
  // A power cut may leave the lock file empty: it is one of ours.
  const auto empty = MakeFile("empty.lock", "");
  EXPECT_NE(files_->TryLock(empty), nullptr);
  EXPECT_FALSE(fs::exists(empty));

  const auto foreign = MakeFile("notes.lock", "the user's own notes\n");
  const std::string error = ErrorOf([&] { files_->TryLock(foreign); });
  EXPECT_NE(error.find("Cannot lock \"" + foreign + "\""), std::string::npos) << error;
  EXPECT_NE(error.find("not a lock file"), std::string::npos) << error;
  std::ifstream in(foreign, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "the user's own notes\n");

  const auto link = (dir_ / "link.lock").string();
  fs::create_symlink(foreign, link);
  EXPECT_NE(ErrorOf([&] { files_->TryLock(link); }).find("Cannot lock"), std::string::npos);
  EXPECT_TRUE(fs::is_symlink(link));
}

}  // namespace
}  // namespace quillon
