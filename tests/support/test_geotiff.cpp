#include "support/test_geotiff.h"

#include <gdal_alg.h>

#include <vector>

namespace ortavia::test {

bool WriteGeoTiff(const std::filesystem::path& path, const TestRaster& raster,
                  const std::function<double(int band, int col, int row)>& value) {
  GDALAllRegister();
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GTiff");
  if (driver == nullptr) return false;
  CPLStringList options;
  if (!raster.compression.empty()) options.SetNameValue("COMPRESS", raster.compression.c_str());
  GDALDatasetUniquePtr ds(driver->Create(path.string().c_str(), raster.width, raster.height,
                                         raster.bands, raster.type, options.List()));
  if (!ds) return false;
  if (raster.georeferenced) {
    auto gt = raster.geoTransform;
    if (ds->SetGeoTransform(gt.data()) != CE_None) return false;
  }
  for (const auto& [key, text] : raster.metadata)
    if (ds->SetMetadataItem(key.c_str(), text.c_str()) != CE_None) return false;
  std::vector<double> line(static_cast<std::size_t>(raster.width));
  for (int b = 1; b <= raster.bands; ++b) {
    GDALRasterBand* band = ds->GetRasterBand(b);
    if (raster.noData && band->SetNoDataValue(*raster.noData) != CE_None) return false;
    for (int row = 0; row < raster.height; ++row) {
      for (int col = 0; col < raster.width; ++col) line[col] = value(b, col, row);
      if (band->RasterIO(GF_Write, 0, row, raster.width, 1, line.data(), raster.width, 1,
                         GDT_Float64, 0, 0, nullptr) != CE_None)
        return false;
    }
  }
  return true;
}

GDALDatasetUniquePtr OpenRaster(const std::filesystem::path& path) {
  GDALAllRegister();
  return GDALDatasetUniquePtr(
      GDALDataset::Open(path.string().c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
}

bool ReadsCompletely(const std::filesystem::path& path) {
  GDALDatasetUniquePtr ds = OpenRaster(path);
  if (!ds) return false;
  CPLErrorReset();
  for (int b = 1; b <= ds->GetRasterCount(); ++b)
    GDALChecksumImage(ds->GetRasterBand(b), 0, 0, ds->GetRasterXSize(), ds->GetRasterYSize());
  return CPLGetLastErrorType() == CE_None;
}

cv::Mat ReadBandsAsBytes(GDALDataset* ds) {
  const int n = ds->GetRasterCount();
  cv::Mat m(ds->GetRasterYSize(), ds->GetRasterXSize(), CV_8UC(n));
  const CPLErr err = ds->RasterIO(GF_Read, 0, 0, m.cols, m.rows, m.ptr(), m.cols, m.rows, GDT_Byte,
                                  n, nullptr, n, static_cast<GSpacing>(m.step[0]), 1, nullptr);
  return err == CE_None ? m : cv::Mat();
}

}  // namespace ortavia::test
