// The band order dialog: its lists and proposal, OK with and without a choice per band, and the
// preview painted from the image in the chosen roles without writing to the image.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include "app/CPreviewWnd.h"
#include "app/CSelectBandDlg.h"
#include "gui/prompts.h"
#include "support/test_env.h"
#include "support/test_geotiff.h"

namespace ortavia::ui::test {
namespace {

namespace fs = std::filesystem;
using K = ScriptedPrompts::Kind;

constexpr int kRed = 3, kGreen = 4, kBlue = 5, kAlpha = 6, kGray = 1;

// 64 x 32 pixels: band 1 = 200, band 2 = 90, band 3 = 10 everywhere.
std::string ThreeBandImage(GDALDataType type = GDT_Byte) {
  const fs::path p = ortavia::test::MakeTempDir("band") / "rgb.tif";
  ortavia::test::TestRaster r;
  r.width = 64;
  r.height = 32;
  r.bands = 3;
  r.type = type;
  r.georeferenced = false;
  EXPECT_TRUE(ortavia::test::WriteGeoTiff(p, r, [](int b, int, int) {
    return b == 1 ? 200.0 : b == 2 ? 90.0 : 10.0;
  }));
  return p.string();
}

QStringList Items(QComboBox* list) {
  QStringList items;
  for (int i = 0; i < list->count(); ++i) items << list->itemText(i);
  return items;
}

TEST(SelectBandDlg, ListsAndProposalFollowTheBandCount) {
  struct Case {
    int bands;
    std::vector<int> roles;
    std::vector<QString> selected;  // shown text of each list; "-" hidden
  };
  const std::vector<Case> cases = {
      {3, {kRed, kGreen, kBlue}, {"Red", "Green", "Blue", "-"}},
      {3, {kBlue, kGreen, kRed}, {"Blue", "Green", "Red", "-"}},
      {3, {kAlpha, 0, kBlue}, {"", "", "Blue", "-"}},  // band 1 offers no Alpha; 0 has no entry
      {4, {kRed, kGreen, kBlue, 0}, {"Red", "Green", "Blue", ""}},
      {1, {kGray}, {"Gray", "-", "-", "-"}},
      {3, {kRed}, {"", "", "", "-"}},  // fewer roles than bands: no proposal
  };
  for (const Case& c : cases) {
    std::vector<int> roles = c.roles;
    CSelectBandDlg dlg(&roles, c.bands, "/x.tif");
    EXPECT_EQ(dlg.windowTitle(), "Select band order");
    for (int band = 1; band <= 4; ++band) {
      QComboBox* list = dlg.BandList(band);
      const QString want = c.selected[static_cast<std::size_t>(band - 1)];
      EXPECT_EQ(list->isVisibleTo(&dlg), want != "-") << c.bands << " band " << band;
      if (want != "-") {
        EXPECT_EQ(list->currentText(), want) << c.bands << " band " << band;
      }
    }
  }
  std::vector<int> roles;
  CSelectBandDlg four(&roles, 4, "/x.tif");
  EXPECT_EQ(Items(four.BandList(4)), (QStringList{"Red", "Green", "Blue", "Alpha", ""}));
  EXPECT_EQ(Items(four.BandList(1)), (QStringList{"Red", "Green", "Blue", "Alpha"}));
}

TEST(SelectBandDlg, OkNeedsAChoiceForEveryShownBand) {
  std::vector<int> roles = {0, 0, 0};
  ScriptedPrompts prompts;
  CSelectBandDlg dlg(&roles, 3, "/x.tif");
  dlg.SetPrompts(&prompts);
  dlg.BandList(1)->setCurrentText("Blue");
  dlg.BandList(3)->setCurrentText("Red");
  dlg.accept();
  EXPECT_EQ(prompts.Texts(K::Information), QStringList{"Please select band 2"});
  EXPECT_NE(dlg.result(), QDialog::Accepted);
  EXPECT_EQ(roles, (std::vector<int>{0, 0, 0})) << "untouched while the dialog stays open";

  dlg.BandList(2)->setCurrentText("Green");
  dlg.accept();
  EXPECT_EQ(dlg.result(), QDialog::Accepted);
  EXPECT_EQ(roles, (std::vector<int>{kBlue, kGreen, kRed, 0}));

  std::vector<int> grey = {0};
  CSelectBandDlg one(&grey, 1, "/x.tif");
  one.SetPrompts(&prompts);
  one.accept();
  EXPECT_EQ(prompts.Texts(K::Information).last(), "Please select band 1") << "no role, no proposal";
  one.BandList(1)->setCurrentText("Gray");
  one.accept();
  EXPECT_EQ(grey, (std::vector<int>{kGray, 0, 0, 0}));
}

TEST(SelectBandDlg, EndsAtOnceWithoutRolesOrImage) {
  std::vector<int> roles = {kRed, kGreen, kBlue};
  CSelectBandDlg noPath(&roles, 3, "");
  EXPECT_EQ(noPath.exec(), QDialog::Rejected);
  CSelectBandDlg noRoles(nullptr, 3, "/x.tif");
  EXPECT_EQ(noRoles.exec(), QDialog::Rejected);
  // The one call for a run: Cancel gives nothing back.
  QTimer::singleShot(0, [] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* d = qobject_cast<CSelectBandDlg*>(w); d && d->isVisible()) d->reject();
  });
  EXPECT_EQ(SelectBandOrder(nullptr, "/x.tif", 3, roles), std::nullopt);
  QTimer::singleShot(0, [] {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* d = qobject_cast<CSelectBandDlg*>(w); d && d->isVisible()) {
        d->BandList(1)->setCurrentText("Green");
        d->BandList(2)->setCurrentText("Red");
        d->accept();
      }
  });
  EXPECT_EQ(SelectBandOrder(nullptr, "/x.tif", 3, roles), (std::vector<int>{kGreen, kRed, kBlue, 0}));
}

