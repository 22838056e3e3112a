#pragma once
// Qt's own texts in the window's language: the file and folder dialogs ("Look in", "Save
// As", "Find Directory"), the Yes and No of the message boxes. Qt ships them apart
// (Debian's qt6-translations-l10n); without them those texts stay English.

#include <QTranslator>

#include "app/language.h"

namespace quillon {

class TQtTranslations {
 public:
  // Installs Qt's Chinese texts into the running application for Chinese; English needs
  // none. Returns false when the Chinese texts are not installed on this system. Keep the
  // object for as long as the application runs.
  bool Install(TLanguage language);

 private:
  QTranslator translator_;
};

}  // namespace quillon
