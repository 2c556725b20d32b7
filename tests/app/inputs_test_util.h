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

struct RasterLayout {
  int width = 1, height = 1, bands = 1;
  GDALDataType type = GDT_Float32;
  std::optional<std::array<double, 6>> geoTransform = std::array<double, 6>{0, 1, 0, 0, 0, -1};
  std::optional<double> noData;
  std::map<std::string, std::string> metadata;  // default domain (TIFFTAG_* become TIFF tags)
};

inline RasterLayout Layout(int width, int height, GDALDataType type = GDT_Float32, int bands = 1) {
  RasterLayout s;
  s.width = width;
  s.height = height;
  s.type = type;
  s.bands = bands;
  return s;
}
inline RasterLayout WithGt(RasterLayout s, std::optional<std::array<double, 6>> gt) {
  s.geoTransform = gt;
  return s;
}
inline RasterLayout WithNoData(RasterLayout s, double noData) {
  s.noData = noData;
  return s;
}
inline RasterLayout WithMetadata(RasterLayout s, std::map<std::string, std::string> metadata) {
  s.metadata = std::move(metadata);
  return s;
}

// Writes a deflate-compressed GeoTIFF whose sample (band 1-based, column, row) is value(...).
inline bool WriteRaster(const std::filesystem::path& path, const RasterLayout& layout,
                        const std::function<double(int, int, int)>& value) {
  GDALAllRegister();
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GTiff");
  if (!driver) return false;
  char compress[] = "COMPRESS=DEFLATE";
  char* options[] = {compress, nullptr};
  GDALDatasetUniquePtr ds(driver->Create(path.string().c_str(), layout.width, layout.height,
                                         layout.bands, layout.type, options));
  if (!ds) return false;
  if (layout.geoTransform) {
    auto gt = *layout.geoTransform;
    if (ds->SetGeoTransform(gt.data()) != CE_None) return false;
  }
  for (const auto& [k, v] : layout.metadata) ds->SetMetadataItem(k.c_str(), v.c_str());
  std::vector<double> buf(static_cast<std::size_t>(layout.width) * layout.height);
  for (int b = 1; b <= layout.bands; ++b) {
    GDALRasterBand* band = ds->GetRasterBand(b);
    if (layout.noData) band->SetNoDataValue(*layout.noData);
    for (int r = 0; r < layout.height; ++r)
      for (int c = 0; c < layout.width; ++c)
        buf[static_cast<std::size_t>(r) * layout.width + c] = value(b, c, r);
    if (band->RasterIO(GF_Write, 0, 0, layout.width, layout.height, buf.data(), layout.width,
                       layout.height, GDT_Float64, 0, 0, nullptr) != CE_None)
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
