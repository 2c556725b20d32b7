#include "app/CSelectBandDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include <cpl_error.h>
#include <gdal_priv.h>

#include "app/CPreviewWnd.h"
#include "external/geo/gdal_extract_roi.h"
#include "gui/prompts.h"

namespace ortavia::ui {

namespace {
constexpr int kPreviewWidth = 512;
constexpr int kMaxPreviewHeight = 8192;  // a sliver of an image must not ask for gigabytes
}

CSelectBandDlg::CSelectBandDlg(std::vector<int>* roles, int bandCount, const std::string& imagePath,
                               QWidget* parent)
    : QDialog(parent), roles_(roles), bandCount_(bandCount), imagePath_(imagePath) {
  ownPrompts_ = std::make_unique<QtPrompts>(this);
  prompts_ = ownPrompts_.get();
  setWindowTitle(QString::fromUtf8(kSelectBandCaption));

  auto* text = new QLabel(QString::fromUtf8(kSelectBandText), this);
  text->setWordWrap(true);
  auto* form = new QFormLayout;
  const std::array<int, kBandLists> proposal =
      ProposeBandSelection(bandCount, roles ? *roles : std::vector<int>{});
  for (int band = 1; band <= kBandLists; ++band) {
    auto* list = new QComboBox(this);
    for (const BandChoice& c : BandChoices(bandCount, band)) list->addItem(QString::fromStdString(c.text), c.code);
    list->setCurrentIndex(proposal[static_cast<std::size_t>(band - 1)]);
    lists_[static_cast<std::size_t>(band - 1)] = list;
    form->addRow(tr("Band %1:").arg(band), list);
    const bool shown = list->count() > 0;
    list->setVisible(shown);
    form->labelForField(list)->setVisible(shown);
  }

  showPreview_ = new QCheckBox(tr("Show Preview"), this);
  update_ = new QPushButton(tr("Update"), this);
  update_->setAutoDefault(false);
  preview_ = new CPreviewWnd(this);
  preview_->setMinimumSize(360, 270);
  preview_->SetImage(cv::Mat());
  connect(showPreview_, &QCheckBox::toggled, this, &CSelectBandDlg::RefreshPreview);
  connect(update_, &QPushButton::clicked, this, &CSelectBandDlg::OnUpdate);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &CSelectBandDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &CSelectBandDlg::reject);

  auto* previewRow = new QHBoxLayout;
  previewRow->addWidget(showPreview_);
  previewRow->addStretch(1);
  previewRow->addWidget(update_);
  auto* left = new QVBoxLayout;
  left->addWidget(text);
  left->addLayout(form);
  left->addStretch(1);
  left->addLayout(previewRow);
  auto* top = new QHBoxLayout;
  top->addLayout(left);
  top->addWidget(preview_, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top, 1);
  layout->addWidget(buttons);
}

CSelectBandDlg::~CSelectBandDlg() = default;

void CSelectBandDlg::SetPrompts(Prompts* prompts) { prompts_ = prompts ? prompts : ownPrompts_.get(); }

int CSelectBandDlg::exec() {
  if (!roles_ || imagePath_.empty()) {
    setResult(QDialog::Rejected);
    return QDialog::Rejected;
  }
  return QDialog::exec();
}

std::array<int, kBandLists> CSelectBandDlg::Selection() const {
  std::array<int, kBandLists> s{};
  for (std::size_t i = 0; i < s.size(); ++i) s[i] = lists_[i]->currentIndex();
  return s;
}

bool CSelectBandDlg::Apply() {
  if (!roles_) return false;
  const std::string missing = ApplyBandSelection(bandCount_, Selection(), *roles_);
  if (missing.empty()) return true;
  prompts_->Inform(QString::fromStdString(missing));
  return false;
}

void CSelectBandDlg::accept() {
  if (Apply()) QDialog::accept();
}

void CSelectBandDlg::OnUpdate() {
  if (Apply()) RefreshPreview();
}

void CSelectBandDlg::RefreshPreview() {
  if (!showPreview_->isChecked()) {
    preview_->SetImage(cv::Mat());
    return;
  }
  // The preview only looks: the image is opened read-only, so no statistics or side files are
  // written into the operator's data.
  CPLPushErrorHandler(CPLQuietErrorHandler);
  GDALDatasetUniquePtr ds(GDALDataset::Open(imagePath_.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
  CPLPopErrorHandler();
  if (!ds || ds->GetRasterXSize() < 1 || ds->GetRasterYSize() < 1) {
    preview_->SetImage(cv::Mat());
    return;
  }
  const long long fitted = static_cast<long long>(kPreviewWidth) * ds->GetRasterYSize() / ds->GetRasterXSize();
  const int height = static_cast<int>(std::clamp<long long>(fitted, 1, kMaxPreviewHeight));
  cv::Mat picture(height, kPreviewWidth, CV_8UC3, cv::Scalar::all(0));
  if (!geo::GDALExtractROI(ds.get(), picture, nullptr, geo::kExtractDisplay, roles_)) picture.release();
  preview_->SetImage(picture);
}

std::optional<std::vector<int>> SelectBandOrder(QWidget* parent, const std::string& imagePath, int bandCount,
                                                std::vector<int> roles) {
  CSelectBandDlg dlg(&roles, bandCount, imagePath, parent);
  if (dlg.exec() != QDialog::Accepted) return std::nullopt;
  return roles;
}

}  // namespace ortavia::ui
