#pragma once
// A view for TMain tests: it records everything shown and runs scripted actions at each
// "process pending messages", the point where a real window would run other commands.

#include <functional>
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
};

}  // namespace quillon::testing
