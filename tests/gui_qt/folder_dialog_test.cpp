// The folder dialog of 恢复数据 on the offscreen platform: a typed folder that does not exist
// yet is taken (the recovery makes it), an existing one as ever, and the name of a file is
// not a folder.

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QtTest>

#include "gui_qt/folder_dialog.h"

namespace quillon {

class TFolderDialogTest : public QObject {
  Q_OBJECT

 private:
  // Types name into the dialog's name field and presses its accept button's slot.
  static void TypeAndAccept(TNewFolderDialog& dialog, const QString& name) {
    auto* edit = dialog.findChild<QLineEdit*>("fileNameEdit");
    QVERIFY(edit != nullptr);
    edit->setText(name);
    dialog.accept();
  }

 private slots:
  void TakesATypedFolderThatDoesNotExistYet() {
    QTemporaryDir root;
    QVERIFY(root.isValid());
    TNewFolderDialog dialog(nullptr);
    dialog.setDirectory(root.path());
    TypeAndAccept(dialog, "恢复64");
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.ChosenFolder(), QDir::toNativeSeparators(root.filePath("恢复64")));
    QVERIFY(!QFileInfo::exists(root.filePath("恢复64")));  // made by the recovery, not here
  }

  void TakesAnExistingFolderAndRefusesAFile() {
    QTemporaryDir root;
    QVERIFY(root.isValid());
    QVERIFY(QDir(root.path()).mkdir("old"));
    QFile file(root.filePath("notes.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();

    TNewFolderDialog refused(nullptr);
    refused.setDirectory(root.path());
    TypeAndAccept(refused, "notes.txt");
    QVERIFY(refused.result() != int(QDialog::Accepted));
    QVERIFY(refused.ChosenFolder().isEmpty());

    TNewFolderDialog dialog(nullptr);
    dialog.setDirectory(root.path());
    TypeAndAccept(dialog, root.filePath("old"));
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.ChosenFolder(), QDir::toNativeSeparators(root.filePath("old")));
  }
};

}  // namespace quillon

QTEST_MAIN(quillon::TFolderDialogTest)
#include "folder_dialog_test.moc"
