#pragma once
// The warp settings asked at every Start: the target GSD, the tile size and the largest error a
// square may have before it is split. Edits a copy of the
// settings it was given; Settings() holds the confirmed values after OK.
#include <QDialog>
#include <memory>

#include "process/warp_settings.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace ortavia::ui {

class Prompts;

class CWarpSettingsDlg : public QDialog {
  Q_OBJECT
 public:
  // prompts: where the refusal of a GSD is shown (a message box of the dialog's own when null).
  CWarpSettingsDlg(const WarpSettings& settings, Prompts* prompts, QWidget* parent = nullptr);
  ~CWarpSettingsDlg() override;

  const WarpSettings& Settings() const { return settings_; }

  QLineEdit* GsdEdit() const { return gsdEdit_; }
  QComboBox* TileSizeList() const { return tileSizes_; }
  QLineEdit* MaxErrorEdit() const { return maxError_; }
  QCheckBox* VoronoiCheck() const { return voronoi_; }
  QCheckBox* CogCheck() const { return cog_; }
  QComboBox* CompressionList() const { return compress_; }
  QCheckBox* AlphaCheck() const { return alpha_; }
  QCheckBox* OcclusionCheck() const { return occlusion_; }
  QCheckBox* MosaicCheck() const { return mosaic_; }
  QComboBox* MosaicBlendList() const { return blend_; }
  QPushButton* OkButton() const { return ok_; }

 public slots:
  // OK: refuses a GSD that is no number above 0, or a largest error that is no number of pixels
  // from 0 up, and keeps the dialog open; otherwise takes the values and closes.
  void accept() override;

 private:
  WarpSettings settings_;
  Prompts* prompts_;
  std::unique_ptr<Prompts> ownPrompts_;
  QLineEdit* gsdEdit_ = nullptr;
  QComboBox* tileSizes_ = nullptr;
  QLineEdit* maxError_ = nullptr;
  QCheckBox* voronoi_ = nullptr;
  QCheckBox* cog_ = nullptr;
  QComboBox* compress_ = nullptr;
  QCheckBox* alpha_ = nullptr;
  QCheckBox* occlusion_ = nullptr;
  QCheckBox* mosaic_ = nullptr;
  QComboBox* blend_ = nullptr;
  QPushButton* ok_ = nullptr;
};

}  // namespace ortavia::ui
