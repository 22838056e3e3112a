#pragma once
// A view for TMain tests: it records everything shown and runs scripted actions at each
// "process pending messages", the point where a real window would run other commands.

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/main_view.h"

namespace quillon::testing {

class TScriptedView : public IMainView {
 public:
  std::vector<std::string> Log;       // memo2
  std::vector<std::string> Messages;  // modal messages, in order
  std::string Status = "文件数量：";  // SegLabel
  std::vector<std::string> StatusHistory;
  std::vector<int> GaugePositions;    // every position shown
  TGauge LastGauge;
  std::vector<bool> StartEnabledHistory;
  int ProcessCalls = 0;

  // Runs at every "process pending messages", with the 1-based number of the call.
  std::function<void(int call)> OnProcessMessages;
  // Runs when a modal message is shown, with its text.
  std::function<void(const std::string& text)> OnMessage;

  std::vector<std::string> SelfClosingMessages;  // boxes nobody waited for

  // pop, as last built; a separator has an empty name and the caption "-".
  struct TMenuEntry {
    std::string Name;
    std::string Caption;
    int ImageIndex = -1;
    bool operator==(const TMenuEntry&) const = default;
  };
  std::vector<TMenuEntry> Menu;
  int MenuShows = 0;
  // The entry the user picks when pop opens; a name that is not an entry, or a
  // separator, picks nothing.
  std::optional<std::string> MenuChoice;

  // od: the path the user confirms, or nothing for a cancel.
  std::optional<std::string> OpenAnswer;
  int OpenDialogClears = 0;
  int OpenDialogShows = 0;
  bool OpenDialogClearedBeforeShow = false;  // at the last showing

  // sd: the path the user confirms, or nothing for a cancel.
  std::optional<std::string> SaveAnswer;
  std::vector<std::string> SaveDialogPresets;  // the file name pre-filled at each showing

  void AppendLogLine(const std::string& line) override { Log.push_back(line); }
  void SetStatusText(const std::string& text) override {
    Status = text;
    StatusHistory.push_back(text);
  }
  void ShowGauge(const TGauge& gauge) override {
    LastGauge = gauge;
    GaugePositions.push_back(gauge.Position());
  }
  void ShowMessage(const std::string& text) override {
    Messages.push_back(text);
    if (OnMessage) OnMessage(text);
  }
  void ProcessPendingMessages() override {
    ++ProcessCalls;
    if (OnProcessMessages) OnProcessMessages(ProcessCalls);
  }
  void SetStartEnabled(bool enabled) override { StartEnabledHistory.push_back(enabled); }

  std::vector<std::string> Questions;  // every yes/no question, in order
  bool QuestionAnswer = true;          // what the user answers

  bool AskYesNo(const std::string& text) override {
    Questions.push_back(text);
    return QuestionAnswer;
  }

  void ShowSelfClosingMessage(const std::string& text) override {
    Messages.push_back(text);
    SelfClosingMessages.push_back(text);
  }
  std::vector<bool> RecoverEnabledHistory;
  // The folder dialog: the folder the user confirms, or nothing for a cancel.
  std::optional<std::string> FolderAnswer;
  int FolderDialogShows = 0;
  // The shell's "open": every path handed to it, and what it answers.
  std::vector<std::string> OpenedDocuments;
  bool OpenDocumentSucceeds = true;
  void SetRecoverEnabled(bool enabled) override { RecoverEnabledHistory.push_back(enabled); }
  std::optional<std::string> ShowFolderDialog() override {
    ++FolderDialogShows;
    return FolderAnswer;
  }
  bool OpenDocument(const std::string& path) override {
    OpenedDocuments.push_back(path);
    return OpenDocumentSucceeds;
  }

  void ClearSourceMenu() override { Menu.clear(); }
  void AddSourceMenuEntry(const std::string& name, const std::string& caption,
                          int imageIndex) override {
    Menu.push_back({name, caption, imageIndex});
  }
  void AddSourceMenuSeparator() override { Menu.push_back({"", "-", -1}); }
  std::optional<std::string> ShowSourceMenu() override {
    ++MenuShows;
    if (!MenuChoice || MenuChoice->empty()) return std::nullopt;
    const bool listed = std::any_of(Menu.begin(), Menu.end(),
                                    [&](const TMenuEntry& e) { return e.Name == *MenuChoice; });
    return listed ? MenuChoice : std::nullopt;
  }
  void ClearOpenDialog() override {
    ++OpenDialogClears;
    openDialogCleared_ = true;
  }
  std::optional<std::string> ShowOpenDialog() override {
    ++OpenDialogShows;
    OpenDialogClearedBeforeShow = openDialogCleared_;
    openDialogCleared_ = false;
    return OpenAnswer;
  }
  std::optional<std::string> ShowSaveDialog(const std::string& fileName) override {
    SaveDialogPresets.push_back(fileName);
    return SaveAnswer;
  }

 private:
  bool openDialogCleared_ = false;
};

}  // namespace quillon::testing
