#pragma once
// The notification settings: the switch, the recipients, the SMTP server and the subject, with a
// test message. The dialog edits a copy; Settings() holds the confirmed values after OK.
#include <QDialog>
#include <memory>

#include "report/notification.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace ortavia::ui {

class Prompts;

class CProcessSettingsDlg : public QDialog {
  Q_OBJECT
 public:
  // prompts: where messages go (message boxes of the dialog's own when null).
  CProcessSettingsDlg(const MailSettings& settings, Prompts* prompts, QWidget* parent = nullptr);
  ~CProcessSettingsDlg() override;

  const MailSettings& Settings() const { return settings_; }
  // Time-outs and pump of the test message (the window's pump by default).
  void SetMailOptions(const MailOptions& options) { mailOptions_ = options; }

  // Sends the test message from the fields as they stand.
  void OnTest();

  QCheckBox* SendCheck() const { return send_; }
  QLineEdit* ToEdit() const { return to_; }
  QLineEdit* ServerEdit() const { return server_; }
  QLineEdit* SubjectEdit() const { return subject_; }
  QLineEdit* UserEdit() const { return user_; }
  QLineEdit* PasswordEdit() const { return password_; }  // masked
  QLineEdit* SenderEdit() const { return sender_; }
  QPushButton* TestButton() const { return test_; }
  QPushButton* OkButton() const { return ok_; }

 public slots:
  // OK: refuses sending on without a server and keeps the dialog open; otherwise takes the fields.
  void accept() override;

 private:
  MailSettings Fields() const;
  void EnableFields(bool on);

  MailSettings settings_;
  Prompts* prompts_;
  std::unique_ptr<Prompts> ownPrompts_;
  MailOptions mailOptions_;
  QCheckBox* send_ = nullptr;
  QLineEdit* to_ = nullptr;
  QLineEdit* server_ = nullptr;
  QLineEdit* subject_ = nullptr;
  QLineEdit* user_ = nullptr;
  QLineEdit* password_ = nullptr;
  QLineEdit* sender_ = nullptr;
  QPushButton* test_ = nullptr;
  QPushButton* ok_ = nullptr;
};

}  // namespace ortavia::ui
