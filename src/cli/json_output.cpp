#include "cli/json_output.h"

#include "core/utf8_text.h"

namespace quillon {

std::string JsonSafeText(const std::string& bytes) { return RepairedUtf8(bytes); }

// Every string was meant to pass JsonSafeText; one that did not is repaired by the same rule
// here rather than making the library throw and the command print no JSON at all.
std::string JsonLine(const TJson& json) {
  return json.dump(-1, ' ', false, TJson::error_handler_t::replace);
}

}  // namespace quillon
