#include "gui_qt/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>

namespace quillon {

bool TQtTranslations::Install(TLanguage language) {
  if (language != TLanguage::Chinese) return true;
  // Simplified Chinese, the script of the window's own texts, also on a traditional system.
  if (!translator_.load(QStringLiteral("qtbase_zh_CN"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    return false;
  }
  return QCoreApplication::installTranslator(&translator_);
}

}  // namespace quillon
