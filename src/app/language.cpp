#include "app/language.h"

namespace quillon {

std::string Fill(std::string_view text, TFillValues values) {
  std::string filled;
  filled.reserve(text.size());
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t open = text.find('{', at);
    const std::size_t close = open == std::string_view::npos ? open : text.find('}', open);
    if (close == std::string_view::npos) break;
    filled.append(text.substr(at, open - at));
    const std::string_view name = text.substr(open + 1, close - open - 1);
    const std::string* value = nullptr;
    for (const auto& [key, given] : values) {
      if (key == name) value = &given;
    }
    if (value != nullptr) {
      filled += *value;
    } else {
      filled.append(text.substr(open, close - open + 1));
    }
    at = close + 1;
  }
  if (at < text.size()) filled.append(text.substr(at));
  return filled;
}

std::string Fill(const TText& text, TLanguage language, TFillValues values) {
  return Fill(text.In(language), values);
}

std::string_view FixedStart(std::string_view text) { return text.substr(0, text.find('{')); }

std::optional<TLanguage> LanguageNamed(std::string_view name) {
  if (name == "zh") return TLanguage::Chinese;
  if (name == "en") return TLanguage::English;
  return std::nullopt;
}

}  // namespace quillon
