#pragma once
// The language the program speaks: chosen once at start (SystemLanguage, or the --lang
// option) and handed to TMain, which gives it to the window description and its texts.
// Chinese is what the program always spoke; English is for everyone else.

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace quillon {

enum class TLanguage {
  Chinese,  // a system whose language is Chinese; the texts the users know
  English,  // any other system, and one that names no language
};

// One text the program shows, in both languages. A text with parts the program fills in
// names them in braces, "碎片：{N}"; Fill puts the values in.
struct TText {
  const char* Chinese;
  const char* English;
  const char* In(TLanguage language) const {
    return language == TLanguage::Chinese ? Chinese : English;
  }
};

using TFillValues = std::initializer_list<std::pair<std::string_view, std::string>>;

// The text with every "{NAME}" of `values` replaced by its value, in one pass: a value that
// itself holds braces (a path) is copied as it is. An unknown name stays as written.
std::string Fill(std::string_view text, TFillValues values);
std::string Fill(const TText& text, TLanguage language, TFillValues values);
// The text up to its first part to fill: what every line made from it begins with.
std::string_view FixedStart(std::string_view text);

// "zh" or "en" (as --lang takes it); nothing for any other word.
std::optional<TLanguage> LanguageNamed(std::string_view name);

// The language the locale variables ask for: the first of LANGUAGE, LC_ALL, LC_MESSAGES
// and LANG that is set and not empty decides (LANGUAGE by its first entry, "zh_CN:en").
// A value that starts with "zh" is Chinese; any other value (en_US.UTF-8, de_DE, C, POSIX)
// and none at all are English. `variable` answers the variable's value, empty when unset.
template <typename TLookup>
TLanguage LanguageOfLocale(TLookup variable) {
  for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
    const std::string value = variable(name);
    if (value.empty()) continue;
    const std::string_view first = std::string_view(value).substr(0, value.find(':'));
    return first.substr(0, 2) == "zh" ? TLanguage::Chinese : TLanguage::English;
  }
  return TLanguage::English;
}

// The language of this system: on Windows the user's display language (Chinese when its
// primary language is Chinese), elsewhere LanguageOfLocale of the environment.
TLanguage SystemLanguage();

}  // namespace quillon
