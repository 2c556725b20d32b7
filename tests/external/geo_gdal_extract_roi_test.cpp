#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <opencv2/core.hpp>
#include <string>

#include "external/geo/gdal_extract_roi.h"
#include "support/test_env.h"
#include "support/test_geotiff.h"

namespace {

using ortavia::test::OpenRaster;
using ortavia::test::TestRaster;
using ortavia::test::WriteGeoTiff;

// Distinct value per sample, negative ones included, no-data at (2, 1).
double HeightAt(int col, int row) { return (col == 2 && row == 1) ? -32768 : 100 * row + col - 150; }

GDALDatasetUniquePtr HeightRaster(GDALDataType type, int w, int h) {
  const auto path = ortavia::test::MakeTempDir() / "dem.tif";
  TestRaster raster{w, h, 1, type, {1000, 10, 0, 5000, 0, -10}, -32768.0};
  EXPECT_TRUE(WriteGeoTiff(path, raster, [](int, int c, int r) { return HeightAt(c, r); }));
  return OpenRaster(path);
}

// Independent nearest-neighbour reference, in exact integer arithmetic: destination pixel i of
// n over a source span (off, len) samples floor(off + (i + 0.5) * len / n).
int SourceIndex(int off, int len, int n, int i) {
  const long long num = 2LL * off * n + (2LL * i + 1) * len;
  const long long den = 2LL * n;
  return static_cast<int>(num >= 0 ? num / den : -((-num + den - 1) / den));
}

TEST(GDALExtractROI, WholeRasterAtFullSizeIsExact) {
  const auto ds = HeightRaster(GDT_Int16, 7, 5);
  ASSERT_TRUE(ds);
  cv::Mat raw(5, 7, CV_16SC1, cv::Scalar(1));
  ASSERT_EQ(geo::GDALExtractROI(ds.get(), raw, nullptr, geo::kExtractRaw, nullptr), 1);
  cv::Mat asFloat(5, 7, CV_32FC1);
  ASSERT_EQ(geo::GDALExtractROI(ds.get(), asFloat, nullptr, geo::kExtractRaw, nullptr), 1);
  for (int r = 0; r < 5; ++r)
    for (int c = 0; c < 7; ++c) {
      EXPECT_EQ(raw.at<std::int16_t>(r, c), HeightAt(c, r)) << c << "," << r;
      EXPECT_EQ(asFloat.at<float>(r, c), HeightAt(c, r)) << c << "," << r;
    }
}

TEST(GDALExtractROI, WritesOnlyInsideAViewOfALargerImage) {
  const auto ds = HeightRaster(GDT_Float32, 7, 5);
  ASSERT_TRUE(ds);
  cv::Mat canvas(9, 11, CV_32FC1, cv::Scalar(42));
  cv::Mat view = canvas(cv::Rect(2, 3, 7, 5));
  ASSERT_EQ(geo::GDALExtractROI(ds.get(), view, nullptr, geo::kExtractRaw, nullptr), 1);
  EXPECT_EQ(canvas.at<float>(3 + 4, 2 + 6), HeightAt(6, 4));
  cv::Mat untouched = canvas.clone();
  view.setTo(42);
  EXPECT_EQ(cv::countNonZero(untouched != 42), 7 * 5);
}

TEST(GDALExtractROI, ResamplesByNearestNeighbourKeepingNoData) {
  const int W = 13, H = 9;
  const auto ds = HeightRaster(GDT_Float32, W, H);
  ASSERT_TRUE(ds);
  for (int dw : {1, 2, 3, 7, 13, 20, 26})
    for (int dh : {1, 2, 3, 7, 9, 18}) {
      cv::Mat img(dh, dw, CV_32FC1);
      ASSERT_EQ(geo::GDALExtractROI(ds.get(), img, nullptr, geo::kExtractRaw, nullptr), 1);
      for (int j = 0; j < dh; ++j)
        for (int i = 0; i < dw; ++i)
          ASSERT_EQ(img.at<float>(j, i), HeightAt(SourceIndex(0, W, dw, i), SourceIndex(0, H, dh, j)))
              << dw << "x" << dh << " at " << i << "," << j;
    }
  // The no-data sample survives a 1:1 read of a rectangle around it, bit for bit.
  const cv::Rect around(1, 0, 3, 3);
  cv::Mat img(3, 3, CV_32FC1);
  ASSERT_EQ(geo::GDALExtractROI(ds.get(), img, &around, geo::kExtractRaw, nullptr), 1);
  EXPECT_EQ(img.at<float>(1, 1), -32768.0f);
}

TEST(GDALExtractROI, RawValuesNeverComeFromAveragedOverviews) {
  const auto path = ortavia::test::MakeTempDir() / "checker.tif";
  // Stripes 0 / 100 by column: a 2:1 average overview holds 50 everywhere.
  ASSERT_TRUE(WriteGeoTiff(path, {8, 8, 1, GDT_Int16, {0, 1, 0, 0, 0, -1}, std::nullopt},
                           [](int, int c, int) { return c % 2 == 0 ? 0 : 100; }));
  {
    GDALDatasetUniquePtr ds(GDALDataset::Open(path.string().c_str(), GDAL_OF_RASTER | GDAL_OF_UPDATE));
    ASSERT_TRUE(ds);
    const int level = 2;
    ASSERT_EQ(ds->BuildOverviews("AVERAGE", 1, &level, 0, nullptr, nullptr, nullptr), CE_None);
  }
  const auto ds = OpenRaster(path);
  ASSERT_EQ(ds->GetRasterBand(1)->GetOverviewCount(), 1);
  cv::Mat img(4, 4, CV_16SC1);
  ASSERT_EQ(geo::GDALExtractROI(ds.get(), img, nullptr, geo::kExtractRaw, nullptr), 1);
  // Destination column i samples source column 2 i + 1: always a 100 stripe.
  EXPECT_EQ(cv::countNonZero(img != 100), 0);
}

TEST(GDALExtractROI, RectangleBeyondTheRasterIsFilled) {
  const int W = 7, H = 5;
  const auto ds = HeightRaster(GDT_Float32, W, H);
  ASSERT_TRUE(ds);
  // Reaches past the left, right and bottom edges, as the warp's widened DEM window does.
  const cv::Rect rect(-2, 1, 12, 6);
  cv::Mat heights(6, 12, CV_32FC1);
  ASSERT_EQ(geo::GDALExtractROI(ds.get(), heights, &rect, geo::kExtractRaw, nullptr), 1);
  cv::Mat counts(6, 12, CV_16UC1);
  const auto u16 = HeightRaster(GDT_UInt16, W, H);
  ASSERT_EQ(geo::GDALExtractROI(u16.get(), counts, &rect, geo::kExtractRaw, nullptr), 1);
  for (int j = 0; j < 6; ++j)
    for (int i = 0; i < 12; ++i) {
      const int c = rect.x + i, r = rect.y + j;
      const bool inside = c >= 0 && c < W && r < H;
      EXPECT_EQ(heights.at<float>(j, i), inside ? HeightAt(c, r) : -9999.0) << i << "," << j;
      if (!inside) {
        EXPECT_EQ(counts.at<std::uint16_t>(j, i), 0) << i << "," << j;
      }
    }
  // Resampled too: a 2:1 reduction of a rectangle half outside keeps its outside half filled.
  const cv::Rect half(-W, 0, 2 * W, H);
  cv::Mat small(H, W, CV_64FC1);
  ASSERT_EQ(geo::GDALExtractROI(ds.get(), small, &half, geo::kExtractRaw, nullptr), 1);
  for (int i = 0; i < W; ++i) {
    const int src = SourceIndex(-W, 2 * W, W, i);
    EXPECT_EQ(small.at<double>(0, i), src < 0 ? -9999.0 : HeightAt(src, 0)) << i;
  }
}

TEST(GDALExtractROI, IntegerHeightsBeyondTheRasterAreNoData) {
  const auto dir = ortavia::test::MakeTempDir();
  auto outside = [&](GDALDataType type, std::optional<double> noData, int depth) {
    const auto path = dir / ("dem" + std::to_string(type) + std::to_string(depth) +
                             std::to_string(noData.value_or(1)) + ".tif");
    EXPECT_TRUE(WriteGeoTiff(path, {3, 2, 1, type, {0, 1, 0, 0, 0, -1}, noData},
                             [](int, int, int) { return 7; }));
    const auto ds = OpenRaster(path);
    const cv::Rect rect(0, 0, 4, 2);  // one column past the right edge
    cv::Mat img(2, 4, depth);
    EXPECT_EQ(geo::GDALExtractROI(ds.get(), img, &rect, geo::kExtractRaw, nullptr), 1);
    cv::Mat asDouble;
    img.convertTo(asDouble, CV_64F);
    EXPECT_EQ(asDouble.at<double>(1, 2), 7.0);
    return asDouble.at<double>(1, 3);
  };
  EXPECT_EQ(outside(GDT_Int16, -32768.0, CV_16S), -32768.0);
  EXPECT_EQ(outside(GDT_Int16, std::nullopt, CV_16S), -9999.0);
  EXPECT_EQ(outside(GDT_Int16, -32768.0, CV_16U), 32768.0);  // the bits of -32768
  EXPECT_EQ(outside(GDT_UInt16, 0.0, CV_16U), 0.0);
  EXPECT_EQ(outside(GDT_UInt16, 65535.0, CV_16U), 65535.0);
  EXPECT_EQ(outside(GDT_UInt16, 65535.0, CV_16S), -1.0);  // the bits of 65535
  EXPECT_EQ(outside(GDT_UInt16, std::nullopt, CV_16U), 0.0);  // -9999 does not fit
  EXPECT_EQ(outside(GDT_Int32, std::nullopt, CV_32S), -9999.0);
  EXPECT_EQ(outside(GDT_Float32, 0.0, CV_32F), -9999.0);
  EXPECT_EQ(outside(GDT_Byte, std::nullopt, CV_8U), 0.0);
}

TEST(GDALExtractROI, RefusesWhatCannotBeRead) {
  const auto ds = HeightRaster(GDT_Float32, 7, 5);
  ASSERT_TRUE(ds);
  cv::Mat img(4, 4, CV_32FC1);
  for (const cv::Rect rect : {cv::Rect(7, 0, 3, 3), cv::Rect(-3, 0, 3, 3), cv::Rect(0, 5, 2, 2),
                              cv::Rect(0, 0, 0, 3), cv::Rect(0, 0, 3, -1)})
    EXPECT_EQ(geo::GDALExtractROI(ds.get(), img, &rect, geo::kExtractRaw, nullptr), 0)
        << rect;
  EXPECT_EQ(geo::GDALExtractROI(nullptr, img, nullptr, geo::kExtractRaw, nullptr), 0);
  cv::Mat empty;
  EXPECT_EQ(geo::GDALExtractROI(ds.get(), empty, nullptr, geo::kExtractRaw, nullptr), 0);
  EXPECT_EQ(geo::GDALExtractROI(ds.get(), img, nullptr, 0.5, nullptr), 0);
  cv::Mat signedByte(4, 4, CV_8SC1);
  EXPECT_EQ(geo::GDALExtractROI(ds.get(), signedByte, nullptr, geo::kExtractRaw, nullptr), 0);
  const std::vector<int> noSuchBand{2};
  EXPECT_EQ(geo::GDALExtractROI(ds.get(), img, nullptr, geo::kExtractRaw, &noSuchBand), 0);
  cv::Mat gray(4, 4, CV_8UC1);
  EXPECT_EQ(geo::GDALExtractROI(ds.get(), gray, nullptr, geo::kExtractDisplay, nullptr), 0);
}

TEST(GDALExtractROI, SixteenBitBandsKeepTheirBitsInEitherSixteenBitImage) {
  const auto ds = HeightRaster(GDT_Int16, 7, 5);
  ASSERT_TRUE(ds);
  cv::Mat img(5, 7, CV_16UC1);
  ASSERT_EQ(geo::GDALExtractROI(ds.get(), img, nullptr, geo::kExtractRaw, nullptr), 1);
  EXPECT_EQ(static_cast<std::int16_t>(img.at<std::uint16_t>(1, 2)), -32768);
  EXPECT_EQ(static_cast<std::int16_t>(img.at<std::uint16_t>(0, 0)), -150);
}

TEST(GDALExtractROI, RawModeTakesListedBandsPerChannel) {
  const auto path = ortavia::test::MakeTempDir() / "rgb.tif";
  ASSERT_TRUE(WriteGeoTiff(path, {4, 3, 3, GDT_Byte, {0, 1, 0, 0, 0, -1}, std::nullopt},
                           [](int b, int c, int r) { return b * 50 + c + 10 * r; }));
  const auto ds = OpenRaster(path);
  cv::Mat img(3, 4, CV_8UC2);
  const std::vector<int> bands{3, 1};
  ASSERT_EQ(geo::GDALExtractROI(ds.get(), img, nullptr, geo::kExtractRaw, &bands), 1);
  EXPECT_EQ(img.at<cv::Vec2b>(2, 3), cv::Vec2b(150 + 23, 50 + 23));
  cv::Mat three(3, 4, CV_8UC3);
  ASSERT_EQ(geo::GDALExtractROI(ds.get(), three, nullptr, geo::kExtractRaw, nullptr), 1);
  EXPECT_EQ(three.at<cv::Vec3b>(1, 1), cv::Vec3b(61, 111, 161));
}

TEST(GDALExtractROI, DisplayModeIsBgrFromBandsThreeTwoOne) {
  const auto path = ortavia::test::MakeTempDir() / "rgbn.tif";
  ASSERT_TRUE(WriteGeoTiff(path, {4, 3, 4, GDT_Byte, {0, 1, 0, 0, 0, -1}, std::nullopt},
                           [](int b, int c, int r) { return b * 40 + c + 10 * r; }));
  const auto ds = OpenRaster(path);
  cv::Mat img(3, 4, CV_8UC3);
  ASSERT_EQ(geo::GDALExtractROI(ds.get(), img, nullptr, geo::kExtractDisplay, nullptr), 1);
  // Blue from band 3, green from band 2, red from band 1.
  EXPECT_EQ(img.at<cv::Vec3b>(2, 1), cv::Vec3b(120 + 21, 80 + 21, 40 + 21));

  // Colour roles, one per band: band 1 blue, band 2 red, band 4 green.
  const std::vector<int> roles{GCI_BlueBand, GCI_RedBand, GCI_Undefined, GCI_GreenBand};
  ASSERT_EQ(geo::GDALExtractROI(ds.get(), img, nullptr, geo::kExtractDisplay, &roles), 1);
  EXPECT_EQ(img.at<cv::Vec3b>(2, 1), cv::Vec3b(40 + 21, 160 + 21, 80 + 21));

  // Outside the raster stays black.
  const cv::Rect wide(0, 0, 8, 3);
  cv::Mat wideImg(3, 8, CV_8UC3, cv::Scalar::all(7));
  ASSERT_EQ(geo::GDALExtractROI(ds.get(), wideImg, &wide, geo::kExtractDisplay, nullptr), 1);
  EXPECT_EQ(wideImg.at<cv::Vec3b>(0, 6), cv::Vec3b(0, 0, 0));
  EXPECT_EQ(wideImg.at<cv::Vec3b>(0, 3), cv::Vec3b(123, 83, 43));
}

TEST(GDALExtractROI, DisplayModeRepeatsAGrayBandAndStretchesWideTypes) {
  const auto path = ortavia::test::MakeTempDir() / "gray16.tif";
  // 1000 .. 2000 in steps of 100 along a row.
  ASSERT_TRUE(WriteGeoTiff(path, {11, 2, 1, GDT_UInt16, {0, 1, 0, 0, 0, -1}, std::nullopt},
                           [](int, int c, int) { return 1000 + 100 * c; }));
  const auto ds = OpenRaster(path);
  cv::Mat img(2, 11, CV_8UC3);
  const std::vector<int> roles{GCI_GrayIndex, 0, 0, 0};
  for (const std::vector<int>* list : {static_cast<const std::vector<int>*>(nullptr), &roles}) {
    ASSERT_EQ(geo::GDALExtractROI(ds.get(), img, nullptr, geo::kExtractDisplay, list), 1);
    EXPECT_EQ(img.at<cv::Vec3b>(1, 0), cv::Vec3b(0, 0, 0));
    EXPECT_EQ(img.at<cv::Vec3b>(1, 10), cv::Vec3b(255, 255, 255));
    EXPECT_EQ(img.at<cv::Vec3b>(0, 5), cv::Vec3b(128, 128, 128));  // 127.5 rounds up
    EXPECT_EQ(img.at<cv::Vec3b>(0, 2), cv::Vec3b(51, 51, 51));
  }
}

TEST(GDALExtractROI, DisplayOfAnImageOpenForUpdateLeavesItsFileAlone) {
  const auto dir = ortavia::test::MakeTempDir();
  const auto path = dir / "image.tif";
  ASSERT_TRUE(WriteGeoTiff(path, {16, 16, 1, GDT_UInt16, {0, 1, 0, 0, 0, -1}, std::nullopt},
                           [](int, int c, int r) { return c * r; }));
  const auto before = std::filesystem::last_write_time(path);
  {
    GDALDatasetUniquePtr ds(GDALDataset::Open(path.string().c_str(), GDAL_OF_RASTER | GDAL_OF_UPDATE));
    ASSERT_TRUE(ds);
    cv::Mat picture(8, 8, CV_8UC3);
    ASSERT_EQ(geo::GDALExtractROI(ds.get(), picture, nullptr, geo::kExtractDisplay, nullptr), 1);
  }
  EXPECT_EQ(std::filesystem::last_write_time(path), before);
  EXPECT_FALSE(std::filesystem::exists(dir / "image.tif.aux.xml"));
  const auto ds = OpenRaster(path);
  EXPECT_EQ(ds->GetRasterBand(1)->GetMetadataItem("STATISTICS_MAXIMUM"), nullptr);
}

TEST(GetCVDepth, MapsBandTypesToBufferDepths) {
  EXPECT_EQ(geo::GetCVDepth(GDT_Byte), CV_8U);
  EXPECT_EQ(geo::GetCVDepth(GDT_UInt16), CV_16U);
  EXPECT_EQ(geo::GetCVDepth(GDT_Int16), CV_16S);
  EXPECT_EQ(geo::GetCVDepth(GDT_UInt32), CV_32F);
  EXPECT_EQ(geo::GetCVDepth(GDT_Int32), CV_32S);
  EXPECT_EQ(geo::GetCVDepth(GDT_Float32), CV_32F);
  EXPECT_EQ(geo::GetCVDepth(GDT_Float64), CV_64F);
  EXPECT_EQ(geo::GetCVDepth(GDT_CFloat32), GDT_CFloat32);
  EXPECT_EQ(geo::GetCVDepth(999), 999);
}

}  // namespace
