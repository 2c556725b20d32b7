#pragma once
// "Warp conditions": the orthos already in the destination folder, and whether the run keeps
// them ("Skip present") or writes them again ("Overwrite").
#include <QDialog>
#include <QStringList>

class QListWidget;
class QPushButton;

namespace ortavia::ui {

class CSelectionSkipOverwriteDlg : public QDialog {
  Q_OBJECT
 public:
  enum Code { kCancel = 0, kSkipPresent = 100, kOverwrite = 200 };

  // presentOrthos: full paths; the list shows their file names without folder and extension.
  explicit CSelectionSkipOverwriteDlg(const QStringList& presentOrthos, QWidget* parent = nullptr);

  QListWidget* List() const { return list_; }
  QPushButton* SkipButton() const { return skip_; }
  QPushButton* OverwriteButton() const { return overwrite_; }

 private:
  QListWidget* list_ = nullptr;
  QPushButton* skip_ = nullptr;
  QPushButton* overwrite_ = nullptr;
};

}  // namespace ortavia::ui
