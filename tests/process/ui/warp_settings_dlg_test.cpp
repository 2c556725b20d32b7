#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include "gui/prompts.h"
#include "process/ui/CSelectionSkipOverwriteDlg.h"
#include "process/ui/CWarpSettingsDlg.h"
#include "process/ui/run_questions.h"

namespace ortavia::ui {
namespace {

using Kind = ScriptedPrompts::Kind;

WarpSettings Given(double gsd = 0.25, int index = 1, bool voronoi = true) {
  WarpSettings s;
  s.gsd = gsd;
  s.tileSizeIndex = index;
  s.tileStep = index == 0 ? 1 : 16;
  s.useVoronoi = voronoi;
  return s;
}

TEST(WarpSettingsDlg, OpensWithTheGivenValues) {
  ScriptedPrompts prompts;
  CWarpSettingsDlg dlg(Given(0.1234, 0, false), &prompts);
  EXPECT_EQ(dlg.GsdEdit()->text(), "0.1234");  // as entered
  EXPECT_EQ(dlg.TileSizeList()->count(), 2);
  EXPECT_EQ(dlg.TileSizeList()->itemText(0), "1");
  EXPECT_EQ(dlg.TileSizeList()->itemText(1), "16");
  EXPECT_EQ(dlg.TileSizeList()->currentText(), "1");
  EXPECT_FALSE(dlg.VoronoiCheck()->isChecked());
  EXPECT_TRUE(dlg.VoronoiCheck()->isHidden());
}

TEST(WarpSettingsDlg, OkRefusesEveryGsdThatIsNoNumberAboveZero) {
  struct Case {
    const char* text;
    bool accepted;
    double gsd;
  };
  const Case cases[] = {
      {"0.1234", true, 0.1234}, {"2", true, 2.0}, {" 0.5 ", true, 0.5},
      {"", false, 0}, {"-1", false, 0}, {"0", false, 0}, {"0.00", false, 0}, {"abc", false, 0},
      {"0,5", false, 0}, {"nan", false, 0}, {"inf", false, 0}, {"1e999", false, 0},
  };
  for (const Case& c : cases) {
    ScriptedPrompts prompts;
    CWarpSettingsDlg dlg(Given(), &prompts);
    dlg.show();
    dlg.GsdEdit()->setText(QString::fromUtf8(c.text));
    QTest::mouseClick(dlg.OkButton(), Qt::LeftButton);
    if (c.accepted) {
      EXPECT_EQ(dlg.result(), QDialog::Accepted) << c.text;
      EXPECT_DOUBLE_EQ(dlg.Settings().gsd, c.gsd) << c.text;
      EXPECT_TRUE(prompts.Log().empty()) << c.text;
    } else {
      EXPECT_TRUE(dlg.isVisible()) << "'" << c.text << "' must keep the dialog open";
      EXPECT_EQ(prompts.Texts(Kind::Information), QStringList{"Input a valid GSD value"}) << c.text;
      EXPECT_DOUBLE_EQ(dlg.Settings().gsd, 0.25) << c.text;
    }
  }
}

TEST(WarpSettingsDlg, TileSizeAndCancel) {
  ScriptedPrompts prompts;
  {
    CWarpSettingsDlg dlg(Given(0.25, 1), &prompts);
    dlg.TileSizeList()->setCurrentIndex(0);
    dlg.accept();
    EXPECT_EQ(dlg.Settings().tileSizeIndex, 0);
    EXPECT_EQ(dlg.Settings().tileStep, 1);
  }
  {
    // A stored position the list does not have: no selection, and OK takes "16".
    CWarpSettingsDlg dlg(Given(0.25, 5), &prompts);
    EXPECT_EQ(dlg.TileSizeList()->currentIndex(), -1);
    dlg.accept();
    EXPECT_EQ(dlg.Settings().tileSizeIndex, 1);
    EXPECT_EQ(dlg.Settings().tileStep, 16);
  }
  {
    CWarpSettingsDlg dlg(Given(0.25, 0), &prompts);
    dlg.GsdEdit()->setText("9");
    dlg.TileSizeList()->setCurrentIndex(1);
    dlg.reject();
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
    EXPECT_DOUBLE_EQ(dlg.Settings().gsd, 0.25);
    EXPECT_EQ(dlg.Settings().tileSizeIndex, 0);
  }
}

TEST(WarpSettingsDlg, LargestErrorIsShownCheckedAndOnlyForSquares) {
  struct Case {
    const char* text;
    bool accepted;
    double maxError;
  };
  for (const Case& c : {Case{"0.05", true, 0.05}, Case{"0", true, 0.0}, Case{"-0.01", false, 0.02},
                        Case{"", false, 0.02}, Case{"0,05", false, 0.02}}) {
    ScriptedPrompts prompts;
    CWarpSettingsDlg dlg(Given(), &prompts);
    EXPECT_EQ(dlg.MaxErrorEdit()->text(), "0.02");
    EXPECT_TRUE(dlg.MaxErrorEdit()->isEnabled());
    dlg.show();
    dlg.MaxErrorEdit()->setText(QString::fromUtf8(c.text));
    QTest::mouseClick(dlg.OkButton(), Qt::LeftButton);
    EXPECT_EQ(dlg.result() == QDialog::Accepted, c.accepted) << c.text;
    EXPECT_EQ(dlg.Settings().maxError, c.maxError) << c.text;
    EXPECT_EQ(prompts.Texts(Kind::Information).size(), c.accepted ? 0 : 1) << c.text;
  }
  ScriptedPrompts prompts;
  CWarpSettingsDlg dlg(Given(0.25, 1), &prompts);
  dlg.TileSizeList()->setCurrentIndex(0);  // pixel mode: there are no squares
  EXPECT_FALSE(dlg.MaxErrorEdit()->isEnabled());
}

TEST(SelectionSkipOverwriteDlg, ListsNamesSortedAndEndsWithItsCodes) {
  const QStringList present = {"/out/img_3.tif", "/out/img_1.TIF", "/out/b.tif"};
  struct Case {
    int which;  // 0 skip, 1 overwrite, 2 close
    int code;
  };
  for (const Case& c : {Case{0, 100}, Case{1, 200}, Case{2, 0}}) {
    CSelectionSkipOverwriteDlg dlg(present);
    ASSERT_EQ(dlg.List()->count(), 3);
    EXPECT_EQ(dlg.List()->item(0)->text(), "b");
    EXPECT_EQ(dlg.List()->item(1)->text(), "img_1");
    EXPECT_EQ(dlg.List()->item(2)->text(), "img_3");
    EXPECT_EQ(dlg.List()->selectionMode(), QAbstractItemView::NoSelection);
    dlg.show();
    if (c.which == 0) QTest::mouseClick(dlg.SkipButton(), Qt::LeftButton);
    if (c.which == 1) QTest::mouseClick(dlg.OverwriteButton(), Qt::LeftButton);
    if (c.which == 2) dlg.reject();
    EXPECT_EQ(dlg.result(), c.code);
  }
}

}  // namespace
}  // namespace ortavia::ui

