#include "app/gauge.h"

#include <algorithm>

#include "core/errors.h"

namespace quillon {

void TGauge::SetMin(std::int32_t value) {
  if (value > max_) throw EQuillonError("Gauge minimum above its maximum");
  min_ = value;
  position_ = std::max(position_, min_);
}

void TGauge::SetMax(std::int32_t value) {
  if (value < min_) throw EQuillonError("Gauge maximum below its minimum");
  max_ = value;
  position_ = std::min(position_, max_);
}

void TGauge::SetPosition(std::int32_t value) { position_ = std::clamp(value, min_, max_); }

int TGauge::Percent() const {
  if (max_ == min_) return 0;
  // 64-bit: the span of a 32-bit range times 100 does not fit 32 bits.
  const std::int64_t done = static_cast<std::int64_t>(position_) - min_;
  const std::int64_t span = static_cast<std::int64_t>(max_) - min_;
  return static_cast<int>(done * 100 / span);
}

}  // namespace quillon
