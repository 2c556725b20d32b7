#include "process/ui/CSelectionSkipOverwriteDlg.h"

#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace ortavia::ui {

CSelectionSkipOverwriteDlg::CSelectionSkipOverwriteDlg(const QStringList& presentOrthos, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(tr("Warp conditions"));
  auto* box = new QGroupBox(tr("Images present into selected folder"), this);
  list_ = new QListWidget(box);
  list_->setSelectionMode(QAbstractItemView::NoSelection);
  list_->setSortingEnabled(true);
  for (const QString& path : presentOrthos) list_->addItem(QFileInfo(path).completeBaseName());
  (new QVBoxLayout(box))->addWidget(list_);

  QStyle* st = style();
  skip_ = new QPushButton(st->standardIcon(QStyle::SP_MediaSkipForward), tr("Skip present"), this);
  overwrite_ = new QPushButton(st->standardIcon(QStyle::SP_BrowserReload), tr("Overwrite"), this);
  auto* cancel = new QPushButton(st->standardIcon(QStyle::SP_DialogCancelButton), tr("Cancel"), this);
  // Keeping what is there is the safe answer to a stray Enter.
  skip_->setDefault(true);
  connect(skip_, &QPushButton::clicked, this, [this] { done(kSkipPresent); });
  connect(overwrite_, &QPushButton::clicked, this, [this] { done(kOverwrite); });
  connect(cancel, &QPushButton::clicked, this, [this] { done(kCancel); });

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(skip_);
  buttons->addWidget(overwrite_);
  buttons->addStretch(1);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(box, 1);
  layout->addLayout(buttons);
}

}  // namespace ortavia::ui
