#pragma once
// What TMain needs from the window that shows it. The Qt window, the command line's
// console and the tests' scripted view implement it.

#include <string>

#include "app/gauge.h"

namespace quillon {

class IMainView {
 public:
  virtual ~IMainView() = default;

  // memo2: one more line at the end of the log.
  virtual void AppendLogLine(const std::string& line) = 0;
  // SegLabel: its whole text replaced.
  virtual void SetStatusText(const std::string& text) = 0;
  // gg: minimum, maximum or position changed.
  virtual void ShowGauge(const TGauge& gauge) = 0;
  // A modal box with the text and OK, no icon; returns when it is closed.
  virtual void ShowMessage(const std::string& text) = 0;
  // Handles waiting input and paint requests; commands given meanwhile run inside.
  virtual void ProcessPendingMessages() = 0;
  // button2: disabled while a scan runs.
  virtual void SetStartEnabled(bool enabled) = 0;
};

}  // namespace quillon
