#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QFrame>
#include <QHeaderView>
#include <QScrollBar>
#include <QPushButton>
#include <QTableWidget>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "external/tools/profile.h"
#include "gui/cad_view.h"
#include "gui/prompts.h"
#include "passport/ui/CSelectPassportDlg.h"
#include "support/passport_files.h"
#include "support/test_env.h"

namespace ortavia::ui {
namespace {
namespace fs = std::filesystem;
using K = ScriptedPrompts::Kind;

fs::path Database() { return fs::path(std::getenv("XDG_DATA_HOME")) / "Kesta" / "passports"; }

class SelectPassportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::remove_all(Database());
    fs::create_directories(Database());
    Remember("");
    in = test::MakeTempDir("in");
  }
  static void Remember(const char* index) {
    GT_WriteUserProfileString("Passport", "LastSelectedPassportIndex", index);
  }
  static std::string Remembered() { return GT_GetUserProfileString("Passport", "LastSelectedPassportIndex", "?"); }
  // Two passports: "a.bcc" (RC30) and "B.ccb" (UltraCam), listed B.ccb first.
  void TwoPassports() {
    test::WriteText(Database() / "a.bcc", test::SimpleBcc());
    test::WriteText(Database() / "B.ccb", test::SimpleCcb());
  }
  std::unique_ptr<CSelectPassportDlg> Open() { return std::make_unique<CSelectPassportDlg>(&prompts); }
  static QString Cell(const CSelectPassportDlg& d, int row, int column) {
    return d.Table()->item(row, column)->text();
  }
  ScriptedPrompts prompts;
  fs::path in;
};

TEST_F(SelectPassportTest, EmptyDatabaseSelectsNothingAndSelectAsksForOne) {
  auto d = Open();
  EXPECT_EQ(d->windowTitle(), "Select your Passport");
  EXPECT_EQ(d->PassportCombo()->count(), 0);
  EXPECT_EQ(d->PassportCombo()->currentIndex(), -1);
  d->SelectPassport();
  EXPECT_EQ(prompts.Texts(K::Information), QStringList{"Select a camera passport"});
  EXPECT_EQ(d->result(), QDialog::Rejected);
  EXPECT_EQ(Remembered(), "") << "nothing remembered without a selection";
  EXPECT_EQ(d->Passport(), nullptr);
}

TEST_F(SelectPassportTest, RememberedPositionSelectsOnlyWhenInsideTheList) {
  TwoPassports();
  struct Case {
    const char* stored;
    int selection;
    QString model;
  };
  const std::vector<Case> cases = {
      {"", -1, "<new camera passport>"}, {"2", -1, "<new camera passport>"}, {"7", -1, "<new camera passport>"},
      {"-1", -1, "<new camera passport>"}, {"1", 1, "RC30"}, {"0", 0, "UltraCam"}, {"x", 0, "UltraCam"}};
  for (const auto& c : cases) {
    Remember(c.stored);
    auto d = Open();
    EXPECT_EQ(d->PassportCombo()->currentIndex(), c.selection) << c.stored;
    EXPECT_EQ(Cell(*d, 0, 1), c.model) << c.stored;
    if (c.selection < 0) {
      for (int row = 1; row <= 12; ++row) EXPECT_EQ(Cell(*d, row, 1), "") << c.stored << " row " << row;
      EXPECT_EQ(Cell(*d, 13, 1), "(K1*r^3)+(K2*r^5)+(K3*r^7)");
      EXPECT_EQ(Cell(*d, 14, 1), "(P1*x*y)+(P2*r^2*x^2)");
      EXPECT_EQ(Cell(*d, 15, 1), "(P2*x*y)+(P1*r^2*y^2)");
    }
  }
}