namespace ortavia::ui {
namespace {

TEST(DialogRunQuestions, BandOrderGoesThroughTheBandDialogOfThePrompts) {
  ScriptedPrompts prompts;
  DialogRunQuestions questions(nullptr, &prompts);
  prompts.QueueBandOrder(std::vector<int>{5, 4, 3, 0});
  prompts.QueueBandOrder(std::nullopt);
  std::vector<int> roles{3, 4, 5};
  EXPECT_TRUE(questions.ChooseBandRoles("/img/a.tif", 3, roles));
  EXPECT_EQ(roles, (std::vector<int>{5, 4, 3, 0}));
  std::vector<int> kept{3, 4, 5};
  EXPECT_FALSE(questions.ChooseBandRoles("/img/a.tif", 3, kept));
  EXPECT_EQ(kept, (std::vector<int>{3, 4, 5})) << "Cancel leaves the roles alone";
  EXPECT_EQ(prompts.Texts(ScriptedPrompts::Kind::BandOrder), (QStringList{"/img/a.tif", "/img/a.tif"}));
}


TEST(WarpSettingsDlg, OrthoFileOptionsShownAndTaken) {
  ScriptedPrompts prompts;
  WarpSettings given = Given();
  given.cog = true;
  given.compress = "ZSTD";
  given.alpha = false;
  CWarpSettingsDlg dlg(given, &prompts);
  EXPECT_TRUE(dlg.CogCheck()->isChecked());
  ASSERT_EQ(dlg.CompressionList()->count(), 5);
  EXPECT_EQ(dlg.CompressionList()->currentText(), "ZSTD");
  EXPECT_FALSE(dlg.AlphaCheck()->isChecked());
  EXPECT_FALSE(dlg.MosaicCheck()->isChecked());
  EXPECT_FALSE(dlg.OcclusionCheck()->isChecked());
  EXPECT_EQ(dlg.OcclusionCheck()->text(), "Hide ground the image cannot see");
  dlg.OcclusionCheck()->setChecked(true);
  EXPECT_FALSE(dlg.MosaicBlendList()->isEnabled());  // only with a mosaic
  EXPECT_EQ(dlg.MosaicBlendList()->count(), 3);
  dlg.CogCheck()->setChecked(false);
  dlg.CompressionList()->setCurrentIndex(0);
  dlg.AlphaCheck()->setChecked(true);
  dlg.MosaicCheck()->setChecked(true);
  EXPECT_TRUE(dlg.MosaicBlendList()->isEnabled());
  dlg.MosaicBlendList()->setCurrentIndex(1);
  dlg.accept();
  EXPECT_FALSE(dlg.Settings().cog);
  EXPECT_EQ(dlg.Settings().compress, "");
  EXPECT_TRUE(dlg.Settings().alpha);
  EXPECT_TRUE(dlg.Settings().mosaic);
  EXPECT_TRUE(dlg.Settings().occlusion);
  EXPECT_EQ(dlg.Settings().mosaicBlend, MosaicBlend::Multiband);

  CWarpSettingsDlg jpeg(given, &prompts);
  jpeg.CompressionList()->setCurrentIndex(4);
  jpeg.accept();
  EXPECT_EQ(jpeg.Settings().compress, "JPEG");
  EXPECT_TRUE(jpeg.Settings().cog);  // untouched values stay
}

}  // namespace
}  // namespace ortavia::ui
