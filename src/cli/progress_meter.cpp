#include "cli/progress_meter.h"

#include <algorithm>
#include <cstdio>

#include "cli/progress_line.h"

namespace quillon {

void TProgressMeter::Start(std::int64_t totalBytes, TClock::time_point now,
                           std::int64_t alreadyDone) {
  started_ = true;
  total_ = totalBytes;
  start_ = now;
  alreadyDone_ = alreadyDone;
}

std::string DurationText(std::int64_t seconds) {
  char text[32];
  if (seconds >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
  }
  return text;
}

std::string TProgressMeter::Line(std::int64_t doneBytes, const std::string& status,
                                 TClock::time_point now, int width) const {
  const double fraction =
      total_ > 0 ? std::clamp(static_cast<double>(doneBytes) / static_cast<double>(total_), 0.0, 1.0)
                 : 1.0;
  const int filled = static_cast<int>(fraction * width);
  std::string bar = "[" + std::string(filled, '#') + std::string(width - filled, '.') + "]";

  const double seconds = std::chrono::duration<double>(now - start_).count();
  char text[160];
  if (seconds > 0.2 && doneBytes > alreadyDone_) {
    const double rate = static_cast<double>(doneBytes - alreadyDone_) / seconds;
    const auto left = static_cast<std::int64_t>(static_cast<double>(total_ - doneBytes) / rate);
    std::snprintf(text, sizeof text, " %3d%%  %7.1f MB/s  %s left", static_cast<int>(fraction * 100),
                  rate / 1e6, DurationText(std::max<std::int64_t>(left, 0)).c_str());
  } else {
    std::snprintf(text, sizeof text, " %3d%%", static_cast<int>(fraction * 100));
  }
  std::string line = bar + text;
  if (!status.empty()) line += "  " + status;
  return line;
}

std::string TProgressMeter::FittedLine(std::int64_t doneBytes, const std::string& status,
                                       TClock::time_point now, int maxColumns) const {
  constexpr int kWidestBar = 30;
  constexpr int kNarrowestBar = 10;
  std::string line = Line(doneBytes, status, now, kWidestBar);
  const int over = TerminalColumns(line) - maxColumns;
  if (over > 0) line = Line(doneBytes, status, now, std::max(kNarrowestBar, kWidestBar - over));
  return std::string(FitColumns(line, maxColumns));
}

}  // namespace quillon
