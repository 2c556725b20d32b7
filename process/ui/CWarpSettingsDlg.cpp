#include "process/ui/CWarpSettingsDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <iterator>

#include "gui/prompts.h"
#include "process/run_process.h"

namespace ortavia::ui {

CWarpSettingsDlg::CWarpSettingsDlg(const WarpSettings& settings, Prompts* prompts, QWidget* parent)
    : QDialog(parent), settings_(settings), prompts_(prompts) {
  if (!prompts_) {
    ownPrompts_ = std::make_unique<QtPrompts>(this);
    prompts_ = ownPrompts_.get();
  }
  setWindowTitle(tr("Warp settings"));

  auto* gsdBox = new QGroupBox(tr("Input Target GSD (Drawing Unit)"), this);
  gsdEdit_ = new QLineEdit(QString::fromStdString(FormatGsd(settings.gsd)), gsdBox);
  gsdEdit_->setObjectName(QStringLiteral("gsd"));
  (new QVBoxLayout(gsdBox))->addWidget(gsdEdit_);

  auto* tileBox = new QGroupBox(tr("Tile Size"), this);
  tileSizes_ = new QComboBox(tileBox);
  tileSizes_->setObjectName(QStringLiteral("tileSize"));
  for (int size : kTileSizes) tileSizes_->addItem(QString::number(size));
  // A stored position the list does not have leaves it without a selection, as stored.
  const bool known = settings.tileSizeIndex >= 0 && settings.tileSizeIndex < static_cast<int>(std::size(kTileSizes));
  tileSizes_->setCurrentIndex(known ? settings.tileSizeIndex : -1);
  auto* tiles = new QVBoxLayout(tileBox);
  tiles->addWidget(tileSizes_);
  // Squares are split where their transform departs further from the exact projection.
  auto* errorLabel =
      new QLabel(tr("Largest error of a square (pixels, 0: every pixel projected)"), tileBox);
  maxError_ = new QLineEdit(QString::fromStdString(FormatPixels(settings.maxError)), tileBox);
  maxError_->setObjectName(QStringLiteral("maxError"));
  errorLabel->setBuddy(maxError_);
  tiles->addWidget(errorLabel);
  tiles->addWidget(maxError_);
  const auto squaresChosen = [this] {
    maxError_->setEnabled(tileSizes_->currentText() != QStringLiteral("1"));
  };
  connect(tileSizes_, &QComboBox::currentIndexChanged, this, squaresChosen);
  squaresChosen();
  occlusion_ = new QCheckBox(tr("Hide ground the image cannot see"), tileBox);
  occlusion_->setObjectName(QStringLiteral("occlusion"));
  occlusion_->setToolTip(tr("True orthos over a surface model with buildings: ground behind a "
                            "building is left transparent instead of showing the building again"));
  occlusion_->setChecked(settings.occlusion);
  tiles->addWidget(occlusion_);

  voronoi_ = new QCheckBox(tr("Use Voronoi map"), this);
  voronoi_->setChecked(settings.useVoronoi);
  voronoi_->setVisible(false);

  auto* filesBox = new QGroupBox(tr("Ortho files"), this);
  auto* files = new QVBoxLayout(filesBox);
  cog_ = new QCheckBox(tr("Cloud-Optimized GeoTIFF"), filesBox);
  cog_->setObjectName(QStringLiteral("cog"));
  cog_->setChecked(settings.cog);
  compress_ = new QComboBox(filesBox);
  compress_->setObjectName(QStringLiteral("compress"));
  compress_->addItem(tr("No compression"), QString());
  for (const char* name : {"DEFLATE", "LZW", "ZSTD", "JPEG"})
    compress_->addItem(QString::fromLatin1(name), QString::fromLatin1(name));
  compress_->setCurrentIndex(std::max(0, compress_->findData(QString::fromStdString(settings.compress))));
  alpha_ = new QCheckBox(tr("Transparent outside each image's own cell"), filesBox);
  alpha_->setObjectName(QStringLiteral("alpha"));
  alpha_->setChecked(settings.alpha);
  files->addWidget(cog_);
  files->addWidget(compress_);
  files->addWidget(alpha_);
  mosaic_ = new QCheckBox(tr("Mosaic: one seamless mosaic.tif beside the orthos"), filesBox);
  mosaic_->setObjectName(QStringLiteral("mosaic"));
  mosaic_->setChecked(settings.mosaic);
  files->addWidget(mosaic_);
  blend_ = new QComboBox(filesBox);
  blend_->setObjectName(QStringLiteral("mosaicBlend"));
  blend_->addItem(tr("Seams feathered"), static_cast<int>(MosaicBlend::Feather));
  blend_->addItem(tr("Seams blended by frequency bands (multi-band)"), static_cast<int>(MosaicBlend::Multiband));
  blend_->addItem(tr("Seams not blended"), static_cast<int>(MosaicBlend::None));
  blend_->setCurrentIndex(std::max(0, blend_->findData(static_cast<int>(settings.mosaicBlend))));
  blend_->setEnabled(settings.mosaic);
  connect(mosaic_, &QCheckBox::toggled, blend_, &QWidget::setEnabled);
  files->addWidget(blend_);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  ok_ = buttons->button(QDialogButtonBox::Ok);
  connect(buttons, &QDialogButtonBox::accepted, this, &CWarpSettingsDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &CWarpSettingsDlg::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(gsdBox);
  layout->addWidget(tileBox);
  layout->addWidget(voronoi_);
  layout->addWidget(filesBox);
  layout->addWidget(buttons);
  gsdEdit_->selectAll();
  gsdEdit_->setFocus();
}

CWarpSettingsDlg::~CWarpSettingsDlg() = default;

void CWarpSettingsDlg::accept() {
  const std::optional<double> gsd = ParseGsd(gsdEdit_->text().toStdString());
  if (!gsd) {
    prompts_->Inform(QString::fromUtf8(kInvalidGsdMessage));
    gsdEdit_->setFocus();
    gsdEdit_->selectAll();
    return;
  }
  const std::optional<double> maxError = ParseMaxError(maxError_->text().toStdString());
  if (!maxError) {
    prompts_->Inform(QString::fromUtf8(kInvalidMaxErrorMessage));
    maxError_->setFocus();
    maxError_->selectAll();
    return;
  }
  settings_.gsd = *gsd;
  settings_.maxError = *maxError;
  // Without a selection (a stored position the list lacks) the run takes "16".
  settings_.tileSizeIndex = ValidTileSizeIndex(tileSizes_->currentIndex());
  settings_.tileStep = TileStepAt(settings_.tileSizeIndex);
  settings_.useVoronoi = voronoi_->isChecked();
  settings_.cog = cog_->isChecked();
  settings_.compress = compress_->currentData().toString().toStdString();
  settings_.alpha = alpha_->isChecked();
  settings_.occlusion = occlusion_->isChecked();
  settings_.mosaic = mosaic_->isChecked();
  settings_.mosaicBlend = static_cast<MosaicBlend>(blend_->currentData().toInt());
  QDialog::accept();
}

}  // namespace ortavia::ui
