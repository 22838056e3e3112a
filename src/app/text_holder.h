#pragma once
// A hidden one-line text field: setting a different text runs its change handler once,
// before the setting returns; setting the same text does nothing.

#include <functional>
#include <string>
#include <utility>

namespace quillon {

class TTextHolder {
 public:
  explicit TTextHolder(std::function<void()> onChange = {}) : onChange_(std::move(onChange)) {}

  const std::string& Text() const { return text_; }

  void SetText(const std::string& text) {
    if (text == text_) return;
    text_ = text;
    if (onChange_) onChange_();
  }

 private:
  std::string text_;
  std::function<void()> onChange_;
};

}  // namespace quillon
