#pragma once
// The project the main window owns for the whole session (never saved).
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gdal_priv.h>
#include <opencv2/core/mat.hpp>

#include "external/geo/camera_passport.h"
#include "external/geo/orientation.h"
#include "external/tools/file_stamp.h"
#include "model/cad_drawing.h"

namespace ortavia {

inline constexpr float kNoHeight = -9999.0f;  // missing height in every DEM-derived raster
inline constexpr const char* kLayerDem = "DEM";
inline constexpr const char* kLayerOrtho = "Ortho";

// One image to project: name = file name without folder and extension, lower case, unique.
struct ImageItem {
  std::string name;
  std::string path;
};

// An exterior orientation as read from a point file or a bundle (angles in radians).
struct ExtOrientation {
  std::string id;
  double x = 0.0, y = 0.0, z = 0.0;
  double omega = 0.0, phi = 0.0, kappa = 0.0;
};

class TerrainSurface;

// The terrain surface of the last footprint pass with what it was built from (the DEM and the size
// of its reduced grid): the mosaic stage takes it instead of building the same surface again.
struct KeptTerrain {
  std::shared_ptr<TerrainSurface> surface;
  const GDALDataset* dem = nullptr;
  int cols = 0, rows = 0;
};

struct DemRaster {
  GDALDatasetUniquePtr dataset;  // one band of UInt16, Int16 or Float32 heights; null = none
  CadHandle pictureEntity = 0;
  double minHeight = 0.0;
  double maxHeight = 4000.0;
  std::string path;
  // The file as it was opened: the open dataset would read whatever is written into it later.
  std::optional<tools::FileStamp> stamp;
  // Why a run refuses this DEM (coordinates in degrees) with the command that mends it; empty when
  // it is usable.
  std::string geographicAdvice;
};

struct WarpProject {
  WarpProject();

  CadDrawing cad;  // layers "DEM" (colour 7, locked) and "Ortho" (colour 2)
  std::unique_ptr<geo::CCameraPassport> passport;
  std::string cameraName;  // passport file name with extension, lower case
  std::vector<ImageItem> images;  // the image list, in the order of adding
  std::map<std::string, geo::COrientation> orientations;  // by image name, one per image
  bool bundleLock = false;
  cv::Mat demWindow;  // CV_32F heights of the DEM part the warp of the current image uses
  double mosaicMinX = 0.0, mosaicMaxX = 0.0, mosaicMinY = 0.0, mosaicMaxY = 0.0;
  std::map<std::string, CadHandle> footprints;  // footprint polygon of each image
  std::atomic<bool> abortRequested{false};
  bool processRunning = false;
  double mosaicScale = 40.0;
  DemRaster dem;
  KeptTerrain terrain;
  std::string lastOrthoPath;
  bool fillFootprints = false;  // the window's Fill toggle, applied to new polygons
};

// Lower-case name of an image path: file name without folder and extension.
std::string ImageNameFromPath(const std::string& path);
// True when the orientation's projection centre is not (0, 0, 0).
bool HasExteriorOrientation(const geo::COrientation& o);
// Writes a point-file or bundle orientation into an image's orientation (centre and rotation).
void ApplyExtOrientation(const ExtOrientation& eo, geo::COrientation& o);
// Passport selected, at least one image, a DEM, and every orientation has its centre set.
bool CanStart(const WarpProject& project);
// Row of the named image in the image list, or -1.
int FindImage(const WarpProject& project, const std::string& name);

}  // namespace ortavia
