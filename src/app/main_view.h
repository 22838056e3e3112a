#pragma once
// What TMain needs from the window that shows it. The Qt and the Win32 windows, the command
// line's console and the tests' scripted view implement it.

#include <optional>
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

  // The recover command's button: disabled while a scan or a recovery runs.
  virtual void SetRecoverEnabled(bool enabled) = 0;
  // The system's folder dialog, modal: the folder a recovery writes into (UTF-8), or
  // nothing when cancelled.
  virtual std::optional<std::string> ShowFolderDialog() = 0;
  // Opens a file (the system's form) in the program the system opens it with: the report
  // page in the default browser. Returns false when the system could not open it.
  virtual bool OpenDocument(const std::string& path) = 0;

  // A modal question with Yes and No; true for Yes.
  virtual bool AskYesNo(const std::string& text) = 0;

  // A modal message like ShowMessage whose box closes by itself the moment it is shown:
  // the program is ending and nobody waits for it.
  virtual void ShowSelfClosingMessage(const std::string& text) = 0;

  // pop, the source menu: removes every entry.
  virtual void ClearSourceMenu() = 0;
  // pop: one more entry; imageIndex picks its icon (17 drive, 18 volume, 19 image file).
  virtual void AddSourceMenuEntry(const std::string& name, const std::string& caption,
                                  int imageIndex) = 0;
  // pop: a separator line, which cannot be chosen.
  virtual void AddSourceMenuSeparator() = 0;
  // Opens pop below RecBtn and waits. Returns the name of the chosen entry, or nothing.
  virtual std::optional<std::string> ShowSourceMenu() = 0;

  // od: clears the file-type filter, the default extension and the preset file name.
  virtual void ClearOpenDialog() = 0;
  // od, modal. Returns the full path of the confirmed file, or nothing when cancelled.
  virtual std::optional<std::string> ShowOpenDialog() = 0;
  // sd, modal: no filter, no default extension, fileName pre-filled; it asks the system's
  // standard question before an existing file is chosen (a scan replaces it).
  // Returns the full path of the confirmed file, or nothing when cancelled.
  virtual std::optional<std::string> ShowSaveDialog(const std::string& fileName) = 0;
};

}  // namespace quillon