TEST_F(SelectPassportTest, ComboListsByKindThenNameAndShowsTheChosenPassport) {
  TwoPassports();
  test::WriteText(Database() / "c.cvcc", "[CVC Camera Passport]\n" +
                                             test::CommonKeys("Kesta", "9", "50", "0.005", "60", "40", "29.5", "19.5"));
  test::WriteText(Database() / "readme.txt", "not listed");
  auto d = Open();
  ASSERT_EQ(d->PassportCombo()->count(), 3);
  EXPECT_EQ(d->PassportCombo()->itemText(0), "B.ccb");
  EXPECT_EQ(d->PassportCombo()->itemText(1), "c.cvcc");
  EXPECT_EQ(d->PassportCombo()->itemText(2), "a.bcc");
  d->PassportCombo()->setCurrentIndex(2);
  EXPECT_EQ(Cell(*d, 0, 1), "RC30");
  EXPECT_EQ(Cell(*d, 2, 1), "10000");  // 100 mm / 0.01 mm
  EXPECT_EQ(Cell(*d, 2, 2), "100");
  EXPECT_EQ(Cell(*d, 3, 2), "0.01");
  EXPECT_EQ(Cell(*d, 4, 1), "0.02");  // K1 = 2 mm based
  EXPECT_EQ(Cell(*d, 4, 2), "2");
  EXPECT_EQ(d->SelectedPath(), (Database() / "a.bcc").string());
  d->PassportCombo()->setCurrentIndex(0);
  EXPECT_EQ(Cell(*d, 0, 1), "UltraCam");
  EXPECT_EQ(Cell(*d, 11, 1), "2009.5");
}

