#pragma once
// The ortho preview: a modeless window with a CAD view of its own that shows the ortho the run
// wrote last, painted from its GeoTIFF at screen resolution. Closing it only hides it.
#include <QDialog>
#include <QString>

#include <gdal_priv.h>

#include "model/cad_drawing.h"

class QCheckBox;
class QPainter;
class QPushButton;

namespace ortavia {
struct WarpProject;
}

namespace ortavia::ui {

class CadView;

class COrthoPreviewDlg : public QDialog {
  Q_OBJECT
 public:
  // project: read for lastOrthoPath when the auto-update box is ticked; must outlive the window.
  COrthoPreviewDlg(const WarpProject& project, QWidget* parent = nullptr);
  ~COrthoPreviewDlg() override;

  // Replaces the shown ortho; an empty or unreadable path leaves the window empty.
  void ShowOrtho(const QString& path);
  // After an ortho of a run was written (lastOrthoPath already set): shown when auto-update is on
  // or it is the run's first; the window opens after the first.
  void OrthoWritten(const QString& path, bool first);

  bool AutoUpdate() const { return autoUpdate_; }
  QString ShownPath() const { return shownPath_; }
  bool HasOrtho() const { return dataset_ != nullptr; }
  CadHandle ImageEntity() const { return imageEntity_; }
  const CadDrawing& Drawing() const { return cad_; }
  CadView* View() const { return view_; }
  QCheckBox* AutoUpdateCheck() const { return autoCheck_; }
  QPushButton* HideButton() const { return hide_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  void OnAutoUpdateToggled(bool on);
  bool PaintOrthoPicture(QPainter& painter, const QRectF& picture, const QRect& visible);

  const WarpProject& project_;
  CadDrawing cad_;
  CadView* view_ = nullptr;
  QCheckBox* autoCheck_ = nullptr;
  QPushButton* hide_ = nullptr;
  CadHandle imageEntity_ = 0;
  GDALDatasetUniquePtr dataset_;
  QString shownPath_;
  bool autoUpdate_ = true;
};

}  // namespace ortavia::ui
