// The language of a POSIX system: its locale variables, as every program there reads them.

#include <cstdlib>

#include "app/language.h"

namespace quillon {

TLanguage SystemLanguage() {
  return LanguageOfLocale([](const char* name) {
    const char* value = std::getenv(name);
    return std::string(value == nullptr ? "" : value);
  });
}

}  // namespace quillon