TEST_F(SelectPassportTest, TableIsAReadOnlyViewWithTheRowColours) {
  auto d = Open();
  QTableWidget* t = d->Table();
  ASSERT_EQ(t->rowCount(), 16);
  ASSERT_EQ(t->columnCount(), 3);
  EXPECT_EQ(t->horizontalHeaderItem(0)->text(), "Camera parameters");
  EXPECT_EQ(t->horizontalHeaderItem(1)->text(), " values (double click to edit)");
  EXPECT_EQ(t->horizontalHeaderItem(2)->text(), "different convention");
  EXPECT_EQ(t->editTriggers(), QAbstractItemView::NoEditTriggers);
  EXPECT_EQ(t->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_TRUE(t->showGrid());
  const QColor white(255, 255, 255), grey(230, 230, 230), green(0, 170, 0), black(0, 0, 0);
  for (int row = 0; row < 16; ++row) {
    const QColor back = row % 2 ? grey : white;
    for (int column = 0; column < 3; ++column) {
      EXPECT_EQ(t->item(row, column)->background().color(), back) << row << "," << column;
      EXPECT_FALSE(t->item(row, column)->flags() & Qt::ItemIsEditable);
    }
    EXPECT_EQ(t->item(row, 0)->foreground().color(), black) << row;
    EXPECT_EQ(t->item(row, 1)->foreground().color(), row == 3 ? back : green) << row;
    const bool blank = row == 0 || row == 1 || row == 9 || row == 10;
    if (blank) {
      EXPECT_EQ(t->item(row, 2)->foreground().color(), back) << row;
    }
  }
  d->resize(1100, 600);
  d->show();
  QCoreApplication::processEvents();
  const int width = t->viewport()->width();
  ASSERT_GT(width, 500);
  EXPECT_EQ(t->columnWidth(0), width * 38 / 100);
  EXPECT_EQ(t->columnWidth(1), width * 38 / 100);
  EXPECT_EQ(t->columnWidth(2), width * 237 / 1000);
  EXPECT_FALSE(t->horizontalScrollBar()->isVisible()) << "the columns fit the list";
  EXPECT_FALSE(t->verticalScrollBar()->isVisible()) << "every row fits, the formulas included";
  d->hide();
}

TEST_F(SelectPassportTest, FormulaControlsExistButStayHidden) {
  auto d = Open();
  d->show();
  EXPECT_TRUE(d->isVisible());
  for (QWidget* w : std::vector<QWidget*>{d->FormulaSyntaxButton(), d->CurveSelector(), d->PreviewHost()})
    EXPECT_FALSE(w->isVisible());
  EXPECT_EQ(d->CurveSelector()->count(), 2);
  EXPECT_EQ(d->CurveSelector()->itemText(0), "Radial");
  EXPECT_EQ(d->CurveSelector()->itemText(1), "Tangential");
  EXPECT_EQ(d->CurveSelector()->currentIndex(), 0);
  ASSERT_NE(d->Parser(), nullptr);
  EXPECT_NE(d->Preview(), nullptr);
  EXPECT_TRUE(prompts.Log().empty());
  EXPECT_FALSE(d->ImportButton()->icon().isNull());
  d->hide();
}

TEST_F(SelectPassportTest, SelectRemembersThePositionFirstAndClosesOnlyWithAPassport) {
  TwoPassports();
  auto d = Open();
  d->PassportCombo()->setCurrentIndex(1);
  test::WriteText(Database() / "a.bcc", "damaged after listing");
  d->SelectPassport();
  EXPECT_EQ(Remembered(), "1");
  EXPECT_EQ(prompts.Texts(K::Warning), QStringList{"Invalid camera passport!"});
  EXPECT_EQ(d->result(), QDialog::Rejected);
  EXPECT_EQ(d->Passport(), nullptr);

  d->PassportCombo()->setCurrentIndex(0);
  d->SelectPassport();
  EXPECT_EQ(Remembered(), "0");
  EXPECT_EQ(d->result(), QDialog::Accepted);
  ASSERT_NE(d->Passport(), nullptr);
  EXPECT_EQ(d->Passport()->model, "UltraCam");
  EXPECT_EQ(d->SelectedPath(), (Database() / "B.ccb").string()) << "the real name, not lower-cased";
}

TEST_F(SelectPassportTest, ImportRefreshesTheListAndKeepsTheShownPassport) {
  TwoPassports();
  Remember("1");
  auto d = Open();
  ASSERT_EQ(Cell(*d, 0, 1), "RC30");
  test::WriteText(in / "New.BCC", test::SimpleBcc("Zeiss"));
  prompts.QueueFile(QString::fromStdString((in / "New.BCC").string()));
  d->ImportPassport();
  EXPECT_TRUE(prompts.LastFilter().startsWith("Camera Passport (*.ccb *.CCB *.cvc *.CVC *.cvcc *.CVCC *.bcc *.BCC *.rdr *.RDR);;CCB Camera Passport (*.ccb *.CCB)"))
      << prompts.LastFilter().toStdString();
  EXPECT_EQ(prompts.Texts(K::Question), QStringList{});
  ASSERT_EQ(d->PassportCombo()->count(), 3);
  EXPECT_EQ(d->PassportCombo()->itemText(2), "new.bcc");
  EXPECT_EQ(d->PassportCombo()->currentIndex(), -1);
  EXPECT_EQ(Cell(*d, 0, 1), "RC30") << "the table still shows the passport shown before";

  prompts.QueueFile(QString());  // cancelled
  d->ImportPassport();
  EXPECT_EQ(d->PassportCombo()->count(), 3);
}

TEST_F(SelectPassportTest, ImportOfAPresentNameAsksAndNoLeavesListAndSelection) {
  TwoPassports();
  Remember("1");
  auto d = Open();
  test::WriteText(in / "A.bcc", test::SimpleBcc("Other"));
  prompts.QueueFile(QString::fromStdString((in / "A.bcc").string()));
  prompts.QueueYesNo(false);
  d->ImportPassport();
  EXPECT_EQ(prompts.Texts(K::Question),
            QStringList{"Camera passport already present into database.\nDo you want to overwrite it?"});
  EXPECT_EQ(d->PassportCombo()->currentIndex(), 1) << "no refresh after No";
  EXPECT_EQ(test::ReadText(Database() / "a.bcc"), test::SimpleBcc());

  prompts.QueueFile(QString::fromStdString((in / "A.bcc").string()));
  prompts.QueueYesNo(true);
  d->ImportPassport();
  EXPECT_EQ(test::ReadText(Database() / "a.bcc"), test::SimpleBcc("Other"));
  EXPECT_EQ(d->PassportCombo()->currentIndex(), -1);
}

TEST_F(SelectPassportTest, ImportFailuresShowTheirBoxes) {
  auto d = Open();
  test::WriteText(in / "junk.ccb", "\x01\x02\x03");
  prompts.QueueFile(QString::fromStdString((in / "junk.ccb").string()));
  d->ImportPassport();
  EXPECT_EQ(prompts.Texts(K::Plain), QStringList{"Unable to open camera passport"});
  EXPECT_TRUE(fs::is_empty(Database()));

  fs::create_directory(Database() / "cam.bcc");  // in the way of the copy
  test::WriteText(in / "cam.bcc", test::SimpleBcc());
  prompts.QueueFile(QString::fromStdString((in / "cam.bcc").string()));
  prompts.QueueYesNo(true);
  d->ImportPassport();
  EXPECT_EQ(prompts.Texts(K::Error), QStringList{"Unable to import the certificate!"});
  EXPECT_TRUE(fs::is_directory(Database() / "cam.bcc"));
  EXPECT_EQ(d->PassportCombo()->count(), 0) << "refreshed, and a folder is no passport";
}

TEST_F(SelectPassportTest, CurveIsDrawnAndAFailedFormulaKeepsThePreviousOne) {
  // K1 = 100 mm based is 1 pixel based: the default radial formula plots r^3.
  std::string cube = test::SimpleBcc();
  cube.replace(cube.find("K1 = 2"), 6, "K1 = 100");
  test::WriteText(Database() / "cube.bcc", cube);
  // K1 = 1e308 mm based is 1e306 pixel based: r^3 leaves the double range at r = 6.
  std::string huge = test::SimpleBcc();
  huge.replace(huge.find("K1 = 2"), 6, "K1 = 1e308");
  test::WriteText(Database() / "huge.bcc", huge);
  test::WriteText(Database() / "x.cvc", "[CVC Camera Passport]\nModel = broken\n");
  auto d = Open();
  d->PassportCombo()->setCurrentIndex(1);  // cube.bcc, after x.cvc
  d->CurveSelector()->setCurrentIndex(1);
  d->CurveSelector()->setCurrentIndex(0);
  const CadHandle curve = d->CurveEntity();
  ASSERT_NE(curve, 0u) << prompts.Log().size();
  const CadEntity* e = d->PreviewDrawing().Find(curve);
  ASSERT_NE(e, nullptr);
  ASSERT_EQ(e->points.size(), 15u);
  for (int i = 0; i < 15; ++i) {
    EXPECT_EQ(e->points[i].x, i);
    EXPECT_EQ(e->points[i].y, i * i * i);
  }
  EXPECT_EQ(d->SubstitutedFormula(), "(1*r^3)+(0*r^5)+(0*r^7)");

  d->PassportCombo()->setCurrentIndex(2);  // huge.bcc
  d->CurveSelector()->setCurrentIndex(1);  // tangential: zeros, drawn
  d->CurveSelector()->setCurrentIndex(0);
  EXPECT_EQ(prompts.Texts(K::Warning), QStringList{"The formula has no finite value at r = 6"});
  const CadHandle tangential = d->CurveEntity();
  ASSERT_NE(d->PreviewDrawing().Find(tangential), nullptr) << "the last good curve stays";
  EXPECT_EQ(d->PreviewDrawing().Find(tangential)->points.back().y, 0.0);

  d->PassportCombo()->setCurrentIndex(0);  // x.cvc does not open: the table empties
  d->CurveSelector()->setCurrentIndex(1);
  EXPECT_EQ(prompts.Texts(K::Warning).last(), "P1 not defined!");
  EXPECT_EQ(d->CurveEntity(), tangential);
  EXPECT_NE(d->PreviewDrawing().Find(tangential), nullptr);
}

}  // namespace
}  // namespace ortavia::ui
