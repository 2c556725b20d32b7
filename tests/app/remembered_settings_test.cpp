// What the window keeps for the next session: its layout and the e-mail login with a masked
// password kept out of the profile.
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "external/tools/profile.h"
#include "gui/folder_memory.h"
#include "report/mail_password.h"
#include "report/ui/CProcessSettingsDlg.h"
#include "support/fake_smtp.h"
#include "support/test_env.h"
#include "window_fixture.h"

namespace ortavia::ui::test {
namespace {

namespace fs = std::filesystem;
using K = ScriptedPrompts::Kind;

TEST_F(WindowTest, LayoutComesBackInTheNextSession) {
  dlg->setWindowState(Qt::WindowNoState);
  dlg->setGeometry(40, 50, 900, 640);
  dlg->ProcessSplitter()->setSizes({210, 690});
  dlg->ViewLogSplitter()->setSizes({400, 150});
  const QByteArray process = dlg->ProcessSplitter()->saveState();
  const QByteArray viewLog = dlg->ViewLogSplitter()->saveState();
  dlg->accept();  // closing, as Exit does

  auto next = std::make_unique<COrtaviaDlg>();
  EXPECT_EQ(next->size(), QSize(900, 640));
  EXPECT_FALSE(next->windowState() & Qt::WindowMaximized);
  EXPECT_EQ(next->ProcessSplitter()->saveState(), process);
  EXPECT_EQ(next->ViewLogSplitter()->saveState(), viewLog);
  // The windows of the other tests open as on a first start.
  for (const char* key : {"MainWindow", "MainWindowProcessSplitter", "MainWindowLogSplitter"})
    StoreLayout(QString::fromUtf8(key), {});
}

TEST_F(WindowTest, MailLoginHasItsOwnFieldsAndThePasswordStaysOutOfTheProfile) {
  const MailSettings before = ReadMailSettings();
  ortavia::test::FakeSmtpServer server;
  QTimer::singleShot(0, [&] {
    auto* d = qobject_cast<CProcessSettingsDlg*>(QApplication::activeModalWidget());
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->PasswordEdit()->echoMode(), QLineEdit::Password);
    d->ToEdit()->setText("ops@a.example");
    d->ServerEdit()->setText(QString::fromStdString(server.Address()));
    d->UserEdit()->setText("survey");
    d->PasswordEdit()->setText("s3cret word");
    d->SenderEdit()->setText("survey@a.example");
    for (QPushButton* b : d->findChildren<QPushButton*>())
      if (b->text() == "Test") b->click();
    d->accept();
  });
  dlg->OnSettings();

  EXPECT_EQ(prompts.Texts(K::Information).value(0), "Email sent to specified addresses.\nPlease check if you received it");
  bool fromSender = false;
  for (const std::string& c : server.Commands()) fromSender |= c.rfind("MAIL FROM:<survey@a.example>", 0) == 0;
  EXPECT_TRUE(fromSender) << "the sender address replaces the fixed one";

  EXPECT_EQ(GT_GetUserProfileString("EMailSettings", "SMTP_User", ""), "survey");
  EXPECT_EQ(GT_GetUserProfileString("EMailSettings", "SMTP_From", ""), "survey@a.example");
  std::ifstream ini(fs::path(std::getenv("XDG_CONFIG_HOME")) / "Ortavia" / "Ortavia.ini");
  const std::string profile((std::istreambuf_iterator<char>(ini)), std::istreambuf_iterator<char>());
  EXPECT_EQ(profile.find("s3cret"), std::string::npos);
  const fs::perms perms = fs::status(MailPasswordPath()).permissions();
  EXPECT_EQ(perms & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(ReadMailSettings().password, "s3cret word");

  // A password file others can read is not trusted.
  fs::permissions(MailPasswordPath(), fs::perms::group_read, fs::perm_options::add);
  EXPECT_EQ(LoadMailPassword(), "");
  // The windows of the other tests start from the settings as they were.
  WriteMailSettings(before);
}

}  // namespace
}  // namespace ortavia::ui::test
