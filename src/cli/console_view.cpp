#include "cli/console_view.h"

#include "app/main_form.h"
#include "cli/platform_console.h"

namespace quillon {

void TConsoleView::PrintLine(std::FILE* to, const std::string& line) {
  progress_.Clear();
  output_.Write(to, line + "\n");
}

void TConsoleView::AppendLogLine(const std::string& line) {
  for (const std::string& prefix : leftOutPrefixes_) {
    if (line.rfind(prefix, 0) == 0) return;
  }
  if (!quiet_ && line != leftOut_) PrintLine(stdout, line);
}

void TConsoleView::SetStatusText(const std::string& text) { status_ = text; }

void TConsoleView::ShowGauge(const TGauge& gauge) {
  if (!showProgress_ || main_ == nullptr) return;
  const auto now = TProgressMeter::TClock::now();
  if (!meter_.Started()) {
    if (gauge.Max() <= 0) return;  // the scan has not set its range yet
    meter_.Start(main_->SourceSize, now, bytesAlreadyDone_);
  }
  if (now - lastDraw_ < std::chrono::milliseconds(100)) return;
  lastDraw_ = now;
  const double fraction =
      gauge.Max() > gauge.Min()
          ? static_cast<double>(gauge.Position() - gauge.Min()) / (gauge.Max() - gauge.Min())
          : 0.0;
  const auto done = static_cast<std::int64_t>(fraction * static_cast<double>(main_->SourceSize));
  progress_.Show(meter_.FittedLine(done, status_, now, TProgressLine::kMaxColumns));
}

void TConsoleView::ShowMessage(const std::string& text) {
  if (!quiet_) PrintLine(stdout, text);
}

void TConsoleView::ProcessPendingMessages() {
  if (!StopWasRequested() || main_ == nullptr) return;
  main_->Button1Click();
  if (!stopAnnounced_ && !quiet_) {
    stopAnnounced_ = true;
    PrintLine(stderr, "Stopping: the fragment file is finished at the end of the current chunk or read.");
  }
}

void TConsoleView::SetStartEnabled(bool) {}

bool TConsoleView::AskYesNo(const std::string&) {
  // The one question is whether to write the output onto the device being scanned; a
  // refusal is explained by the command itself.
  if (questionAnswer_) {
    PrintLine(stderr,
              "Warning: the output file lies on the device being scanned; going on because of "
              "--allow-same-device.");
  }
  return questionAnswer_;
}

void TConsoleView::ShowError(const std::string& text) { PrintLine(stderr, text); }

}  // namespace quillon
