#pragma once
// The one-line progress display of a scan on a terminal: bar, percentage, rate, time left.

#include <chrono>
#include <cstdint>
#include <string>

namespace quillon {

class TProgressMeter {
 public:
  using TClock = std::chrono::steady_clock;

  // Starts timing a scan of totalBytes, of which alreadyDone were done by an earlier run
  // (a resumed scan): the rate counts only what this run does.
  void Start(std::int64_t totalBytes, TClock::time_point now = TClock::now(),
             std::int64_t alreadyDone = 0);
  bool Started() const { return started_; }

  // The line for doneBytes at time now, without line end; width is the bar's width.
  std::string Line(std::int64_t doneBytes, const std::string& status, TClock::time_point now,
                   int width = 30) const;
  // Line within maxColumns terminal columns: the bar narrows first (to 10), then the end
  // is cut.
  std::string FittedLine(std::int64_t doneBytes, const std::string& status,
                         TClock::time_point now, int maxColumns) const;

 private:
  bool started_ = false;
  std::int64_t total_ = 0;
  std::int64_t alreadyDone_ = 0;
  TClock::time_point start_;
};

// "1:02:03" or "2:03".
std::string DurationText(std::int64_t seconds);

}  // namespace quillon
