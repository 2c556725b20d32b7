#include "model/cad_drawing.h"

#include <gtest/gtest.h>

namespace ortavia {
namespace {

TEST(CadDrawing, HandlesAreUniqueAndEraseHidesUntilPurge) {
  CadDrawing cad;
  cad.AddLayer("Ortho", kAciYellow, false);
  const CadHandle a = cad.AddPolyline("Ortho", {{0, 0}, {10, 0}, {10, 5}}, true);
  const CadHandle b = cad.AddPolyline("Ortho", {{20, 20}, {30, 40}}, false, kAciRed, true);
  ASSERT_NE(a, 0u);
  ASSERT_NE(a, b);
  EXPECT_EQ(cad.EffectiveColor(*cad.Find(a)), kAciYellow);  // by layer
  EXPECT_EQ(cad.EffectiveColor(*cad.Find(b)), kAciRed);

  EXPECT_TRUE(cad.Erase(a));
  EXPECT_EQ(cad.Find(a), nullptr);
  EXPECT_FALSE(cad.Erase(a));
  EXPECT_EQ(cad.Entities().size(), 2u);  // hidden, not gone
  cad.Purge();
  EXPECT_EQ(cad.Entities().size(), 1u);
  ASSERT_NE(cad.Find(b), nullptr);
  // A handle is never reused after a purge.
  const CadHandle c = cad.AddPolyline("Ortho", {{1, 1}}, false);
  EXPECT_GT(c, b);
}

TEST(CadDrawing, BoxesOfPolylinesImagesAndTheWholeDrawing) {
  CadDrawing cad;
  EXPECT_FALSE(cad.Extents().has_value());
  const CadHandle p = cad.AddPolyline("Ortho", {{5, -3}, {-2, 8}, {4, 1}}, true);
  const CadHandle img = cad.AddImage("DEM", "dem.jpg", {100, 200}, 50, 25, 100);
  EXPECT_DOUBLE_EQ(CadEntityGetLeft(cad, p), -2);
  EXPECT_DOUBLE_EQ(CadEntityGetRight(cad, p), 5);
  EXPECT_DOUBLE_EQ(CadEntityGetBottom(cad, p), -3);
  EXPECT_DOUBLE_EQ(CadEntityGetTop(cad, p), 8);
  EXPECT_DOUBLE_EQ(CadEntityGetRight(cad, img), 150);
  EXPECT_DOUBLE_EQ(CadEntityGetTop(cad, img), 225);
  EXPECT_DOUBLE_EQ(CadEntityGetLeft(cad, 9999), 0.0);

  auto all = cad.Extents();
  ASSERT_TRUE(all);
  EXPECT_DOUBLE_EQ(all->left, -2);
  EXPECT_DOUBLE_EQ(all->top, 225);
  cad.Erase(img);
  EXPECT_DOUBLE_EQ(cad.Extents()->right, 5);
}

TEST(CadDrawing, ColourFillAndLayerUpdatesBumpTheRevision) {
  CadDrawing cad;
  cad.AddLayer("DEM", kAciWhite, true);
  const CadHandle h = cad.AddPolyline("DEM", {{0, 0}, {1, 1}}, false);
  const auto r0 = cad.Revision();
  EXPECT_TRUE(cad.SetFilled(h, true));
  EXPECT_TRUE(cad.SetColor(h, kAciGreen));
  EXPECT_GT(cad.Revision(), r0);
  EXPECT_TRUE(cad.Find(h)->filled);
  cad.AddLayer("DEM", kAciBlue, false);
  ASSERT_NE(cad.FindLayer("DEM"), nullptr);
  EXPECT_EQ(cad.FindLayer("DEM")->color, kAciBlue);
  EXPECT_FALSE(cad.FindLayer("DEM")->locked);
  EXPECT_FALSE(cad.SetColor(12345, kAciRed));
}

}  // namespace
}  // namespace ortavia
