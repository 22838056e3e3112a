#pragma once
// Just enough JSON writing for the command line's --json output.

#include <cstdio>
#include <string>
#include <vector>

namespace quillon {

// A JSON string literal. Bytes that are not valid UTF-8 (a path written on a system
// with another code page) are kept readable as \u00XX escapes.
std::string JsonString(const std::string& text);

std::string JsonArray(const std::vector<std::string>& items);

class TJsonObject {
 public:
  void Add(const std::string& key, const std::string& value) { AddRaw(key, JsonString(value)); }
  void AddNumber(const std::string& key, long long value) { AddRaw(key, std::to_string(value)); }
  void AddBool(const std::string& key, bool value) { AddRaw(key, value ? "true" : "false"); }
  void AddRaw(const std::string& key, const std::string& json) {
    body_ += (body_.empty() ? "" : ", ") + JsonString(key) + ": " + json;
  }
  std::string Text() const { return "{" + body_ + "}"; }

 private:
  std::string body_;
};

}  // namespace quillon
