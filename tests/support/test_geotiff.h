#pragma once
// Small GeoTIFFs made by the tests themselves.
#include <gdal_priv.h>

#include <array>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include <opencv2/core/mat.hpp>

namespace ortavia::test {

struct TestRaster {
  int width = 1;
  int height = 1;
  int bands = 1;
  GDALDataType type = GDT_Float32;
  std::array<double, 6> geoTransform{0.0, 1.0, 0.0, 0.0, 0.0, -1.0};
  std::optional<double> noData;
  bool georeferenced = true;                      // false: no geotransform is written
  std::map<std::string, std::string> metadata{};  // default domain (TIFFTAG_* become TIFF tags)
  std::string compression{};                      // GTiff COMPRESS value; empty: none
};

// Writes a GeoTIFF whose sample (band 1-based, column, row) is value(band, column, row).
// Returns false when GDAL cannot create or write it.
bool WriteGeoTiff(const std::filesystem::path& path, const TestRaster& raster,
                  const std::function<double(int band, int col, int row)>& value);

// Opens a raster read-only (drivers registered on first use); null when GDAL cannot open it.
GDALDatasetUniquePtr OpenRaster(const std::filesystem::path& path);

// True when GDAL opens the raster and reads every band through to the end without an error: a
// file cut short or still being written fails.
bool ReadsCompletely(const std::filesystem::path& path);

// Every band of a raster as bytes, interleaved by pixel (CV_8UC(bands)); empty when the read fails.
cv::Mat ReadBandsAsBytes(GDALDataset* ds);

}  // namespace ortavia::test
