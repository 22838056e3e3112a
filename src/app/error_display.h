#pragma once

#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quillon {

// The text of a failure as the default error display shows it: a full stop is appended
// when the last character sorts after "." (so a text ending in "." or "!" gets none), but
// not after a Chinese sentence's own end (。！？).
inline std::string ErrorDisplayText(const std::string& text) {
  for (const std::string_view end : {"\u3002", "\uFF01", "\uFF1F"}) {
    if (std::string_view(text).ends_with(end)) return text;
  }
  if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') return text + ".";
  return text;
}

// Runs a command of the window so that no failure escapes into the toolkit's event
// handling: nothing when it succeeds, else the text the default error display shows.
inline std::optional<std::string> RunForErrorDisplay(const std::function<void()>& command) {
  try {
    command();
    return std::nullopt;
  } catch (const std::exception& error) {
    return ErrorDisplayText(error.what());
  } catch (...) {
    return ErrorDisplayText("Unknown failure");
  }
}

}  // namespace quillon
