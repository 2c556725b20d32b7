#pragma once
// Rasters and passports made by the input tests themselves.
#include <array>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "support/test_geotiff.h"
#include "support/test_passport.h"

namespace ortavia::test {

using RasterLayout = TestRaster;

inline RasterLayout Layout(int width, int height, GDALDataType type = GDT_Float32, int bands = 1) {
  RasterLayout s;
  s.width = width;
  s.height = height;
  s.type = type;
  s.bands = bands;
  return s;
}
inline RasterLayout WithGt(RasterLayout s, std::optional<std::array<double, 6>> gt) {
  s.georeferenced = gt.has_value();
  if (gt) s.geoTransform = *gt;
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
inline bool WriteRaster(const std::filesystem::path& path, RasterLayout layout,
                        const std::function<double(int, int, int)>& value) {
  layout.compression = "DEFLATE";
  return WriteGeoTiff(path, layout, value);
}

// A BCC passport (no file behind it); distortion K1 set when `mustUndistort`.
inline std::unique_ptr<geo::CCameraPassport> MakePassport(int width, int height,
                                                          double focalMm = 100.0,
                                                          double pixelMm = 0.01,
                                                          bool mustUndistort = false) {
  auto p = MakeTestPassport(width, height, focalMm, pixelMm);
  p->K1 = mustUndistort ? 1e-5 : 0.0;
  return p;
}

}  // namespace ortavia::test
