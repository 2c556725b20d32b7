#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include "model/project.h"
#include "products/ortho_paint.h"
#include "products/ui/COrthoPreviewDlg.h"
#include "support/test_env.h"
#include "support/test_geotiff.h"

namespace ortavia::ui {
namespace {

namespace fs = std::filesystem;

QString WriteOrtho(const fs::path& folder, const std::string& name, int w, int h) {
  test::TestRaster r;
  r.width = w;
  r.height = h;
  r.type = GDT_Byte;
  const fs::path path = folder / (name + ".tif");
  EXPECT_TRUE(test::WriteGeoTiff(path, r, [](int, int c, int) { return c; }));
  return QString::fromStdString(path.string());
}

class OrthoPreviewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = test::MakeTempDir("preview");
    a = WriteOrtho(dir, "a", 40, 30);
    b = WriteOrtho(dir, "b", 20, 10);
    c = WriteOrtho(dir, "c", 8, 8);
    preview = std::make_unique<COrthoPreviewDlg>(project);
  }
  // What the warp does after each ortho.
  void Written(const QString& path, bool first) {
    project.lastOrthoPath = path.toStdString();
    preview->OrthoWritten(path, first);
  }
  double EntityWidth() const {
    const CadEntity* e = preview->Drawing().Find(preview->ImageEntity());
    return e ? e->width : 0.0;
  }

  fs::path dir;
  QString a, b, c;
  WarpProject project;
  std::unique_ptr<COrthoPreviewDlg> preview;
};

TEST_F(OrthoPreviewTest, ShowOrthoPlacesOnePixelPerDrawingUnitOrEmpties) {
  preview->ShowOrtho(a);
  ASSERT_TRUE(preview->HasOrtho());
  const CadEntity* e = preview->Drawing().Find(preview->ImageEntity());
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->code, kOrthoPictureCode);
  EXPECT_EQ(e->layer, "Image");
  EXPECT_DOUBLE_EQ(e->width, 40.0);
  EXPECT_DOUBLE_EQ(e->height, 30.0);
  EXPECT_TRUE(preview->Drawing().FindLayer("Image")->locked);

  for (const QString& nothing : {QString(), QString::fromStdString((dir / "missing.tif").string())}) {
    preview->ShowOrtho(a);
    preview->ShowOrtho(nothing);
    EXPECT_FALSE(preview->HasOrtho());
    EXPECT_TRUE(preview->ShownPath().isEmpty());
    EXPECT_EQ(preview->ImageEntity(), 0u);
    // The old placement is gone for good, not only hidden.
    EXPECT_TRUE(preview->Drawing().Entities().empty());
  }
}

TEST_F(OrthoPreviewTest, AutoUpdateRules) {
  // Off: the first ortho of a run still shows and opens the window; later ones do not replace it.
  preview->AutoUpdateCheck()->setChecked(false);
  EXPECT_FALSE(preview->isVisible());
  Written(a, true);
  EXPECT_TRUE(preview->isVisible());
  EXPECT_EQ(preview->ShownPath(), a);
  Written(b, false);
  EXPECT_EQ(preview->ShownPath(), a);
  // Ticked again: the ortho written last comes up at once, and later ones follow.
  preview->AutoUpdateCheck()->setChecked(true);
  EXPECT_EQ(preview->ShownPath(), b);
  EXPECT_DOUBLE_EQ(EntityWidth(), 20.0);
  Written(c, false);
  EXPECT_EQ(preview->ShownPath(), c);
  // Ticking with the last ortho already shown reloads nothing.
  const CadHandle shown = preview->ImageEntity();
  preview->AutoUpdateCheck()->setChecked(false);
  preview->AutoUpdateCheck()->setChecked(true);
  EXPECT_EQ(preview->ImageEntity(), shown);
}

TEST_F(OrthoPreviewTest, ClosingOnlyHides) {
  Written(a, true);
  ASSERT_TRUE(preview->isVisible());
  QCloseEvent close;
  QCoreApplication::sendEvent(preview.get(), &close);
  EXPECT_FALSE(preview->isVisible());
  EXPECT_EQ(preview->ShownPath(), a);
  preview->show();
  QTest::mouseClick(preview->HideButton(), Qt::LeftButton);
  EXPECT_FALSE(preview->isVisible());
  EXPECT_TRUE(preview->HasOrtho());
}

}  // namespace
}  // namespace ortavia::ui
