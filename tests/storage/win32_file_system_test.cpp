// What only the Windows storage layer does, run under Wine with the code page of the
// locale it runs in (936 or 1252): ANSI paths from end to end, the sharing of the three
// open modes, the system's error boxes kept away, holes of sparse files.

#include <windows.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "app/main_form.h"
#include "core/fragment_file_reader.h"
#include "storage/file_system.h"
#include "storage/full_path.h"
#include "storage/run_lock.h"
#include "storage/system_error_mode.h"
#include "storage/win32_text.h"
#include "support/fake_device_queries.h"
#include "support/scripted_view.h"

namespace quillon {
namespace {

// A folder and file name in the system's code page: Chinese under 936, accented under the
// Western code pages. Given as UTF-8; the system holds them as ANSI bytes.
std::string LocalName() { return ::GetACP() == 936 ? "扫描测试" : "données été"; }

std::string AnsiOf(const std::wstring& wide) {
  const int length = ::WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string ansi(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, ansi.data(), length, nullptr, nullptr);
  ansi.pop_back();
  return ansi;
}

std::vector<std::uint8_t> SampleDatabase() {
  std::ifstream in(QUILLON_SAMPLES_DIR "/sample-jet4-small.mdb", std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class Win32FileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    dir_ = std::wstring(temp) + Utf8ToWide(LocalName() + " " + std::to_string(::GetCurrentProcessId()));
    ::CreateDirectoryW(dir_.c_str(), nullptr);
    // The image is written through the wide calls, so its name is the characters themselves.
    image_ = dir_ + L"\\" + Utf8ToWide(LocalName()) + L".img";
    const std::vector<std::uint8_t> database = SampleDatabase();
    std::vector<std::uint8_t> bytes(1 << 20, 0x33);
    bytes.insert(bytes.end(), database.begin(), database.end());
    const HANDLE file = ::CreateFileW(image_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
  }

  void TearDown() override {
    WIN32_FIND_DATAW found;
    const HANDLE search = ::FindFirstFileW((dir_ + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        ::DeleteFileW((dir_ + L"\\" + found.cFileName).c_str());
      } while (::FindNextFileW(search, &found));
      ::FindClose(search);
    }
    ::RemoveDirectoryW(dir_.c_str());
  }

  std::wstring dir_;
  std::wstring image_;
  std::unique_ptr<IFileSystem> files_ = MakePlatformFileSystem();
  testing::TScriptedView view_;
  testing::TFakeDeviceQueries devices_;
  TMain main_{view_, *files_, devices_};
};

TEST_F(Win32FileSystemTest, AScanOfALocalNameKeepsItsCodePageBytesFromEndToEnd) {
  const std::wstring output = dir_ + L"\\" + Utf8ToWide(LocalName()) + L" 结果.frag";
  const bool outputFits = ::GetACP() == 936;  // "结果" has no place in a Western code page

  // The window's dialogs give UTF-8 paths; the system gets its ANSI bytes.
  main_.Source.SetText(main_.SystemPath(WideToUtf8(image_)));
  EXPECT_EQ(main_.SourcePath, AnsiOf(image_));
  EXPECT_EQ(view_.Log.back(), "扫描存储介质: " + WideToUtf8(image_));
  if (!outputFits) {
    EXPECT_THROW(main_.SystemPath(WideToUtf8(output)), EQuillonError);
    return;
  }
  main_.Destination.SetText(main_.SystemPath(WideToUtf8(output)));
  main_.button2Click();

  EXPECT_NE(::GetFileAttributesW(output.c_str()), INVALID_FILE_ATTRIBUTES)
      << "the output exists under exactly its name";
  const std::unique_ptr<TStream> file = files_->Open(AnsiOf(output), TOpenMode::ReadShared);
  const TFragmentFileReport report = ReadFragmentFile(*file);
  EXPECT_EQ(report.State, TFragmentFileState::Complete) << report.Problem;
  EXPECT_EQ(report.SourcePath, FullPath(AnsiOf(image_)));  // the header holds the ANSI bytes
  EXPECT_EQ(report.Fragments, 71u);
}

TEST_F(Win32FileSystemTest, ErrorTextsShowTheNameAsItIs) {
  const std::wstring missing = dir_ + L"\\" + Utf8ToWide(LocalName()) + L" missing.img";
  try {
    files_->Open(AnsiOf(missing), TOpenMode::ReadShared);
    ADD_FAILURE() << "a missing file must not open";
  } catch (const EQuillonError& error) {
    const std::string text = error.what();
    EXPECT_EQ(text.rfind("Cannot open file \"" + WideToUtf8(missing) + "\". ", 0), 0u) << text;
  }
  // A character no ANSI code page holds is refused, never turned into '?'.
  EXPECT_FALSE(files_->FromDisplayText("\xF0\x9F\x98\x80.frag").has_value());
  EXPECT_EQ(files_->ToDisplayText(AnsiOf(image_)), WideToUtf8(image_));
}

TEST_F(Win32FileSystemTest, TheOutputIsNotSharedDuringAScanAndTheSourceIs) {
  const std::string image = AnsiOf(image_);
  const std::string output = AnsiOf(dir_ + L"\\shared.frag");
  std::vector<DWORD> outputOpen;
  std::vector<bool> sourceOpen;
  view_.OnProcessMessages = [&](int call) {
    if (call != 1) return;
    // Until it is complete the output is written beside its name, as NAME.partial.
    const HANDLE out = ::CreateFileA((output + ".partial").c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                     nullptr);
    outputOpen.push_back(out == INVALID_HANDLE_VALUE ? ::GetLastError() : 0);
    if (out != INVALID_HANDLE_VALUE) ::CloseHandle(out);
    try {
      files_->Open(image, TOpenMode::ReadShared);
      sourceOpen.push_back(true);
    } catch (const EQuillonError&) {
      sourceOpen.push_back(false);
    }
  };
  main_.Source.SetText(image);
  main_.Destination.SetText(output);
  main_.button2Click();
  EXPECT_EQ(outputOpen, std::vector<DWORD>{ERROR_SHARING_VIOLATION});
  EXPECT_EQ(sourceOpen, std::vector<bool>{true});

  // Nor can the output be created over the source while the source is open.
  const std::unique_ptr<TStream> source = files_->Open(image, TOpenMode::ReadShared);
  EXPECT_THROW(files_->Open(image, TOpenMode::CreateExclusive), EQuillonError);
}

TEST_F(Win32FileSystemTest, HolesOfASparseFileAreNeverSkippedPastData) {
  const std::wstring sparse = dir_ + L"\\sparse.img";
  const HANDLE file = ::CreateFileW(sparse.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD returned = 0;
  ::DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
  LARGE_INTEGER at;
  at.QuadPart = std::int64_t{3} << 30;
  ::SetFilePointerEx(file, at, nullptr, FILE_BEGIN);
  DWORD written = 0;
  ::WriteFile(file, "data", 4, &written, nullptr);
  ::CloseHandle(file);

  const std::unique_ptr<TStream> stream = files_->Open(AnsiOf(sparse), TOpenMode::ReadShared);
  const std::int64_t next = stream->NextDataOffset(0);
  // Where the system tells the allocated ranges, the hole is skipped up to its data; where
  // it does not, nothing is.
  EXPECT_TRUE(next == 0 || (next > 0 && next <= at.QuadPart)) << next;
  EXPECT_EQ(stream->ReadAlignment(), 1u);
  EXPECT_TRUE(files_->Open(AnsiOf(dir_ + L"\\flushed.frag"), TOpenMode::CreateExclusive)->Flush());
}

// Paths go into the code page Windows has, whichever it is, and come back the same:
// Simplified Chinese (936), Western (1252) and UTF-8 (65001, the region option "use Unicode
// UTF-8 for worldwide language support"), where Windows fails a conversion given the
// no-best-fit flag or a default-character pointer.
TEST(Win32RunLock, ASecondTakerIsRefusedUntilTheFirstGoesAndAForeignFileIsLeftAlone) {
  char temp[MAX_PATH];
  ASSERT_NE(::GetTempPathA(MAX_PATH, temp), 0u);
  const std::string path = std::string(temp) + "quillon-run-lock-" +
                           std::to_string(::GetCurrentProcessId()) + ".lock";
  const std::unique_ptr<IFileSystem> files = MakePlatformFileSystem();
  {
    const std::unique_ptr<TRunLock> first = files->TryLock(path);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(files->TryLock(path), nullptr);  // the handle shares nothing
  }
  EXPECT_EQ(::GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);  // gone with it

  {
    std::ofstream(path, std::ios::binary) << "the user's own notes";
  }
  EXPECT_THROW(files->TryLock(path), EQuillonError);
  std::ifstream in(path, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "the user's own notes");
  in.close();
  ::DeleteFileA(path.c_str());
}

TEST(Win32CodePages, PathsConvertIntoEachCodePageOrAreRefused) {
  const std::string chinese = "D:\\扫描\\结果.frag";
  const std::string accented = "D:\\données été\\Ærø.mdb";
  const std::string plain = "C:\\images\\disk.img";
  // "€" is byte 0x80 in 1252 and has no place in GBK; U+1F600 needs UTF-8's four bytes.
  const std::string beyond = "C:\\😀 €.img";

  EXPECT_EQ(Utf8ToCodePage(936, chinese), "D:\\\xC9\xA8\xC3\xE8\\\xBD\xE1\xB9\xFB.frag");
  EXPECT_EQ(Utf8ToCodePage(936, plain), plain);
  EXPECT_EQ(Utf8ToCodePage(936, accented), std::nullopt);  // "Æ" and "ø" are not in GBK
  EXPECT_EQ(Utf8ToCodePage(936, beyond), std::nullopt);

  EXPECT_EQ(Utf8ToCodePage(1252, accented), "D:\\donn\xE9" "es \xE9t\xE9\\\xC6r\xF8.mdb");
  EXPECT_EQ(Utf8ToCodePage(1252, plain), plain);
  EXPECT_EQ(Utf8ToCodePage(1252, chinese), std::nullopt);
  EXPECT_EQ(Utf8ToCodePage(1252, "C:\\\xC5\x8Dkan.img"), std::nullopt)  // "ō": no best fit to "o"
      << "a look-alike names another file";

  for (const std::string& path : {chinese, accented, plain, beyond}) {
    EXPECT_EQ(Utf8ToCodePage(CP_UTF8, path), path) << "UTF-8 holds every path: " << path;
    EXPECT_EQ(CodePageToUtf8(CP_UTF8, path), path);
  }
  EXPECT_EQ(Utf8ToCodePage(CP_UTF8, ""), "");

  // And back, as the system's names are shown.
  EXPECT_EQ(CodePageToUtf8(936, "\xC9\xA8\xC3\xE8"), "扫描");
  EXPECT_EQ(CodePageToUtf8(1252, "\xE9t\xE9 \x80"), "été €");
  EXPECT_EQ(Utf8ToAnsi(plain), plain) << "the system's own code page, " << SystemCodePage();
}

TEST(Win32StartUp, SystemErrorBoxesAreKeptAway) {
  ::SetErrorMode(0);
  SuppressSystemErrorBoxes();
  EXPECT_NE(::GetErrorMode() & SEM_FAILCRITICALERRORS, 0u);
}

}  // namespace
}  // namespace quillon
