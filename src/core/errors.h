#pragma once
// The one exception type of the program: it carries the text that the front ends show.

#include <stdexcept>
#include <string>

namespace quillon {

class EQuillonError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

inline constexpr const char* kStreamWriteError = "Stream write error";
inline constexpr const char* kCompressionError = "Error";

// "Cannot open file "<full path>". <system text>"
inline std::string OpenErrorText(const std::string& fullPath, const std::string& reason) {
  return "Cannot open file \"" + fullPath + "\". " + reason;
}

// "Cannot create file "<full path>". <system text>"
inline std::string CreateErrorText(const std::string& fullPath, const std::string& reason) {
  return "Cannot create file \"" + fullPath + "\". " + reason;
}

}  // namespace quillon
