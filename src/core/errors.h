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

// A write or flush of an output file that failed. Its text is the one the window shows
// ("Stream write error"); the file and the system's reason travel with it for the command
// line, which names both.
class EWriteError : public EQuillonError {
 public:
  EWriteError(std::string path, std::string reason)
      : EQuillonError(kStreamWriteError), path_(std::move(path)), reason_(std::move(reason)) {}
  const std::string& Path() const { return path_; }      // the file being written
  const std::string& Reason() const { return reason_; }  // the system's text; may be empty

 private:
  std::string path_;
  std::string reason_;
};

// "Cannot open file "<full path>". <system text>"
inline std::string OpenErrorText(const std::string& fullPath, const std::string& reason) {
  return "Cannot open file \"" + fullPath + "\". " + reason;
}

// "Cannot create file "<full path>". <system text>"
inline std::string CreateErrorText(const std::string& fullPath, const std::string& reason) {
  return "Cannot create file \"" + fullPath + "\". " + reason;
}

}  // namespace quillon
