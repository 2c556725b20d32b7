#include "model/dem_crs.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include <cpl_error.h>
#include <ogr_spatialref.h>

namespace ortavia {
namespace {

bool IsDigits(const std::string& text) {
  if (text.empty()) return false;
  for (unsigned char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

std::string ToWkt2(const OGRSpatialReference& srs) {
  char* text = nullptr;
  const char* const options[] = {"FORMAT=WKT2_2019", nullptr};
  if (srs.exportToWkt(&text, options) != OGRERR_NONE) {
    CPLFree(text);
    return {};
  }
  std::string wkt = text ? text : "";
  CPLFree(text);
  return wkt;
}

bool Import(const std::string& wkt, OGRSpatialReference& srs) {
  if (wkt.empty()) return false;
  CPLPushErrorHandler(CPLQuietErrorHandler);
  const bool ok = srs.importFromWkt(wkt.c_str()) == OGRERR_NONE;
  CPLPopErrorHandler();
  return ok;
}

}  // namespace

std::string ParseCrsDefinition(const std::string& text, std::string* wkt) {
  const std::string definition = IsDigits(text) ? "EPSG:" + text : text;
  OGRSpatialReference srs;
  CPLErrorReset();
  CPLPushErrorHandler(CPLQuietErrorHandler);
  const char* const options[] = {"ALLOW_NETWORK_ACCESS=NO", nullptr};
  const OGRErr err = text.empty() ? OGRERR_CORRUPT_DATA
                                  : srs.SetFromUserInput(definition.c_str(), options);
  CPLPopErrorHandler();
  if (err == OGRERR_NONE && !srs.IsEmpty()) {
    std::string out = ToWkt2(srs);
    if (!out.empty()) {
      if (wkt) *wkt = out;
      return {};
    }
  }
  std::string reason = CPLGetLastErrorMsg();
  if (reason.empty()) reason = "not a coordinate reference system GDAL knows";
  return "GDAL cannot read '" + text + "' as a coordinate reference system: " + reason;
}

std::string DatasetCrsWkt(GDALDataset* dataset) {
  const OGRSpatialReference* srs = dataset ? dataset->GetSpatialRef() : nullptr;
  return srs && !srs->IsEmpty() ? ToWkt2(*srs) : std::string();
}

bool IsGeographicCrs(const std::string& wkt) {
  OGRSpatialReference srs;
  return Import(wkt, srs) && srs.IsGeographic();
}

bool SetDatasetCrs(GDALDataset& dataset, const std::string& wkt) {
  if (wkt.empty()) return true;
  OGRSpatialReference srs;
  if (!Import(wkt, srs)) return false;
  srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
  return dataset.SetSpatialRef(&srs) == CE_None;
}

std::string CrsName(const std::string& wkt) {
  OGRSpatialReference srs;
  if (!Import(wkt, srs)) return {};
  const char* name = srs.GetName();
  return name ? name : "";
}

int UtmEpsgFor(double lon, double lat) {
  int zone = static_cast<int>(std::floor((lon + 180.0) / 6.0)) + 1;
  zone = std::clamp(zone, 1, 60);
  return (lat >= 0.0 ? 32600 : 32700) + zone;
}

std::string GeographicDemAdvice(GDALDataset* dem, const std::string& wkt, const std::string& path) {
  if (!IsGeographicCrs(wkt)) return {};
  // The DEM's centre names the UTM zone to suggest; coordinates that are not degrees get a
  // placeholder code instead of a wrong one.
  std::string target = "EPSG:<code of a projected system>";
  double gt[6];
  if (dem && dem->GetGeoTransform(gt) == CE_None) {
    const double lon = gt[0] + gt[1] * dem->GetRasterXSize() / 2 + gt[2] * dem->GetRasterYSize() / 2;
    const double lat = gt[3] + gt[4] * dem->GetRasterXSize() / 2 + gt[5] * dem->GetRasterYSize() / 2;
    if (std::abs(lon) <= 180.0 && std::abs(lat) <= 90.0)
      target = "EPSG:" + std::to_string(UtmEpsgFor(lon, lat));
  }
  const std::filesystem::path p(path);
  const std::string reprojected = (p.parent_path() / (p.stem().string() + "_projected.tif")).string();
  return "DEM " + path + " has a geographic coordinate system (" + CrsName(wkt) +
         "): its X and Y are degrees, which the camera model cannot combine with heights in "
         "metres. Reproject it to a projected system first, for example: gdalwarp -t_srs " +
         target + " -r bilinear " + path + " " + reprojected;
}

}  // namespace ortavia
