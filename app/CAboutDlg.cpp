#include "app/CAboutDlg.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "external/tools/sysinfo.h"
#include "gui/icons.h"
#include "gui/maker.h"

namespace ortavia::ui {

QString CAboutDlg::VersionText(const QString& versionInfo) {
  QString v = versionInfo;
  v.replace(',', '.');
  return QStringLiteral("Ver. %1").arg(v);
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("About %1").arg(kProductName));
  auto* icon = new QLabel(this);
  icon->setPixmap(AppIcon().pixmap(64, 64));
  icon->setAlignment(Qt::AlignTop);

  auto* name = new QLabel(QStringLiteral("<b style='font-size:16pt'>%1</b>").arg(kProductName), this);
  auto* version = new QLabel(VersionText(QString::fromStdString(GT_GetVersionInfo())), this);
  version->setObjectName("version");
  auto* maker = new QLabel(QString::fromUtf8(kMakerName), this);
  auto* mail = new QLabel(QStringLiteral("<a href='mailto:%1'>%1</a>").arg(kMakerMail), this);
  auto* web = new QLabel(QStringLiteral("<a href='%1'>%2</a>").arg(kMakerWeb, kMakerWebShort), this);
  for (QLabel* link : {mail, web}) {
    link->setOpenExternalLinks(true);
    link->setTextInteractionFlags(Qt::TextBrowserInteraction);
  }

  auto* text = new QVBoxLayout;
  text->addWidget(name);
  text->addWidget(version);
  text->addSpacing(8);
  text->addWidget(maker);
  text->addWidget(mail);
  text->addWidget(web);
  text->addStretch(1);

  auto* top = new QHBoxLayout;
  top->addWidget(icon);
  top->addSpacing(12);
  top->addLayout(text, 1);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(buttons);
  setFixedSize(sizeHint().expandedTo(QSize(360, 0)));
}

}  // namespace ortavia::ui
