#pragma once
// The folder dialog of 恢复数据: an existing folder, or one that is still to be made,
// typed into its name field. A recovery creates its output folder itself, so a new one is
// what the person is often after; Qt's own directory mode refuses a name that does not
// exist yet.

#include <QFileDialog>

namespace quillon {

class TNewFolderDialog : public QFileDialog {
  Q_OBJECT
 public:
  explicit TNewFolderDialog(QWidget* parent);

  // The chosen folder as an absolute path in the platform's form; empty before accept.
  QString ChosenFolder() const { return chosen_; }

 public slots:
  // Takes a typed folder that does not exist yet as it is (the recovery makes it); an
  // existing folder as the dialog takes it; a typed name of an existing file is refused
  // by the dialog as before.
  void accept() override;

 private:
  QString chosen_;
};

}  // namespace quillon
