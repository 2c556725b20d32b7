#include "products/ortho_paint.h"

#include <gtest/gtest.h>

#include "support/test_env.h"
#include "support/test_geotiff.h"

namespace ortavia {
namespace {

// A 4 x 2 three-band ortho: band b of pixel (c, r) holds 10 * c + 100 * r + b.
GDALDatasetUniquePtr SmallOrtho(GDALDataType type = GDT_Byte) {
  const auto path = test::MakeTempDir("paint") / "o.tif";
  test::TestRaster r;
  r.width = 4;
  r.height = 2;
  r.bands = 3;
  r.type = type;
  EXPECT_TRUE(test::WriteGeoTiff(path, r, [](int b, int c, int row) { return 10.0 * c + 100.0 * row + b; }));
  return test::OpenRaster(path);
}

// Blue, green, red of ortho pixel (c, r): bands 3, 2, 1.
cv::Vec3b Expected(int c, int r) {
  const int v = 10 * c + 100 * r;
  return {static_cast<uchar>(v + 3), static_cast<uchar>(v + 2), static_cast<uchar>(v + 1)};
}

TEST(OrthoPaint, ScreenPixelsShowTheOrthoPixelsUnderThem) {
  auto ortho = SmallOrtho();
  ASSERT_TRUE(ortho);
  struct Case {
    cv::Rect2d picture;
    cv::Rect redrawn;
  };
  const Case cases[] = {
      {{0, 0, 8, 4}, {0, 0, 8, 4}},        // two screen pixels per ortho pixel
      {{-1, 0, 8, 4}, {0, 0, 7, 4}},       // shifted by one screen pixel
      {{3, 2, 12, 6}, {0, 0, 20, 20}},     // three per pixel, inside a larger view
      {{0, 0, 8, 4}, {4, 2, 4, 2}},        // only the lower-right quarter is redrawn
  };
  for (const Case& c : cases) {
    const OrthoPaint paint = PaintOrtho(ortho.get(), c.picture, c.redrawn);
    ASSERT_FALSE(paint.bgr.empty());
    const cv::Rect covered = cv::Rect(cv::Rect2d(c.picture)) & c.redrawn;
    EXPECT_EQ(paint.topLeft, covered.tl());
    EXPECT_EQ(paint.bgr.size(), covered.size());
    const double unit = c.picture.width / 4;
    for (int y = 0; y < paint.bgr.rows; ++y)
      for (int x = 0; x < paint.bgr.cols; ++x) {
        const int sx = paint.topLeft.x + x, sy = paint.topLeft.y + y;
        const int oc = static_cast<int>((sx + 0.5 - c.picture.x) / unit);
        const int orow = static_cast<int>((sy + 0.5 - c.picture.y) / unit);
        EXPECT_EQ(paint.bgr.at<cv::Vec3b>(y, x), Expected(oc, orow)) << "screen " << sx << "," << sy;
      }
  }
}

TEST(OrthoPaint, NothingToPaint) {
  auto ortho = SmallOrtho();
  EXPECT_TRUE(PaintOrtho(nullptr, {0, 0, 8, 4}, {0, 0, 8, 4}).bgr.empty());
  EXPECT_TRUE(PaintOrtho(ortho.get(), {0, 0, 8, 4}, {20, 20, 5, 5}).bgr.empty());   // not visible
  EXPECT_TRUE(PaintOrtho(ortho.get(), {0, 0, 0, 4}, {0, 0, 8, 4}).bgr.empty());     // no size
  auto complex = SmallOrtho(GDT_CInt16);
  ASSERT_TRUE(complex);
  EXPECT_TRUE(PaintOrtho(complex.get(), {0, 0, 8, 4}, {0, 0, 8, 4}).bgr.empty());   // no such type
}

}  // namespace
}  // namespace ortavia
