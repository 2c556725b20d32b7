#include "products/mosaic_writer.h"

#include <atomic>
#include <cmath>
#include <filesystem>
#include <functional>

#include <gdal_priv.h>
#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <ogr_spatialref.h>

#include "support/test_cog.h"
#include "support/test_env.h"
#include "support/test_geotiff.h"

namespace ortavia {
namespace {
namespace fs = std::filesystem;

// Ground of the test block: mosaic pixel (x, y), band b.
double Ground(int b, int x, int y) {
  return 60.0 + 20.0 * b + 30.0 * std::sin(x * 0.05) * std::cos(y * 0.04) + (x * 7 + y * 3) % 11;
}

struct Ortho {
  cv::Rect place;
  double exposure;
};

// One ortho's 3-band raster on the block's grid (GSD 1, origin (0, 0)); value(b, x, y) in grid
// pixels, band from 0.
bool WriteOrtho(const fs::path& path, const Ortho& o, GDALDataType type,
                const std::function<double(int, int, int)>& value) {
  test::TestRaster raster;
  raster.width = o.place.width;
  raster.height = o.place.height;
  raster.bands = 3;
  raster.type = type;
  raster.geoTransform = {o.place.x - 0.5, 1.0, 0.0, -o.place.y + 0.5, 0.0, -1.0};
  return test::WriteGeoTiff(path, raster, [&](int b, int c, int r) {
    return value(b - 1, o.place.x + c, o.place.y + r);
  });
}

// Three orthos on a 1100 x 700 grid (GSD 1, origin (0, 0)); cells of 20 pixels owned by the
// ortho whose centre is nearest. The second is 30 % brighter.
struct Block {
  std::vector<Ortho> orthos = {{{0, 0, 500, 700}, 1.0}, {{350, 0, 450, 700}, 1.3}, {{650, 0, 450, 700}, 0.95}};
  MosaicVrtGrid grid{0.0, 0.0, 1.0, 20.0, 1100, 700, {}};
  cv::Mat cells;
  std::vector<MosaicVrtOrtho> files;

