#pragma once

#include <string>

namespace quillon {

// The text of a failure as the default error display shows it: a full stop is appended
// when the last character sorts after "." (so a text ending in "." or "!" gets none).
inline std::string ErrorDisplayText(const std::string& text) {
  if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') return text + ".";
  return text;
}

}  // namespace quillon
