#include "process/suggested_gsd.h"

#include <gtest/gtest.h>

#include "model/dem.h"
#include "process/warp_settings.h"
#include "support/test_env.h"
#include "support/test_geotiff.h"
#include "support/test_passport.h"

namespace ortavia {
namespace {

namespace fs = std::filesystem;

// A 4 x 4 DEM: heights 100 on the left half, 300 on the right, one missing height in each half,
// so that its mean is 200. Camera: focal length 50 mm, pixels of 0.01 mm, so that a pixel covers
// (Z - 200) / 5000 ground units.
class SuggestedGsdTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path dem = test::MakeTempDir("gsd") / "dem.tif";
    test::TestRaster raster;
    raster.width = raster.height = 4;
    raster.noData = -32768.0;
    ASSERT_TRUE(test::WriteGeoTiff(dem, raster, [](int, int c, int r) {
      if ((c == 0 && r == 0) || (c == 3 && r == 3)) return -32768.0;
      return c < 2 ? 100.0 : 300.0;
    }));
    project.dem.dataset = OpenDem(dem.string());
    ASSERT_NE(project.dem.dataset, nullptr);
    project.passport = test::MakeTestPassport(100, 100, 50.0, 0.01);
  }
  // An image whose projection centre is at height z (no orientation when z is 0).
  void AddImage(const std::string& name, double z) {
    project.images.push_back({name, "/x/" + name + ".tif"});
    geo::COrientation o;
    o.BuildINTWithoutDistortion(project.passport.get(), 0.0);
    if (z != 0.0) o.N = Wml::Point3d(10.0, 20.0, z);
    project.orientations.emplace(name, o);
  }
  WarpProject project;
};

TEST_F(SuggestedGsdTest, MedianGroundPixelOfTheOrientedImagesToTwoDigits) {
  EXPECT_DOUBLE_EQ(*DemMeanHeight(project.dem.dataset.get()), 200.0);
  EXPECT_FALSE(SuggestedGsd(project).has_value());  // no image yet
  AddImage("unoriented", 0.0);
  AddImage("below", 150.0);  // under the mean height: sees nothing sensible
  EXPECT_FALSE(SuggestedGsd(project).has_value());
  AddImage("a", 1200.0);  // 1000 / 5000 = 0.2
  AddImage("b", 1434.0);  // 1234 / 5000 = 0.2468
  AddImage("c", 1700.0);  // 1500 / 5000 = 0.3
  EXPECT_DOUBLE_EQ(*SuggestedGsd(project), 0.25);  // median 0.2468
  AddImage("d", 1950.0);  // 1750 / 5000 = 0.35: median (0.2468 + 0.3) / 2 = 0.2734
  EXPECT_DOUBLE_EQ(*SuggestedGsd(project), 0.27);
  project.dem.dataset.reset();
  EXPECT_FALSE(SuggestedGsd(project).has_value());
}

TEST(SuggestedGsdText, RoundsToTwoSignificantDigitsAndShowsThemAll) {
  const struct {
    double value, rounded;
    const char* shown;  // as the warp settings dialog shows the rounded value
  } cases[] = {
      {0.2468, 0.25, "0.25"}, {1234.0, 1200.0, "1200"}, {0.04567, 0.046, "0.046"},
      {9.96, 10.0, "10"},     {0.0999, 0.1, "0.1"},     {0.0012345, 0.0012, "0.0012"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RoundToSignificantDigits(c.value, 2), c.rounded) << c.value;
    EXPECT_EQ(FormatGsd(RoundToSignificantDigits(c.value, 2)), c.shown) << c.value;
  }
  EXPECT_EQ(SuggestedGsdText(0.046), "GSD 0.046, the images' median ground pixel size over the DEM");
}

}  // namespace
}  // namespace ortavia
