#include "products/ui/COrthoPreviewDlg.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "gui/cad_view.h"
#include "model/project.h"
#include "products/ortho_paint.h"

namespace ortavia::ui {

namespace {
constexpr const char* kLayerImage = "Image";
}

COrthoPreviewDlg::COrthoPreviewDlg(const WarpProject& project, QWidget* parent)
    : QDialog(parent), project_(project) {
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
  setModal(false);
  setWindowTitle(tr("Last warp"));
  cad_.AddLayer(kLayerImage, kAciWhite, true);

  auto* frame = new QFrame(this);
  frame->setFrameShape(QFrame::StyledPanel);
  frame->setFrameShadow(QFrame::Sunken);
  auto* frameLayout = new QVBoxLayout(frame);
  frameLayout->setContentsMargins(1, 1, 1, 1);
  view_ = new CadView(frame);
  view_->SetDrawing(&cad_);
  view_->SetEmptyText(tr("The ortho written last shows here"));
  view_->SetDrawImage([this](int code, QPainter& p, const QRectF& picture, const QRect& visible) {
    return code == kOrthoPictureCode && PaintOrthoPicture(p, picture, visible);
  });
  frameLayout->addWidget(view_);

  autoCheck_ = new QCheckBox(tr("Auto update with last warped image"), this);
  autoCheck_->setChecked(autoUpdate_);
  connect(autoCheck_, &QCheckBox::toggled, this, &COrthoPreviewDlg::OnAutoUpdateToggled);
  hide_ = new QPushButton(style()->standardIcon(QStyle::SP_TitleBarMinButton), tr("Hide"), this);
  hide_->setAutoDefault(false);
  connect(hide_, &QPushButton::clicked, this, &QWidget::hide);

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(hide_);
  bottom->addStretch(1);
  bottom->addWidget(autoCheck_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(frame, 1);
  layout->addLayout(bottom);
  resize(720, 480);
}

COrthoPreviewDlg::~COrthoPreviewDlg() { view_->SetDrawing(nullptr); }

void COrthoPreviewDlg::ShowOrtho(const QString& path) {
  if (imageEntity_) {
    cad_.Erase(imageEntity_);
    cad_.Purge();
    imageEntity_ = 0;
  }
  shownPath_.clear();
  dataset_.reset();
  if (!path.isEmpty()) {
    const QByteArray file = path.toUtf8();
    dataset_.reset(GDALDataset::Open(file.constData(), GDAL_OF_RASTER | GDAL_OF_READONLY));
  }
  if (dataset_) {
    // One drawing unit is one ortho pixel. No picture file: the ortho is painted from its
    // dataset only, never read whole into memory by the view.
    const double w = dataset_->GetRasterXSize(), h = dataset_->GetRasterYSize();
    imageEntity_ = cad_.AddImage(kLayerImage, std::string(), {0.0, 0.0}, w, h, kOrthoPictureCode);
    if (imageEntity_) {
      shownPath_ = path;
    } else {
      dataset_.reset();
    }
  }
  // The title names the ortho shown, so that it is not taken for another one.
  setWindowTitle(shownPath_.isEmpty() ? tr("Last warp")
                                      : tr("Last warp - %1").arg(QFileInfo(shownPath_).fileName()));
  view_->Regen();
  if (imageEntity_) view_->ZoomExtents();
}

void COrthoPreviewDlg::OrthoWritten(const QString& path, bool first) {
  if (autoUpdate_ || first) ShowOrtho(path);
  if (first) {
    show();
    raise();
  }
}

void COrthoPreviewDlg::OnAutoUpdateToggled(bool on) {
  autoUpdate_ = on;
  const QString last = QString::fromStdString(project_.lastOrthoPath);
  if (on && last != shownPath_) ShowOrtho(last);
}

bool COrthoPreviewDlg::PaintOrthoPicture(QPainter& painter, const QRectF& picture, const QRect& visible) {
  if (!dataset_ || !imageEntity_) return false;
  const qreal dpr = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
  const cv::Rect2d pictureDevice(picture.x() * dpr, picture.y() * dpr, picture.width() * dpr, picture.height() * dpr);
  const cv::Rect visibleDevice(static_cast<int>(visible.x() * dpr), static_cast<int>(visible.y() * dpr),
                               static_cast<int>(visible.width() * dpr), static_cast<int>(visible.height() * dpr));
  const OrthoPaint paint = PaintOrtho(dataset_.get(), pictureDevice, visibleDevice);
  if (paint.bgr.empty()) return false;
  const QImage image(paint.bgr.data, paint.bgr.cols, paint.bgr.rows, static_cast<qsizetype>(paint.bgr.step),
                     QImage::Format_BGR888);
  painter.save();
  painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  painter.drawImage(QRectF(paint.topLeft.x / dpr, paint.topLeft.y / dpr, paint.bgr.cols / dpr, paint.bgr.rows / dpr),
                    image);
  painter.restore();
  return true;
}

void COrthoPreviewDlg::closeEvent(QCloseEvent* event) {
  event->ignore();
  hide();
}

void COrthoPreviewDlg::reject() { hide(); }

}  // namespace ortavia::ui
