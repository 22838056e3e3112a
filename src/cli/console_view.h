#pragma once
// The command line's window: log lines and messages on stdout, a progress line on
// stderr when it is a terminal, and Ctrl-C (see platform_console.h) as the stop command.

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/main_view.h"
#include "cli/progress_line.h"
#include "cli/progress_meter.h"

namespace quillon {

class TMain;

class TConsoleView : public IMainView {
 public:
  // output: where the text goes, the platform's console unless a test records it.
  TConsoleView(bool quiet, bool showProgress, IConsoleOutput& output = PlatformConsoleOutput())
      : quiet_(quiet), showProgress_(showProgress), output_(output), progress_(stderr, output) {}

  // The TMain this view shows; the stop command and the source size come from it.
  void Attach(TMain& main) { main_ = &main; }

  void AppendLogLine(const std::string& line) override;
  void SetStatusText(const std::string& text) override;
  void ShowGauge(const TGauge& gauge) override;
  void ShowMessage(const std::string& text) override;
  void ProcessPendingMessages() override;
  void SetStartEnabled(bool enabled) override;
  // A question is answered by a command-line option, given to SetQuestionAnswer.
  bool AskYesNo(const std::string& text) override;
  void SetQuestionAnswer(bool yes) { questionAnswer_ = yes; }
  // Bytes of the source an earlier run scanned, for a resumed scan's rate and time left.
  void SetBytesAlreadyDone(std::int64_t bytes) { bytesAlreadyDone_ = bytes; }
  // A log line of the scan that is not true of the command showing it: never printed.
  void LeaveOutLogLine(std::string line) { leftOut_ = std::move(line); }
  // Leaves out every log line that starts with prefix.
  void LeaveOutLogLinesStartingWith(std::string prefix) {
    leftOutPrefixes_.push_back(std::move(prefix));
  }

  // The command line shows no menus and no dialogs.
  void ShowSelfClosingMessage(const std::string& text) override { ShowMessage(text); }
  // The command line has no recover button, no folder dialog and opens nothing.
  void SetRecoverEnabled(bool) override {}
  std::optional<std::string> ShowFolderDialog() override { return std::nullopt; }
  bool OpenDocument(const std::string&) override { return false; }
  void ClearSourceMenu() override {}
  void AddSourceMenuEntry(const std::string&, const std::string&, int) override {}
  void AddSourceMenuSeparator() override {}
  std::optional<std::string> ShowSourceMenu() override { return std::nullopt; }
  void ClearOpenDialog() override {}
  std::optional<std::string> ShowOpenDialog() override { return std::nullopt; }
  std::optional<std::string> ShowSaveDialog(const std::string&) override { return std::nullopt; }

  // Prints a failure on stderr.
  void ShowError(const std::string& text);

 private:
  void PrintLine(std::FILE* to, const std::string& line);

  bool quiet_;
  bool showProgress_;
  IConsoleOutput& output_;
  TProgressLine progress_;
  TMain* main_ = nullptr;
  TProgressMeter meter_;
  std::int64_t bytesAlreadyDone_ = 0;
  std::string status_;
  bool stopAnnounced_ = false;
  bool questionAnswer_ = false;
  std::optional<std::string> leftOut_;
  std::vector<std::string> leftOutPrefixes_;
  TProgressMeter::TClock::time_point lastDraw_{};
};

}  // namespace quillon
