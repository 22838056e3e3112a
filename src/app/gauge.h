#pragma once
// The progress gauge's model: signed 32-bit minimum, maximum and position.

#include <cstdint>

namespace quillon {

class TGauge {
 public:
  std::int32_t Min() const { return min_; }
  std::int32_t Max() const { return max_; }
  std::int32_t Position() const { return position_; }

  // A minimum above the maximum is refused with EQuillonError and changes nothing.
  void SetMin(std::int32_t value);
  // A maximum below the minimum is refused; one below the position pulls the position down.
  void SetMax(std::int32_t value);
  // Clamped into [Min, Max].
  void SetPosition(std::int32_t value);

  // trunc(100 * (position - min) / (max - min)), or 0 when min equals max.
  int Percent() const;

 private:
  std::int32_t min_ = 0;
  std::int32_t max_ = 100;
  std::int32_t position_ = 0;
};

}  // namespace quillon
