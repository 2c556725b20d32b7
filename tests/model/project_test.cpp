#include "model/project.h"

#include <gtest/gtest.h>

#include "support/test_env.h"
#include "support/test_passport.h"

namespace ortavia {
namespace {

std::unique_ptr<geo::CCameraPassport> SmallPassport() {
  return test::MakeTestPassport(100, 80, 50.0, 0.01, "Cam", "1");
}

GDALDatasetUniquePtr TinyDem() {
  GDALDriver* mem = GetGDALDriverManager()->GetDriverByName("MEM");
  return GDALDatasetUniquePtr(mem->Create("", 4, 4, 1, GDT_Float32, nullptr));
}

TEST(Project, NamesAreFileStemsInLowerCase) {
  EXPECT_EQ(ImageNameFromPath("/data/Flight 7/IMG_0012.TIF"), "img_0012");
  EXPECT_EQ(ImageNameFromPath("a.b.tif"), "a.b");
  WarpProject p;
  p.images.push_back({"img_0012", "/x/img_0012.tif"});
  EXPECT_EQ(FindImage(p, "IMG_0012"), 0);
  EXPECT_EQ(FindImage(p, "img_001"), -1);
}

TEST(Project, StartNeedsPassportImagesDemAndEveryCentre) {
  WarpProject p;
  EXPECT_FALSE(CanStart(p));
  p.passport = SmallPassport();
  p.dem.dataset = TinyDem();
  for (const char* name : {"a", "b"}) {
    p.images.push_back({name, std::string("/x/") + name + ".tif"});
    geo::COrientation o(1.0);
    ASSERT_NE(o.BuildINTWithoutDistortion(p.passport.get(), 0.0), 0);
    p.orientations.emplace(name, o);
  }
  EXPECT_FALSE(CanStart(p));  // images without orientation
  ApplyExtOrientation({"a", 1000, 2000, 500, 0, 0, 0}, p.orientations.at("a"));
  EXPECT_FALSE(CanStart(p));
  // A centre with only one non-zero coordinate counts as set.
  ApplyExtOrientation({"b", 0, 0, 300, 0, 0, 0}, p.orientations.at("b"));
  EXPECT_TRUE(CanStart(p));
  p.dem.dataset.reset();
  EXPECT_FALSE(CanStart(p));
}

TEST(Project, NewProjectHasTheTwoLayers) {
  WarpProject p;
  ASSERT_NE(p.cad.FindLayer(kLayerDem), nullptr);
  EXPECT_TRUE(p.cad.FindLayer(kLayerDem)->locked);
  EXPECT_EQ(p.cad.FindLayer(kLayerDem)->color, kAciWhite);
  ASSERT_NE(p.cad.FindLayer(kLayerOrtho), nullptr);
  EXPECT_EQ(p.cad.FindLayer(kLayerOrtho)->color, kAciYellow);
  EXPECT_DOUBLE_EQ(p.mosaicScale, 40.0);
  EXPECT_DOUBLE_EQ(p.dem.maxHeight, 4000.0);
}

}  // namespace
}  // namespace ortavia
