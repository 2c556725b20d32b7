// Passport Add as the operator uses it: the passport dialog opens, Select applies the passport.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "external/tools/profile.h"
#include "passport/passport_database.h"
#include "passport/ui/CSelectPassportDlg.h"
#include "support/passport_files.h"
#include "window_fixture.h"

namespace ortavia::ui::test {
namespace {
namespace fs = std::filesystem;
using B = COrtaviaDlg::Button;
using S = COrtaviaDlg::Step;

fs::path Database() { return fs::path(std::getenv("XDG_DATA_HOME")) / "Kesta" / "passports"; }

// Runs the action on the passport dialog once it is up (modal loops give timers their turn).
void WhenDialogOpens(std::function<void(CSelectPassportDlg*)> action) {
  QTimer::singleShot(0, [action] {
    auto* d = qobject_cast<CSelectPassportDlg*>(QApplication::activeModalWidget());
    ASSERT_NE(d, nullptr);
    action(d);
    if (d->isVisible()) d->reject();
  });
}

class PassportAddTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    fs::remove_all(Database());
    fs::create_directories(Database());
    ortavia::test::WriteText(Database() / "Cam01.BCC", ortavia::test::SimpleBcc("RC30", "5001"));
    // The dialog opens on the passport selected last; each case starts with none remembered.
    GT_WriteUserProfileString(passport::kProfileSection, passport::kProfileIndexKey, "");
    LoadDem();
  }
};

TEST_F(PassportAddTest, SelectAppliesThePassportWithItsLowerCaseName) {
  ASSERT_TRUE(enabled(B::PassportAdd));
  WhenDialogOpens([](CSelectPassportDlg* d) {
    d->PassportCombo()->setCurrentIndex(0);
    d->SelectButton()->click();
  });
  dlg->GetButton(B::PassportAdd)->click();
  ASSERT_TRUE(project().passport);
  EXPECT_EQ(project().passport->model, "RC30");
  EXPECT_EQ(project().cameraName, "cam01.bcc");
  EXPECT_EQ(dlg->PassportEdit()->text(), "RC30 - s.n. 5001");
  EXPECT_EQ(newestLog(), "Passport selected: RC30 (s.n. 5001) - focal length 100.00");
  EXPECT_TRUE(dlg->StepReady(S::Passport));
  EXPECT_TRUE(enabled(B::ImageAdd));
}

TEST_F(PassportAddTest, CancelAndAFailedSelectionChangeNothing) {
  const int rows = logRows();
  WhenDialogOpens([](CSelectPassportDlg* d) { d->CancelButton()->click(); });
  dlg->GetButton(B::PassportAdd)->click();
  WhenDialogOpens([](CSelectPassportDlg* d) { d->SelectButton()->click(); });  // nothing selected
  dlg->GetButton(B::PassportAdd)->click();
  EXPECT_FALSE(project().passport);
  EXPECT_TRUE(project().cameraName.empty());
  EXPECT_EQ(logRows(), rows);
  EXPECT_EQ(prompts.Texts(ScriptedPrompts::Kind::Information), QStringList{"Select a camera passport"});
  EXPECT_FALSE(dlg->StepReady(S::Passport));
}

}  // namespace
}  // namespace ortavia::ui::test
