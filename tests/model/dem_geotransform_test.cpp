#include "model/dem_geotransform.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace ortavia {
namespace {

// Sample (3, 1) and the window and reduced grids of each layout, worked out by hand from
// X = gt0 + (c + 0.5) gt1 + (r + 0.5) gt2, Y = gt3 + (c + 0.5) gt4 + (r + 0.5) gt5.
struct Layout {
  const char* name;
  GeoTransform gt;
  cv::Point2d sample00, sample31;
  cv::Point2d windowSample00;  // sample (0, 0) of the window whose pixel (0, 0) is pixel (2, 3)
  cv::Point2d halfGridSample00;  // sample (0, 0) of a grid of half the columns and rows
};

const Layout kLayouts[] = {
    {"north-up", {1000, 2, 0, 5000, 0, -2}, {1001, 4999}, {1007, 4997}, {1005, 4993}, {1002, 4998}},
    {"rows run north", {1000, 2, 0, 4000, 0, 2}, {1001, 4001}, {1007, 4003}, {1005, 4007}, {1002, 4002}},
    {"columns run west", {1100, -2, 0, 5000, 0, -2}, {1099, 4999}, {1093, 4997}, {1095, 4993}, {1098, 4998}},
    {"transposed", {1000, 0, 2, 5000, 2, 0}, {1001, 5001}, {1003, 5007}, {1007, 5005}, {1002, 5002}},
    // A 5 m posting turned by atan(4 / 3).
    {"turned", {1000, 3, 4, 5000, 4, -3}, {1003.5, 5000.5}, {1016.5, 5009.5}, {1021.5, 4999.5},
     {1007, 5001}},
};

TEST(DemGeoTransform, SamplesStandAtPixelCentresForAnySignsAndRotation) {
  for (const Layout& l : kLayouts) {
    SCOPED_TRACE(l.name);
    const auto t = DemGeoTransform::From(l.gt);
    ASSERT_TRUE(t.has_value());
    EXPECT_EQ(t->SampleToGround(0, 0), l.sample00);
    EXPECT_EQ(t->SampleToGround(3, 1), l.sample31);
    EXPECT_EQ(t->Window(2, 3).SampleToGround(0, 0), l.windowSample00);
    EXPECT_EQ(t->Resampled(0.5, 0.5).SampleToGround(0, 0), l.halfGridSample00);
    // And back: the ground point of a sample gives the sample, a pixel corner half a sample off.
    const cv::Point2d back = t->GroundToSample(l.sample31.x, l.sample31.y);
    EXPECT_NEAR(back.x, 3.0, 1e-9);
    EXPECT_NEAR(back.y, 1.0, 1e-9);
    const cv::Point2d corner = t->PixelToGround(0, 0);
    const cv::Point2d pixel = t->GroundToPixel(corner.x, corner.y);
    EXPECT_NEAR(pixel.x, 0.0, 1e-9);
    EXPECT_NEAR(pixel.y, 0.0, 1e-9);
    EXPECT_NEAR(t->GroundToSample(corner.x, corner.y).x, -0.5, 1e-9);
  }
}

TEST(DemGeoTransform, TransformsThatFoldTheGridAreRefused) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_FALSE(DemGeoTransform::From(GeoTransform{0, 0, 0, 0, 0, 0}));
  EXPECT_FALSE(DemGeoTransform::From(GeoTransform{0, 1, 2, 0, 1, 2}));   // columns along rows
  EXPECT_FALSE(DemGeoTransform::From(GeoTransform{0, 1, 0, 0, 0, 0}));   // rows go nowhere
  EXPECT_FALSE(DemGeoTransform::From(GeoTransform{nan, 1, 0, 0, 0, -1}));
  EXPECT_FALSE(DemGeoTransform::From(GeoTransform{0, inf, 0, 0, 0, -1}));
  EXPECT_TRUE(DemGeoTransform::From(GeoTransform{0, 1e-6, 0, 0, 0, -1e-6}));
  EXPECT_FALSE(DemGeoTransform::Of(nullptr));
}

}  // namespace
}  // namespace ortavia
