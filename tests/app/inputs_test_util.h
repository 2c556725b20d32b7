#pragma once
// Rasters and passports made by the input tests themselves.
#include <array>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gdal_priv.h>

#include "external/geo/camera_passport.h"

namespace ortavia::test {

struct RasterSpec {
  int width = 1, height = 1, bands = 1;
  GDALDataType type = GDT_Float32;
  std::optional<std::array<double, 6>> geoTransform = std::array<double, 6>{0, 1, 0, 0, 0, -1};
  std::optional<double> noData;
  std::map<std::string, std::string> metadata;  // default domain (TIFFTAG_* become TIFF tags)
};

inline RasterSpec Spec(int width, int height, GDALDataType type = GDT_Float32, int bands = 1) {
  RasterSpec s;
  s.width = width;
  s.height = height;
  s.type = type;
  s.bands = bands;
  return s;
}
inline RasterSpec WithGt(RasterSpec s, std::optional<std::array<double, 6>> gt) {
  s.geoTransform = gt;
  return s;
}
inline RasterSpec WithNoData(RasterSpec s, double noData) {
  s.noData = noData;
  return s;
}
inline RasterSpec WithMetadata(RasterSpec s, std::map<std::string, std::string> metadata) {
  s.metadata = std::move(metadata);
  return s;
}

// Writes a deflate-compressed GeoTIFF whose sample (band 1-based, column, row) is value(...).
inline bool WriteRaster(const std::filesystem::path& path, const RasterSpec& spec,
                        const std::function<double(int, int, int)>& value) {
  GDALAllRegister();
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GTiff");
  if (!driver) return false;
  char compress[] = "COMPRESS=DEFLATE";
  char* options[] = {compress, nullptr};
  GDALDatasetUniquePtr ds(driver->Create(path.string().c_str(), spec.width, spec.height,
                                         spec.bands, spec.type, options));
  if (!ds) return false;
  if (spec.geoTransform) {
    auto gt = *spec.geoTransform;
    if (ds->SetGeoTransform(gt.data()) != CE_None) return false;
  }
  for (const auto& [k, v] : spec.metadata) ds->SetMetadataItem(k.c_str(), v.c_str());
  std::vector<double> buf(static_cast<std::size_t>(spec.width) * spec.height);
  for (int b = 1; b <= spec.bands; ++b) {
    GDALRasterBand* band = ds->GetRasterBand(b);
    if (spec.noData) band->SetNoDataValue(*spec.noData);
    for (int r = 0; r < spec.height; ++r)
      for (int c = 0; c < spec.width; ++c)
        buf[static_cast<std::size_t>(r) * spec.width + c] = value(b, c, r);
    if (band->RasterIO(GF_Write, 0, 0, spec.width, spec.height, buf.data(), spec.width,
                       spec.height, GDT_Float64, 0, 0, nullptr) != CE_None)
      return false;
  }
  return true;
}

// A BCC passport (no file behind it); distortion K1 set when `mustUndistort`.
inline std::unique_ptr<geo::CCameraPassport> MakePassport(int width, int height,
                                                          double focalMm = 100.0,
                                                          double pixelMm = 0.01,
                                                          bool mustUndistort = false) {
  auto p = std::make_unique<geo::CBCCCameraPassport>();
  p->model = "TestCam";
  p->serialNumber = "42";
  p->focalLength = focalMm;
  p->pixelSize = pixelMm;
  p->width = width;
  p->height = height;
  p->principalPointX = (width - 1) / 2.0;
  p->principalPointY = (height - 1) / 2.0;
  p->K1 = mustUndistort ? 1e-5 : 0.0;
  return p;
}

}  // namespace ortavia::test
