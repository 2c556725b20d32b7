#include "products/mosaic_vrt.h"

#include <cmath>
#include <filesystem>

#include <gdal_priv.h>
#include <gtest/gtest.h>

#include "support/test_env.h"
#include "support/test_geotiff.h"

namespace ortavia {
namespace {
namespace fs = std::filesystem;

// A Voronoi map from letters: A is row 0, B row 1, C row 2, '.' nobody.
cv::Mat Cells(const std::vector<std::string>& rows) {
  cv::Mat m(static_cast<int>(rows.size()), static_cast<int>(rows[0].size()), CV_8UC3,
            cv::Scalar::all(255));
  for (int k = 0; k < m.rows; ++k)
    for (int j = 0; j < m.cols; ++j)
      if (rows[k][j] != '.') m.at<cv::Vec3b>(k, j) = cv::Vec3b(rows[k][j] - 'A', 0, 0);
  return m;
}

TEST(MosaicVrt, WindowsCoverEachOrthosOwnCellsOnly) {
  struct Case {
    std::vector<std::string> map;
    double scale;
    int width, height;
    std::vector<OrthoPlacement> placements;  // ortho k shows row k
    std::vector<VrtWindow> expected;         // by hand
  };
  const std::vector<Case> cases = {
      // Cells of 2 pixels. B's ortho ends at pixel row 4, so its cell in the last row is cut off.
      {{"AABB", "ABB.", "AAAB"},
       2.0, 8, 6,
       {{0, 0, 6, 6}, {2, 0, 6, 4}},
       {{0, 0, 0, 0, 0, 4, 2},
        {1, 2, 0, 4, 0, 4, 2},
        {0, 0, 2, 0, 2, 2, 2},
        {1, 0, 2, 2, 2, 4, 2},
        {0, 0, 4, 0, 4, 6, 2}}},
      // The same columns row after row make one tall window.
      {{"AA", "AA"}, 3.0, 6, 6, {{0, 0, 6, 6}}, {{0, 0, 0, 0, 0, 6, 6}}},
      // Cells of 2.5 pixels: pixel p is in cell floor(p / 2.5), so A takes 0..2 and B 3..4.
      {{"AB"}, 2.5, 5, 2, {{0, 0, 5, 2}, {0, 0, 5, 2}},
       {{0, 0, 0, 0, 0, 3, 2}, {1, 3, 0, 3, 0, 2, 2}}},
      // An ortho offset into the mosaic: its source window starts at its own origin.
      {{"..", ".A"}, 4.0, 8, 8, {{3, 2, 5, 6}}, {{0, 1, 2, 4, 4, 4, 4}}},
      // C has no ortho: its cells stay empty.
      {{"CA"}, 2.0, 4, 2, {{0, 0, 4, 2}}, {{0, 2, 0, 2, 0, 2, 2}}},
  };
  for (const Case& c : cases) {
    std::vector<int> rows;
    for (size_t k = 0; k < c.placements.size(); ++k) rows.push_back(static_cast<int>(k));
    const auto windows =
        MosaicVrtWindows(Cells(c.map), c.scale, c.width, c.height, rows, c.placements);
    EXPECT_EQ(windows, c.expected) << c.map[0];
  }
}

// Ortho 0 shows list row 0 from mosaic pixel (0, 0), 8 x 4; ortho 1 row 1 from (2, 1), 6 x 3.
TEST(MosaicVrt, HiddenPixelsComeFromTheOrthoThatShowsThem) {
  HiddenFill fill(4);
  fill.SetRow(0, {{1, 3, 1}});                // above ortho 1: nothing
  fill.SetRow(1, {{1, 3, 1}, {5, 6, -1}});    // cut to column 2; nobody sees 5
  fill.SetRow(2, {{2, 3, 1}, {4, 6, 0}});     // the same run as above grows that window
  fill.SetRow(3, {{2, 3, 1}, {4, 6, 2}});     // row 2 has no ortho
  const std::vector<VrtWindow> expected = {{1, 0, 0, 2, 1, 1, 3}, {0, 4, 2, 4, 2, 2, 1}};
  EXPECT_EQ(HiddenFillWindows(fill, {0, 1}, {{0, 0, 8, 4}, {2, 1, 6, 3}}), expected);
}

TEST(MosaicVrt, OneFileShowsTheBlockWithTheSeamlinesOfTheVoronoiMap) {
  GDALAllRegister();
  const fs::path dir = test::MakeTempDir("vrt");
  // Grid: gsd 0.5, cells of 4 pixels, origin (1000, 2000); mosaic 16 x 12 pixels.
  MosaicVrtGrid grid;
  grid.mosaicMinX = 1000.0;
  grid.mosaicMaxY = 2000.0;
  grid.gsd = 0.5;
  grid.mosaicScale = 4.0;
  grid.mosaicWidth = 16;
  grid.mosaicHeight = 12;
  OGRSpatialReference utm;
  utm.importFromEPSG(32633);
  char* wkt = nullptr;
  utm.exportToWkt(&wkt);
  grid.crsWkt = wkt;
  CPLFree(wkt);
  const cv::Mat cells = Cells({"AABB", "ABBB", "AAB."});
  // Ortho of row r at (ox0, oy0), w x h, every pixel 10 * (r + 1) + band.
  struct Ortho {
    int row, ox0, oy0, w, h;
    double gsd;
  };
  const Ortho orthos[] = {{0, 0, 0, 12, 12, 0.5}, {1, 4, 0, 12, 10, 0.5}, {2, 0, 0, 16, 12, 0.25}};
  std::vector<MosaicVrtOrtho> list;
  for (const Ortho& o : orthos) {
    const fs::path path = dir / ("img_" + std::to_string(o.row) + ".tif");
    test::TestRaster r;
    r.width = o.w;
    r.height = o.h;
    r.bands = 3;
    r.type = GDT_Byte;
    r.geoTransform = {grid.mosaicMinX + o.ox0 * o.gsd - o.gsd / 2, o.gsd, 0.0,
                      grid.mosaicMaxY - o.oy0 * o.gsd + o.gsd / 2, 0.0, -o.gsd};
    ASSERT_TRUE(test::WriteGeoTiff(path, r, [&](int b, int, int) { return 10.0 * (o.row + 1) + b; }));
    list.push_back({o.row, path.string()});
  }
  list.push_back({3, (dir / "never_written.tif").string()});

  const MosaicVrtResult result = WriteMosaicVrt(dir.string(), cells, grid, list);
  EXPECT_EQ(result.error, "");
  EXPECT_EQ(result.orthos, 2);
  ASSERT_EQ(result.notes.size(), 1u);  // the ortho of another GSD
  EXPECT_NE(result.notes[0].find("img_2.tif"), std::string::npos) << result.notes[0];

  GDALDatasetUniquePtr vrt(
      GDALDataset::Open((dir / "mosaic.vrt").c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
  ASSERT_TRUE(vrt);
  EXPECT_EQ(vrt->GetRasterXSize(), 16);
  EXPECT_EQ(vrt->GetRasterYSize(), 12);
  ASSERT_EQ(vrt->GetRasterCount(), 3);
  double gt[6];
  ASSERT_EQ(vrt->GetGeoTransform(gt), CE_None);
  EXPECT_DOUBLE_EQ(gt[0], 999.75);
  EXPECT_DOUBLE_EQ(gt[3], 2000.25);
  EXPECT_DOUBLE_EQ(gt[1], 0.5);
  ASSERT_TRUE(vrt->GetSpatialRef());
  EXPECT_STREQ(vrt->GetSpatialRef()->GetAuthorityCode(nullptr), "32633");
  std::vector<uint8_t> band(16 * 12);
  for (int b = 1; b <= 3; ++b) {
    ASSERT_EQ(vrt->GetRasterBand(b)->RasterIO(GF_Read, 0, 0, 16, 12, band.data(), 16, 12, GDT_Byte,
                                              0, 0, nullptr),
              CE_None);
    for (int j = 0; j < 12; ++j)
      for (int i = 0; i < 16; ++i) {
        // By hand: the owner of the pixel's cell shows its value inside its ortho.
        const char owner = std::string("AABBABBBAAB.")[(j / 4) * 4 + i / 4];
        int expected = 0;
        if (owner == 'A' && i < 12) expected = 10 + b;
        if (owner == 'B' && i >= 4 && j < 10) expected = 20 + b;
        EXPECT_EQ(band[j * 16 + i], expected) << "band " << b << " pixel " << i << "," << j;
      }
  }
  // Sources are named relative to the VRT, so the folder can move.
  const fs::path moved = dir.parent_path() / (dir.filename().string() + "_moved");
  fs::rename(dir, moved);
  GDALDatasetUniquePtr again(
      GDALDataset::Open((moved / "mosaic.vrt").c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
  ASSERT_TRUE(again);
  uint8_t v = 0;
  ASSERT_EQ(again->GetRasterBand(1)->RasterIO(GF_Read, 5, 5, 1, 1, &v, 1, 1, GDT_Byte, 0, 0, nullptr),
            CE_None);
  EXPECT_EQ(v, 21);
}

TEST(MosaicVrt, NoOrthoNoFile) {
  const fs::path dir = test::MakeTempDir("vrt0");
  MosaicVrtGrid grid;
  grid.gsd = 1.0;
  grid.mosaicWidth = grid.mosaicHeight = 8;
  const MosaicVrtResult r =
      WriteMosaicVrt(dir.string(), Cells({"AA"}), grid, {{0, (dir / "a.tif").string()}});
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.orthos, 0);
  EXPECT_FALSE(fs::exists(dir / "mosaic.vrt"));
}

}  // namespace
}  // namespace ortavia
