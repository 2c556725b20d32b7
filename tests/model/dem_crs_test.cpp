#include "model/dem_crs.h"

#include <algorithm>
#include <filesystem>

#include <gtest/gtest.h>
#include <ogr_spatialref.h>

#include "model/dem.h"
#include "support/test_env.h"
#include "support/test_geotiff.h"

namespace ortavia {
namespace {
namespace fs = std::filesystem;

std::string EpsgOf(const std::string& wkt) {
  OGRSpatialReference srs;
  if (srs.importFromWkt(wkt.c_str()) != OGRERR_NONE) return "?";
  srs.AutoIdentifyEPSG();
  const char* code = srs.GetAuthorityCode(nullptr);
  return code ? code : "";
}

TEST(CrsDefinition, WhatGdalTakesAndWhatItRefuses) {
  struct Case {
    std::string text;
    std::string epsg;      // expected code when read; empty when refused
    std::string reason;    // a fragment of the refusal
  };
  const std::string utmWkt =
      R"(PROJCS["WGS 84 / UTM zone 32N",GEOGCS["WGS 84",DATUM["WGS_1984",SPHEROID["WGS 84",6378137,298.257223563]],PRIMEM["Greenwich",0],UNIT["degree",0.0174532925199433]],PROJECTION["Transverse_Mercator"],PARAMETER["latitude_of_origin",0],PARAMETER["central_meridian",9],PARAMETER["scale_factor",0.9996],PARAMETER["false_easting",500000],PARAMETER["false_northing",0],UNIT["metre",1],AUTHORITY["EPSG","32632"]])";
  const std::vector<Case> cases = {
      {"EPSG:32633", "32633", ""},
      {"32633", "32633", ""},  // a bare code is an EPSG code
      {"EPSG:3004", "3004", ""},
      {"+proj=utm +zone=34 +south +datum=WGS84 +units=m +no_defs", "32734", ""},
      {utmWkt, "32632", ""},
      {"EPSG:999999", "", "crs not found"},
      {"+proj=bogus", "", "Unknown projection"},
      {"PROJCS[", "", "GDAL cannot read"},
      {"nonsense", "", "'nonsense'"},
      {"", "", "GDAL cannot read"},
  };
  for (const Case& c : cases) {
    std::string wkt;
    const std::string err = ParseCrsDefinition(c.text, &wkt);
    if (c.epsg.empty()) {
      EXPECT_NE(err.find(c.reason), std::string::npos) << c.text << " -> " << err;
      EXPECT_TRUE(wkt.empty()) << c.text;
    } else {
      EXPECT_EQ(err, "") << c.text;
      EXPECT_EQ(EpsgOf(wkt), c.epsg) << c.text;
      EXPECT_FALSE(IsGeographicCrs(wkt)) << c.text;
    }
  }
  std::string wgs84;
  ASSERT_EQ(ParseCrsDefinition("EPSG:4326", &wgs84), "");
  EXPECT_TRUE(IsGeographicCrs(wgs84));
  EXPECT_EQ(CrsName(wgs84), "WGS 84");
  EXPECT_FALSE(IsGeographicCrs(""));
}

TEST(CrsDefinition, UtmZoneOfAPlace) {
  struct Case {
    double lon, lat;
    int epsg;
  };
  // zone = floor((lon + 180) / 6) + 1, kept within 1..60; 326zz north, 327zz south.
  const Case cases[] = {
      {15.0, 45.0, 32633},    // 195 / 6 = 32.5 -> 33
      {14.999, 45.0, 32633},  // still zone 33 (12..18 E)
      {12.0, 45.0, 32633},    // the zone's west edge belongs to it
      {11.999, 45.0, 32632},
      {-0.1, -10.0, 32730},   // 179.9 / 6 = 29.98 -> 30, south
      {18.4, -33.9, 32734},   // 198.4 / 6 = 33.07 -> 34
      {-180.0, 0.0, 32601},   // the equator counts as north
      {180.0, 89.0, 32660},   // 360 / 6 + 1 = 61, kept at 60
  };
  for (const Case& c : cases) EXPECT_EQ(UtmEpsgFor(c.lon, c.lat), c.epsg) << c.lon << "," << c.lat;
}

// A DEM in memory: 100 x 80 samples of 0.001 degrees (or metres) from (x0, y0).
GDALDatasetUniquePtr MemDem(double x0, double y0, const std::string& crs) {
  GDALAllRegister();
  GDALDriver* mem = GetGDALDriverManager()->GetDriverByName("MEM");
  GDALDatasetUniquePtr ds(mem->Create("", 100, 80, 1, GDT_Float32, nullptr));
  double gt[6] = {x0, 0.001, 0.0, y0, 0.0, -0.001};
  ds->SetGeoTransform(gt);
  std::string wkt;
  if (!crs.empty() && ParseCrsDefinition(crs, &wkt).empty()) SetDatasetCrs(*ds, wkt);
  return ds;
}

TEST(CrsDefinition, GeographicDemsAreToldHowToReproject) {
  // Centre (14.55, 45.16): zone 33 north.
  auto istria = MemDem(14.5, 45.2, "EPSG:4326");
  const std::string advice =
      GeographicDemAdvice(istria.get(), DatasetCrsWkt(istria.get()), "/data/dem.tif");
  EXPECT_NE(advice.find("/data/dem.tif"), std::string::npos) << advice;
  EXPECT_NE(advice.find("WGS 84"), std::string::npos) << advice;
  EXPECT_NE(advice.find("gdalwarp -t_srs EPSG:32633 -r bilinear /data/dem.tif /data/dem_projected.tif"),
            std::string::npos)
      << advice;
  // Centre (18.45, -33.94): zone 34 south.
  auto cape = MemDem(18.4, -33.9, "EPSG:4326");
  EXPECT_NE(GeographicDemAdvice(cape.get(), DatasetCrsWkt(cape.get()), "c.tif").find("EPSG:32734"),
            std::string::npos);
  // Labelled geographic but holding metres: no zone can be guessed.
  auto mislabelled = MemDem(500000.0, 4500000.0, "EPSG:4326");
  const std::string vague =
      GeographicDemAdvice(mislabelled.get(), DatasetCrsWkt(mislabelled.get()), "m.tif");
  EXPECT_NE(vague.find("gdalwarp -t_srs EPSG:<code of a projected system>"), std::string::npos)
      << vague;
  // Projected or without a CRS: nothing to say.
  auto utm = MemDem(500000.0, 4500000.0, "EPSG:32633");
  EXPECT_EQ(GeographicDemAdvice(utm.get(), DatasetCrsWkt(utm.get()), "u.tif"), "");
  auto bare = MemDem(500000.0, 4500000.0, "");
  EXPECT_EQ(DatasetCrsWkt(bare.get()), "");
  EXPECT_EQ(GeographicDemAdvice(bare.get(), DatasetCrsWkt(bare.get()), "b.tif"), "");
}

TEST(CrsDefinition, AddingAGeographicDemLogsAWarning) {
  const fs::path dir = test::MakeTempDir("crs");
  struct Case {
    const char* crs;
    bool warned;
  };
  for (const Case c : {Case{"EPSG:4326", true}, Case{"EPSG:32633", false}, Case{"", false}}) {
    const fs::path path = dir / (std::string("dem") + (c.crs[0] ? c.crs + 5 : "none") + ".tif");
    test::TestRaster r;
    r.width = r.height = 20;
    r.geoTransform = {14.5, 0.01, 0.0, 45.2, 0.0, -0.01};
    ASSERT_TRUE(test::WriteGeoTiff(path, r, [](int, int col, int row) { return 100.0 + col + row; }));
    if (c.crs[0]) {
      GDALDatasetUniquePtr ds(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_UPDATE));
      std::string wkt;
      ASSERT_EQ(ParseCrsDefinition(c.crs, &wkt), "");
      ASSERT_TRUE(SetDatasetCrs(*ds, wkt));
    }
    WarpProject project;
    std::vector<std::string> log;
    RunContext ctx;
    ctx.log = [&](const std::string& l) { log.push_back(l); };
    const LoadDemResult result = LoadDem(project, path.string(), ctx);
    EXPECT_EQ(result.status, LoadDemStatus::Loaded) << path;  // shown, refused only by the run
    const bool warned = std::any_of(log.begin(), log.end(), [](const std::string& l) {
      return l.rfind("Warning: DEM ", 0) == 0 && l.find("gdalwarp -t_srs EPSG:32633") != std::string::npos;
    });
    EXPECT_EQ(warned, c.warned) << path;
  }
}

}  // namespace
}  // namespace ortavia