  Block(const fs::path& dir, GDALDataType type) {
    OGRSpatialReference srs;
    srs.importFromEPSG(32633);
    char* wkt = nullptr;
    srs.exportToWkt(&wkt);
    grid.crsWkt = wkt;
    CPLFree(wkt);
    cells.create(35, 55, CV_8UC3);
    for (int r = 0; r < cells.rows; ++r)
      for (int c = 0; c < cells.cols; ++c) {
        int best = 0;
        for (int k = 1; k < 3; ++k)
          if (std::abs(c * 20 + 10 - (orthos[k].place.x + orthos[k].place.width / 2)) <
              std::abs(c * 20 + 10 - (orthos[best].place.x + orthos[best].place.width / 2)))
            best = k;
        cells.at<cv::Vec3b>(r, c) = cv::Vec3b(static_cast<uchar>(best), 0, 0);
      }
    for (int k = 0; k < 3; ++k) {
      const Ortho& o = orthos[k];
      const fs::path path = dir / ("o" + std::to_string(k) + ".tif");
      EXPECT_TRUE(WriteOrtho(path, o, type, [&](int b, int x, int y) {
        return std::round(Ground(b, x, y) * o.exposure);
      }));
      files.push_back({k, path.string()});
    }
  }
  int OwnerAt(int x) const { return cells.at<cv::Vec3b>(0, x / 20)[0]; }
};

// Ground-relative brightness of band 1 left of a vertical seam over that right of it, 30 to 39
// pixels away on either side, rows 100 to 599.
double GroundRatioAcross(const cv::Mat& mosaic, int seam) {
  double left = 0, right = 0;
  for (int y = 100; y < 600; ++y)
    for (int d = 30; d < 40; ++d) {
      left += mosaic.at<cv::Vec4d>(y, seam - d)[1] / Ground(1, seam - d, y);
      right += mosaic.at<cv::Vec4d>(y, seam + d)[1] / Ground(1, seam + d, y);
    }
  return left / right;
}

cv::Mat ReadAll(const fs::path& path, int bands) {
  GDALDatasetUniquePtr ds(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
  if (!ds) return {};
  cv::Mat m(ds->GetRasterYSize(), ds->GetRasterXSize(), CV_64FC(bands));
  if (ds->RasterIO(GF_Read, 0, 0, m.cols, m.rows, m.ptr(), m.cols, m.rows, GDT_Float64, bands,
                   nullptr, 8 * bands, static_cast<GSpacing>(m.step[0]), 8, nullptr) != CE_None)
    return {};
  return m;
}

// The first overview of the bands, as bytes.
cv::Mat ReadFirstOverview(const fs::path& path, int bands) {
  GDALDatasetUniquePtr ds(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
  if (!ds || ds->GetRasterBand(1)->GetOverviewCount() < 1) return {};
  GDALRasterBand* first = ds->GetRasterBand(1)->GetOverview(0);
  cv::Mat m(first->GetYSize(), first->GetXSize(), CV_8UC(bands));
  for (int b = 0; b < bands; ++b)
    if (ds->GetRasterBand(b + 1)->GetOverview(0)->RasterIO(
            GF_Read, 0, 0, m.cols, m.rows, m.ptr() + b, m.cols, m.rows, GDT_Byte, bands,
            static_cast<GSpacing>(m.step[0]), nullptr) != CE_None)
      return {};
  return m;
}

TEST(MosaicWriter, CogOnTheGridWithAlphaAndTheOrthosBands) {
  const fs::path dir = test::MakeTempDir("mosaic");
  for (GDALDataType type : {GDT_Byte, GDT_UInt16}) {
    const Block block(dir, type);
    MosaicOptions plain;
    plain.balance = MosaicBalance::None;
    plain.blend = MosaicBlend::None;
    plain.seamBandPx = 0;
    const fs::path out = dir / "mosaic.tif";
    const MosaicWriteResult r = WriteMosaicTiff(out.string(), block.cells, block.grid, block.files,
                                                plain, RunContext{});
    ASSERT_EQ(r.error, "");
    EXPECT_EQ(r.orthos, 3);
    EXPECT_TRUE(test::ValidateCog(out).valid) << test::ValidateCog(out).output;
    GDALDatasetUniquePtr ds(GDALDataset::Open(out.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
    ASSERT_TRUE(ds);
    ASSERT_EQ(ds->GetRasterCount(), 4);
    EXPECT_EQ(ds->GetRasterBand(1)->GetRasterDataType(), type);
    EXPECT_EQ(ds->GetRasterBand(4)->GetColorInterpretation(), GCI_AlphaBand);
    EXPECT_GT(ds->GetRasterBand(1)->GetOverviewCount(), 0);
    double gt[6];
    ASSERT_EQ(ds->GetGeoTransform(gt), CE_None);
    EXPECT_DOUBLE_EQ(gt[0], -0.5);
    EXPECT_DOUBLE_EQ(gt[3], 0.5);
    EXPECT_DOUBLE_EQ(gt[1], 1.0);
    OGRSpatialReference srs;
    srs.importFromEPSG(32633);
    ASSERT_TRUE(ds->GetSpatialRef());
    EXPECT_TRUE(ds->GetSpatialRef()->IsSame(&srs));
    ds.reset();
    // Without balancing, seams or blending each pixel is its Voronoi owner's, unchanged.
    const cv::Mat m = ReadAll(out, 4);
    const double opaque = type == GDT_Byte ? 255 : 65535;
    for (int x : {5, 349, 351, 520, 560, 700, 1099}) {
      const Ortho& o = block.orthos[block.OwnerAt(x)];
      for (int b = 0; b < 3; ++b)
        EXPECT_EQ(m.at<cv::Vec4d>(300, x)[b], std::round(Ground(b, x, 300) * o.exposure)) << x;
      EXPECT_EQ(m.at<cv::Vec4d>(300, x)[3], opaque);
    }
    EXPECT_FALSE(fs::exists(out.string() + ".part"));
    fs::remove(out);
  }
}

TEST(MosaicWriter, WrittenByTilesEqualsWrittenWhole) {
  const fs::path dir = test::MakeTempDir("mosaic");
  const Block block(dir, GDT_Byte);
  MosaicOptions small;  // balancing, seams and feathering as by default
  small.memoryMb = kMinMosaicMemoryMb;
  MosaicOptions large = small;
  large.memoryMb = 8192;
  const fs::path a = dir / "tiles.tif", b = dir / "whole.tif";
  const MosaicWriteResult ra = WriteMosaicTiff(a.string(), block.cells, block.grid, block.files, small, {});
  const MosaicWriteResult rb = WriteMosaicTiff(b.string(), block.cells, block.grid, block.files, large, {});
  ASSERT_EQ(ra.error, "");
  ASSERT_EQ(rb.error, "");
  ASSERT_LT(ra.tileSide, 700);   // several tiles
  ASSERT_GE(rb.tileSide, 1100);  // one tile
  const cv::Mat ma = ReadAll(a, 4), mb = ReadAll(b, 4);
  ASSERT_FALSE(ma.empty());
  EXPECT_EQ(cv::norm(ma, mb, cv::NORM_INF), 0.0);
  // The overviews too: made from the tiles in memory, not from the file.
  const cv::Mat oa = ReadFirstOverview(a, 4), ob = ReadFirstOverview(b, 4);
  ASSERT_EQ(oa.size(), cv::Size(550, 350));
  EXPECT_EQ(cv::norm(oa, ob, cv::NORM_INF), 0.0);
  // Each overview pixel is the mean of the four it covers (all opaque inside the block).
  for (const cv::Point p : {cv::Point(10, 10), cv::Point(300, 200), cv::Point(549, 349)}) {
    double sum = 0.0;
    for (int k = 0; k < 4; ++k) sum += ma.at<cv::Vec4d>(2 * p.y + k / 2, 2 * p.x + k % 2)[1];
    EXPECT_EQ(oa.at<cv::Vec4b>(p)[1], std::floor(sum / 4.0 + 0.5)) << p;
    EXPECT_EQ(oa.at<cv::Vec4b>(p)[3], 255) << p;
  }

  // The second ortho's 30 % are balanced away: across each seam the ground-relative brightness
  // steps by far less than the 30 % (or 27 %) of the orthos themselves.
  for (int seam : {420, 720}) EXPECT_NEAR(GroundRatioAcross(ma, seam), 1.0, 0.01) << seam;
}

TEST(MosaicWriter, MultibandByTilesEqualsWholeWithinTheMargin) {
  const fs::path dir = test::MakeTempDir("mosaic");
  const Block block(dir, GDT_Byte);
  MosaicOptions small;
  small.blend = MosaicBlend::Multiband;
  small.memoryMb = kMinMosaicMemoryMb;
  MosaicOptions large = small;
  large.memoryMb = 8192;
  const fs::path a = dir / "tiles.tif", b = dir / "whole.tif";
  const MosaicWriteResult ra = WriteMosaicTiff(a.string(), block.cells, block.grid, block.files, small, {});
  const MosaicWriteResult rb = WriteMosaicTiff(b.string(), block.cells, block.grid, block.files, large, {});
  ASSERT_EQ(ra.error, "");
  ASSERT_EQ(rb.error, "");
  ASSERT_LT(ra.tileSide, 700);
  ASSERT_GE(rb.tileSide, 1100);
  const cv::Mat ma = ReadAll(a, 4), mb = ReadAll(b, 4);
  ASSERT_FALSE(ma.empty());
  cv::Mat diff;
  cv::absdiff(ma, mb, diff);
  EXPECT_LE(cv::norm(diff, cv::NORM_INF), 1.0);
  EXPECT_LT(cv::countNonZero(diff.reshape(1) > 0), static_cast<int>(diff.total()) / 1000);
  // Balanced and blended: the seams show no step of the orthos' 30 %.
  for (int seam : {420, 720}) EXPECT_NEAR(GroundRatioAcross(ma, seam), 1.0, 0.01) << seam;
}

TEST(MosaicWriter, SeamsSearchedAtHalfResolutionNeverTakeAPixelTheOrthoLacks) {
  // The second ortho lacks every even column from 400 to 440 in rows 200 to 499: on the half grid
  // (sampled on odd columns) it looks whole there, so labels may name it; each such pixel must
  // still come from the first ortho, unchanged (no balancing, no blending), and be opaque.
  const fs::path dir = test::MakeTempDir("mosaic");
  Block block(dir, GDT_Byte);
  const Ortho& second = block.orthos[1];
  const auto hole = [](int x, int y) { return x >= 400 && x <= 440 && x % 2 == 0 && y >= 200 && y < 500; };
  ASSERT_TRUE(WriteOrtho(block.files[1].path, second, GDT_Byte, [&](int b, int x, int y) {
    return hole(x, y) ? 0.0 : std::round(Ground(b, x, y) * second.exposure);
  }));
  MosaicOptions o;
  o.balance = MosaicBalance::None;
  o.blend = MosaicBlend::None;
  const fs::path out = dir / "mosaic.tif";
  ASSERT_EQ(WriteMosaicTiff(out.string(), block.cells, block.grid, block.files, o, {}).error, "");
  const cv::Mat m = ReadAll(out, 4);
  ASSERT_FALSE(m.empty());
  int holes = 0;
  for (int y = 200; y < 500; ++y)
    for (int x = 400; x <= 440; x += 2) {
      const cv::Vec4d p = m.at<cv::Vec4d>(y, x);
      ASSERT_EQ(p[3], 255.0) << x << "," << y;
      for (int b = 0; b < 3; ++b) ASSERT_EQ(p[b], std::round(Ground(b, x, y))) << x << "," << y;
      ++holes;
    }
  EXPECT_EQ(holes, 21 * 300);
}

TEST(MosaicWriter, StopLeavesNothingUnderTheFinalName) {
  const fs::path dir = test::MakeTempDir("mosaic");
  const Block block(dir, GDT_Byte);
  std::atomic<bool> stop{false};
  RunContext ctx;
  ctx.abort = &stop;
  int steps = 0;
  ctx.progressPos = [&](int) {
    if (++steps == 3) stop = true;
  };
  const fs::path out = dir / "mosaic.tif";
  const MosaicWriteResult r = WriteMosaicTiff(out.string(), block.cells, block.grid, block.files, {}, ctx);
  EXPECT_TRUE(r.aborted);
  EXPECT_GE(steps, 3);
  EXPECT_FALSE(fs::exists(out));
  for (const auto& entry : fs::directory_iterator(dir))
    EXPECT_EQ(entry.path().extension(), ".tif") << entry.path();  // the orthos alone
}

}  // namespace
}  // namespace ortavia
