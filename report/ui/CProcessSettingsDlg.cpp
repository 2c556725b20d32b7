#include "report/ui/CProcessSettingsDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "external/geo/pump.h"
#include "gui/prompts.h"

namespace ortavia::ui {

CProcessSettingsDlg::CProcessSettingsDlg(const MailSettings& settings, Prompts* prompts, QWidget* parent)
    : QDialog(parent), settings_(settings), prompts_(prompts) {
  if (!prompts_) {
    ownPrompts_ = std::make_unique<QtPrompts>(this);
    prompts_ = ownPrompts_.get();
  }
  mailOptions_.pump = [] { geo::PumpMsgs(); };
  setWindowTitle(tr("Settings"));

  send_ = new QCheckBox(tr("Send an email when process is completed"), this);
  to_ = new QLineEdit(QString::fromStdString(settings.recipients), this);
  to_->setPlaceholderText(tr("Separate multiple recipients using comma"));
  server_ = new QLineEdit(QString::fromStdString(settings.smtpServer), this);
  server_->setPlaceholderText(tr("host, host:port, smtp://host:port or smtps://host:port"));
  subject_ = new QLineEdit(QString::fromStdString(settings.subject), this);
  user_ = new QLineEdit(QString::fromStdString(settings.user), this);
  user_->setPlaceholderText(tr("Empty when the server needs no login"));
  password_ = new QLineEdit(QString::fromStdString(settings.password), this);
  password_->setEchoMode(QLineEdit::Password);
  password_->setToolTip(tr("Kept in the desktop's keyring, else in a file only you can read; never in the settings file"));
  sender_ = new QLineEdit(QString::fromStdString(settings.sender), this);
  sender_->setPlaceholderText(QString::fromUtf8(kMailSender));
  sender_->setToolTip(tr("Servers with a login accept only their own addresses as sender"));
  auto* hint = new QLabel(tr("Separate multiple recipients using comma"), this);
  hint->setEnabled(false);

  auto* form = new QFormLayout;
  form->addRow(tr("To:"), to_);
  form->addRow(QString(), hint);
  form->addRow(tr("SMTP Server:"), server_);
  form->addRow(tr("Subject:"), subject_);
  form->addRow(tr("User:"), user_);
  form->addRow(tr("Password:"), password_);
  form->addRow(tr("From:"), sender_);

  QStyle* st = style();
  test_ = new QPushButton(st->standardIcon(QStyle::SP_ArrowRight), tr("Test"), this);
  test_->setAutoDefault(false);
  connect(test_, &QPushButton::clicked, this, &CProcessSettingsDlg::OnTest);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->addButton(test_, QDialogButtonBox::ActionRole);
  ok_ = buttons->button(QDialogButtonBox::Ok);
  connect(buttons, &QDialogButtonBox::accepted, this, &CProcessSettingsDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &CProcessSettingsDlg::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(send_);
  layout->addLayout(form);
  layout->addWidget(buttons);
  resize(460, sizeHint().height());

  send_->setChecked(settings.sendEmail);
  EnableFields(settings.sendEmail);
  connect(send_, &QCheckBox::toggled, this, &CProcessSettingsDlg::EnableFields);
}

CProcessSettingsDlg::~CProcessSettingsDlg() = default;

void CProcessSettingsDlg::EnableFields(bool on) {
  for (QWidget* w : std::initializer_list<QWidget*>{to_, server_, subject_, user_, password_, sender_, test_}) w->setEnabled(on);
}

MailSettings CProcessSettingsDlg::Fields() const {
  MailSettings f;
  f.sendEmail = send_->isChecked();
  f.recipients = to_->text().trimmed().toStdString();
  f.smtpServer = server_->text().trimmed().toStdString();
  f.subject = subject_->text().toStdString();
  f.user = user_->text().trimmed().toStdString();
  f.password = password_->text().toStdString();
  f.sender = sender_->text().trimmed().toStdString();
  return f;
}

void CProcessSettingsDlg::accept() {
  const MailSettings fields = Fields();
  if (fields.sendEmail && fields.smtpServer.empty()) {
    prompts_->Inform(QString::fromUtf8(kNeedServerMessage));
    server_->setFocus();
    return;
  }
  settings_ = fields;
  QDialog::accept();
}

void CProcessSettingsDlg::OnTest() {
  const MailSettings fields = Fields();
  if (fields.recipients.empty() || fields.smtpServer.empty()) {
    prompts_->Inform(QString::fromUtf8(kNeedAddressesMessage));
    return;
  }
  MailMessage m = MailMessageFor(fields);
  m.subject = fields.subject;
  m.body = kTestMailBody;
  // The window stays alive while the server is asked; the dialog waits for its answer.
  setEnabled(false);
  QApplication::setOverrideCursor(Qt::BusyCursor);
  const MailResult r = SendMail(m, mailOptions_);
  QApplication::restoreOverrideCursor();
  setEnabled(true);
  if (r.sent)
    prompts_->Inform(QString::fromUtf8(kTestMailSent));
  else
    prompts_->Inform(QString::fromUtf8(kTestMailFailed) + QLatin1Char('\n') + QString::fromStdString(r.error));
}

}  // namespace ortavia::ui
