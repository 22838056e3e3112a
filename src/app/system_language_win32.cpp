// The language of a Windows system: the user's display language, the one Windows itself
// shows its menus in (not the regional format, which may differ).

#include <windows.h>

#include "app/language.h"

namespace quillon {

TLanguage SystemLanguage() {
  return PRIMARYLANGID(::GetUserDefaultUILanguage()) == LANG_CHINESE ? TLanguage::Chinese
                                                                     : TLanguage::English;
}

}  // namespace quillon
