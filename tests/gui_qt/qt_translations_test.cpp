// Qt's own dialog texts follow the window's language: Chinese from Qt's translations, and
// English untouched.

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QtTest>

#include "gui_qt/qt_translations.h"

namespace quillon {

class TQtTranslationsTest : public QObject {
  Q_OBJECT

 private slots:
  void englishLeavesQtsTextsAlone() {
    TQtTranslations translations;
    QVERIFY(translations.Install(TLanguage::English));
    QCOMPARE(QCoreApplication::translate("QFileDialog", "Look in:"), QStringLiteral("Look in:"));
  }

  // The texts the Chinese window's dialogs showed in English before.
  void chineseTranslatesTheFileAndFolderDialogs() {
    const QString file = QLibraryInfo::path(QLibraryInfo::TranslationsPath) +
                         QStringLiteral("/qtbase_zh_CN.qm");
    if (!QFileInfo::exists(file)) {
      QSKIP(qPrintable(QStringLiteral("Qt's Chinese texts are not installed (") + file +
                       QStringLiteral("; Debian: qt6-translations-l10n)")));
    }
    TQtTranslations translations;
    QVERIFY(translations.Install(TLanguage::Chinese));
    for (const char* text : {"Look in:", "Save As", "Find Directory", "File &name:"}) {
      const QString translated = QCoreApplication::translate("QFileDialog", text);
      QVERIFY2(translated != QString::fromLatin1(text), text);
      QVERIFY2(translated.contains(QRegularExpression(QStringLiteral("[\\x{4e00}-\\x{9fff}]"))),
               qPrintable(translated));
    }
    QVERIFY(QCoreApplication::translate("QPlatformTheme", "&Yes") != QStringLiteral("&Yes"));
  }
};

}  // namespace quillon

QTEST_MAIN(quillon::TQtTranslationsTest)
#include "qt_translations_test.moc"