TEST(SelectBandDlg, PreviewShowsTheImageInTheChosenRolesAndLeavesItUntouched) {
  for (GDALDataType type : {GDT_Byte, GDT_UInt16}) {
    const std::string path = ThreeBandImage(type);
    const auto stamp = fs::last_write_time(path);
    std::vector<int> roles = {kRed, kGreen, kBlue};
    CSelectBandDlg dlg(&roles, 3, path);
    dlg.resize(800, 500);
    dlg.show();
    dlg.ShowPreviewBox()->setChecked(true);
    const cv::Mat& shown = dlg.Preview()->Source();
    ASSERT_EQ(shown.cols, 512);
    ASSERT_EQ(shown.rows, 256);  // 512 x 32 / 64
    if (type == GDT_Byte) {
      // OpenCV order: blue, green, red. Band 1 (200) is red.
      EXPECT_EQ(shown.at<cv::Vec3b>(10, 10), cv::Vec3b(10, 90, 200));
    }
    // Band 1 becomes blue: Update applies the lists and paints again.
    dlg.BandList(1)->setCurrentText("Blue");
    dlg.BandList(3)->setCurrentText("Red");
    dlg.UpdateButton()->click();
    EXPECT_EQ(roles, (std::vector<int>{kBlue, kGreen, kRed, 0}));
    if (type == GDT_Byte) {
      EXPECT_EQ(dlg.Preview()->Source().at<cv::Vec3b>(10, 10), cv::Vec3b(200, 90, 10));
    }
    EXPECT_FALSE(dlg.Preview()->Source().empty());
    dlg.ShowPreviewBox()->setChecked(false);
    EXPECT_TRUE(dlg.Preview()->Source().empty());
    EXPECT_EQ(fs::last_write_time(path), stamp);
    EXPECT_FALSE(fs::exists(path + ".aux.xml")) << "the preview wrote statistics beside the image";
  }
}

TEST(ScriptedPromptsBandOrder, AnswersInTurnAndCancelsWhenNoneIsQueued) {
  ScriptedPrompts prompts;
  prompts.QueueBandOrder(std::vector<int>{kBlue, kGreen, kRed, 0});
  EXPECT_EQ(prompts.SelectBandOrder("/a.tif", 3, {}), (std::vector<int>{kBlue, kGreen, kRed, 0}));
  EXPECT_EQ(prompts.SelectBandOrder("/b.tif", 3, {}), std::nullopt);
  EXPECT_EQ(prompts.Texts(K::BandOrder), (QStringList{"/a.tif", "/b.tif"}));
}

}  // namespace
}  // namespace ortavia::ui::test
