#pragma once
// The command line's --json output, written with nlohmann/json.

#include <nlohmann/json.hpp>

#include <string>

namespace quillon {

// Objects keep their keys in the order they were added.
using TJson = nlohmann::ordered_json;

// Text for a JSON string. Valid UTF-8 stays as it is; every byte that is not part of a
// valid UTF-8 sequence (a path written on a system with another code page, GBK say) becomes
// U+FFFD, as in the report page (core/utf8_text.h), so the output stays valid JSON.
std::string JsonSafeText(const std::string& bytes);

// One line of compact JSON, non-ASCII characters as UTF-8.
std::string JsonLine(const TJson& json);

}  // namespace quillon
