#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include "gui/prompts.h"
#include "report/ui/CProcessSettingsDlg.h"
#include "support/fake_smtp.h"

namespace ortavia::ui {
namespace {

using Kind = ScriptedPrompts::Kind;
using test::FakeSmtpServer;

const MailSettings kInForce{true, "ops@a.example", "mail.a.example", "Block 7"};

MailOptions Quick() {
  MailOptions o;
  o.connectTimeoutMs = 1000;
  o.totalTimeoutMs = 2000;
  return o;
}

TEST(ProcessSettingsDlg, OpensWithTheSettingsAndTheSwitchEnablesTheFields) {
  ScriptedPrompts prompts;
  for (bool on : {true, false}) {
    MailSettings s = kInForce;
    s.sendEmail = on;
    CProcessSettingsDlg dlg(s, &prompts);
    EXPECT_EQ(dlg.SendCheck()->isChecked(), on);
    EXPECT_EQ(dlg.ToEdit()->text(), "ops@a.example");
    EXPECT_EQ(dlg.ServerEdit()->text(), "mail.a.example");
    EXPECT_EQ(dlg.SubjectEdit()->text(), "Block 7");
    for (QWidget* w : {static_cast<QWidget*>(dlg.ToEdit()), static_cast<QWidget*>(dlg.ServerEdit()),
                       static_cast<QWidget*>(dlg.SubjectEdit()), static_cast<QWidget*>(dlg.TestButton())}) {
      EXPECT_EQ(w->isEnabled(), on);
    }
    dlg.SendCheck()->setChecked(!on);
    EXPECT_EQ(dlg.TestButton()->isEnabled(), !on);
    EXPECT_EQ(dlg.ServerEdit()->isEnabled(), !on);
  }
}

TEST(ProcessSettingsDlg, OkRules) {
  struct Case {
    bool send;
    const char* server;
    bool accepted;
  };
  for (const Case& c : {Case{true, "", false}, Case{true, "  ", false}, Case{false, "", true},
                        Case{true, "smtp.b.example", true}}) {
    ScriptedPrompts prompts;
    CProcessSettingsDlg dlg(kInForce, &prompts);
    dlg.show();
    dlg.SendCheck()->setChecked(c.send);
    dlg.ServerEdit()->setText(c.server);
    dlg.ToEdit()->setText("new@b.example");
    QTest::mouseClick(dlg.OkButton(), Qt::LeftButton);
    if (c.accepted) {
      EXPECT_EQ(dlg.result(), QDialog::Accepted);
      EXPECT_EQ(dlg.Settings().sendEmail, c.send);
      EXPECT_EQ(dlg.Settings().smtpServer, QString(c.server).trimmed().toStdString());
      EXPECT_EQ(dlg.Settings().recipients, "new@b.example");
      EXPECT_TRUE(prompts.Log().empty());
    } else {
      EXPECT_TRUE(dlg.isVisible());
      EXPECT_EQ(prompts.Texts(Kind::Information), QStringList{"You must provide a SMTP server address"});
      // A refused OK changes nothing in force: Cancel now keeps the old values.
      dlg.reject();
      EXPECT_EQ(dlg.Settings(), kInForce);
    }
  }
}

TEST(ProcessSettingsDlg, TestSendsTheFieldsAsTypedAndSaysWhyItFailed) {
  FakeSmtpServer good;
  FakeSmtpServer refusing(FakeSmtpServer::Mode::RefuseRecipient);
  struct Case {
    std::string to, server, subject;
    const char* answer;  // start of the message shown
    const char* cause;
  };
  const Case cases[] = {
      {"", good.Address(), "x", "Recipients address and SMTP server address are needed!", nullptr},
      {"t@c.example", "", "x", "Recipients address and SMTP server address are needed!", nullptr},
      {"t@c.example", good.Address(), "", "Email sent to specified addresses.\nPlease check if you received it", nullptr},
      {"t@c.example", refusing.Address(), "x", "Unable to send the email.\n", "550 5.1.1 mailbox unknown"},
  };
  for (const Case& c : cases) {
    ScriptedPrompts prompts;
    CProcessSettingsDlg dlg(kInForce, &prompts);
    dlg.SetMailOptions(Quick());
    dlg.ToEdit()->setText(QString::fromStdString(c.to));
    dlg.ServerEdit()->setText(QString::fromStdString(c.server));
    dlg.SubjectEdit()->setText(QString::fromStdString(c.subject));
    dlg.OnTest();
    const QStringList info = prompts.Texts(Kind::Information);
    ASSERT_EQ(info.size(), 1);
    EXPECT_TRUE(info[0].startsWith(c.answer)) << info[0].toStdString();
    if (c.cause) {
      EXPECT_TRUE(info[0].contains(c.cause)) << info[0].toStdString();
    }
    EXPECT_FALSE(info[0].contains("bmail"));
    EXPECT_TRUE(dlg.isEnabled());
    // Test edits nothing in force.
    dlg.reject();
    EXPECT_EQ(dlg.Settings(), kInForce);
  }
  // The test message keeps an empty subject empty and says what it is.
  ASSERT_EQ(good.Messages().size(), 1u);
  const std::string data = good.Messages()[0];
  EXPECT_NE(data.find("\nSubject: \n"), std::string::npos);
  EXPECT_NE(data.find("This is a test email!"), std::string::npos);
  EXPECT_EQ(data.find("filename="), std::string::npos);
}

}  // namespace
}  // namespace ortavia::ui
