// quillon.exe: the desktop window for Windows. Its arguments are --version and --help (also
// /?), answered on the console it was started from, or in a box when there is none, and
// --lang zh|en, the window's language (without it the user's display language decides).
//
// Exit status: 0 when the window was closed, also when a close request waited for a
// running scan to finish its file, and when the session ended during a scan (which then
// stops at its next chunk and finishes its file first); 1 when the window could not be
// made (a box says why).

#include <windows.h>
#include <objbase.h>

#include <shellapi.h>

#include <cwchar>
#include <exception>
#include <memory>
#include <optional>
#include <string>

#include "app/branding.h"
#include "app/language.h"
#include "gui_win32/main_window.h"
#include "gui_win32/wide_text.h"
#include "storage/device_queries.h"
#include "storage/file_system.h"
#include "storage/library_search.h"
#include "storage/system_error_mode.h"

namespace {

struct TAnswer {
  std::wstring Text;  // empty when the window is to open
  int Status = 0;     // the program's exit status after showing Text
};

// The answer to --version or --help, or the refusal of a wrong --lang. language: what
// --lang chose, left alone without it.
TAnswer CommandLineAnswer(std::optional<quillon::TLanguage>& language) {
  int count = 0;
  wchar_t** arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (arguments == nullptr) return {};
  std::wstring answer;
  int status = 0;
  for (int i = 1; i < count && answer.empty(); ++i) {
    const wchar_t* argument = arguments[i];
    const bool separate = std::wcscmp(argument, L"--lang") == 0;
    if (separate || std::wcsncmp(argument, L"--lang=", 7) == 0) {
      const std::wstring name = separate ? (i + 1 < count ? arguments[++i] : L"") : argument + 7;
      language = name == L"zh"   ? std::optional(quillon::TLanguage::Chinese)
                 : name == L"en" ? std::optional(quillon::TLanguage::English)
                                 : std::nullopt;
      if (!language) {
        answer = L"quillon: --lang takes zh or en, not \"" + name + L"\"\r\n";
        status = 1;
      }
    } else if (std::wcscmp(argument, L"--version") == 0) {
      answer = L"quillon " + quillon::WideFromUtf8(quillon::branding::kVersion) + L"\r\n";
    } else if (std::wcscmp(argument, L"--help") == 0 || std::wcscmp(argument, L"/?") == 0 ||
               std::wcscmp(argument, L"-h") == 0) {
      answer =
          L"Usage: quillon [--lang zh|en] [--version] [--help]\r\n"
          L"Opens the window that scans a disk, a volume or a disk image for the pages of\r\n"
          L"lost Access (Jet 4) databases. Volumes and disks need administrator rights (Run as\r\n"
          L"administrator); disk image files do not. quillon-cli.exe does the same from a\r\n"
          L"Command Prompt (quillon-cli --help).\r\n\r\n"
          L"--lang zh|en  the window's language; without it Chinese when Windows shows\r\n"
          L"              its menus in Chinese, else English\r\n\r\n"
          L"Exit status: 0 when the window was closed; 1 when it could not start.\r\n";
    }
  }
  ::LocalFree(arguments);
  return {answer, status};
}

// A program of the window subsystem has no console of its own: the text goes to the one it
// was started from (or where its output is redirected), else into a box.
void ShowAnswer(const std::wstring& text) {
  HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if ((out == nullptr || out == INVALID_HANDLE_VALUE) && ::AttachConsole(ATTACH_PARENT_PROCESS))
    out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  if (out != nullptr && out != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    if (::GetFileType(out) == FILE_TYPE_CHAR &&
        ::WriteConsoleW(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
      return;
    const std::string utf8 = quillon::Utf8FromWide(text);
    if (::WriteFile(out, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr)) return;
  }
  ::MessageBoxW(nullptr, text.c_str(), L"Quillon", MB_OK | MB_ICONINFORMATION);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int showCommand) {
  using namespace quillon;
  std::optional<TLanguage> chosenLanguage;
  if (const TAnswer answer = CommandLineAnswer(chosenLanguage); !answer.Text.empty()) {
    ShowAnswer(answer.Text);
    return answer.Status;
  }
  const TLanguage language = chosenLanguage.value_or(SystemLanguage());
  // An empty card reader or CD drive must not raise the system's "no disk" box while the
  // volumes are listed: the failure comes back as an error code instead.
  LoadLibrariesFromSystemFolderOnly();
  SuppressSystemErrorBoxes();
  // The file dialogs and the link handler run shell code that wants COM on this thread.
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  PrepareWindowControls();

  int status = 0;
  try {
    const std::unique_ptr<IFileSystem> fileSystem = MakePlatformFileSystem();
    const std::unique_ptr<IDeviceQueries> devices = MakePlatformDeviceQueries();
    TWin32WindowDialogs dialogs;
    TMainWindow window(*fileSystem, *devices, dialogs, language);
    window.ShowCentred(showCommand);
    MSG message;
    BOOL got;
    while ((got = ::GetMessageW(&message, nullptr, 0, 0)) != 0 && got != -1) {
      window.Dispatch(message);
    }
    status = got == 0 ? static_cast<int>(message.wParam) : 1;
  } catch (const std::exception& error) {
    ::MessageBoxW(nullptr, WideFromUtf8(error.what()).c_str(), L"Quillon", MB_OK | MB_ICONERROR);
    status = 1;
  }
  if (SUCCEEDED(com)) ::CoUninitialize();
  return status;
}
