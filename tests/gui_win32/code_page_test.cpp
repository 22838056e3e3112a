// Paths with characters beyond ASCII, chosen in the window's dialogs as UTF-16 and handed to
// TMain as UTF-8, reach the files in the system's ANSI code page: under 936 (Simplified
// Chinese) Chinese folder and file names work, and the fragment file's header holds the
// source path's GBK bytes; under 1252 (Western) accented names work and a Chinese name is
// refused with a message, before anything is created.

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/main_form.h"
#include "core/fragment_file_reader.h"
#include "fake_dialogs.h"
#include "gui_win32/control_ids.h"
#include "gui_win32/main_window.h"
#include "gui_win32/wide_text.h"
#include "storage/file_system.h"
#include "support/fake_device_queries.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
namespace ids = control_ids;

std::wstring SamplePath() {
  std::wstring path = WideFromUtf8(QUILLON_SAMPLES_DIR_WINDOWS "/sample-jet4.mdb");
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}

std::string InCodePage(const std::wstring& text, UINT codePage) {
  const int size = static_cast<int>(text.size());
  BOOL lost = FALSE;
  const int bytes = ::WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, text.data(), size,
                                          nullptr, 0, nullptr, &lost);
  std::string result(static_cast<std::size_t>(bytes), '\0');
  ::WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, text.data(), size, result.data(), bytes,
                        nullptr, &lost);
  return result;
}

std::vector<std::wstring> NamesIn(const fs::path& folder) {
  std::vector<std::wstring> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().wstring());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class Win32CodePageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { PrepareWindowControls(); }

  void SetUp() override {
    root_ = fs::temp_directory_path() /
            (L"quillon-code-page-test-" + std::to_wstring(::GetCurrentProcessId()));
    fs::create_directories(root_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  // Whether TMain and the file system convert UTF-8 paths into the code page yet: a
  // Chinese character must come back as GBK bytes under 936 and be refused under 1252,
  // not pass through as its UTF-8 bytes.
  // Copies the sample to source, scans it into output from the toolbar, and returns
  // the window's recorded dialogs.
  struct TRun {
    testing::TFakeDialogs Dialogs;
    std::vector<std::wstring> Log;
  };
  std::unique_ptr<TRun> Scan(const fs::path& source, const fs::path& output) {
    auto run = std::make_unique<TRun>();
    const std::unique_ptr<IFileSystem> files = MakePlatformFileSystem();
    testing::TFakeDeviceQueries devices;
    TMainWindow window(*files, devices, run->Dialogs);
    run->Dialogs.MenuChoice = "Openimage";
    run->Dialogs.OpenAnswer = source.wstring();
    run->Dialogs.SaveAnswer = output.wstring();
    for (const int command : {ids::kRecBtn, ids::kSaveBtn, ids::kButton2}) {
      ::SendMessageW(window.Handle(), WM_COMMAND, command, 0);
    }
    const HWND memo = window.Control(ids::kMemo2);
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(memo)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        ::GetWindowTextW(memo, text.data(), static_cast<int>(text.size()))));
    std::wstring line;
    for (const wchar_t c : text + L"\r") {
      if (c == L'\r' || c == L'\n') {
        if (!line.empty()) run->Log.push_back(line);
        line.clear();
      } else {
        line += c;
      }
    }
    return run;
  }

  // A scan between two names the code page holds: the output exists under exactly its
  // name, and its header records the source's path in the code page.
  void ExpectScanKeepsNames(const fs::path& source, const fs::path& output) {
    fs::create_directories(source.parent_path());
    fs::create_directories(output.parent_path());
    fs::copy_file(SamplePath(), source);
    const std::unique_ptr<TRun> run = Scan(source, output);
    for (const auto& error : run->Dialogs.Errors) ADD_FAILURE() << Utf8FromWide(error.Text);
    EXPECT_NE(std::find(run->Log.begin(), run->Log.end(), L"扫描存储介质: " + source.wstring()),
              run->Log.end());

    const std::vector<std::wstring> names = NamesIn(output.parent_path());
    EXPECT_NE(std::find(names.begin(), names.end(), output.filename().wstring()), names.end());
    std::ifstream in(output, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const std::string expected = InCodePage(source.wstring(), ::GetACP());
    ASSERT_GE(bytes.size(), 55 + expected.size() + 1);
    EXPECT_EQ(bytes.substr(55, expected.size()), expected);
    EXPECT_EQ(bytes[55 + expected.size()], '\0');
    EXPECT_EQ(bytes.substr(bytes.size() - 4), "TEMP") << "a complete file";
  }

  fs::path root_;
};

TEST_F(Win32CodePageTest, ChineseNamesUnderTheChineseCodePage) {
  if (::GetACP() != 936) GTEST_SKIP() << "runs under code page 936 (LANG=zh_CN.UTF-8)";
  ExpectScanKeepsNames(root_ / L"磁盘镜像" / L"样本.mdb", root_ / L"扫描结果" / L"结果.frag");
}

TEST_F(Win32CodePageTest, AccentedNamesWorkAndChineseNamesAreRefusedUnderTheWesternCodePage) {
  if (::GetACP() != 1252) GTEST_SKIP() << "runs under code page 1252 (LANG=en_US.UTF-8)";
  ExpectScanKeepsNames(root_ / L"données" / L"échantillon.mdb", root_ / L"résultat.frag");

  const fs::path folder = root_ / L"refused";
  fs::create_directories(folder);
  const std::unique_ptr<TRun> run = Scan(SamplePath(), folder / L"结果.frag");
  EXPECT_TRUE(NamesIn(folder).empty()) << "nothing is created, also not under a '?' name";
  bool named = false;
  for (const auto* boxes : {&run->Dialogs.Errors, &run->Dialogs.Messages}) {
    for (const auto& box : *boxes)
      named = named || box.Text.find(L"结果.frag") != std::wstring::npos;
  }
  EXPECT_TRUE(named) << "a message names the path that cannot be used";
}

}  // namespace
}  // namespace quillon
