#pragma once
// A synthetic project for demos, tests and benchmarks: hilly terrain with no-data holes, a ground
// texture with clear structure (fields, roads, a grid), two strips of images rendered by casting
// every pixel's ray onto the terrain, the camera passport and the exterior orientations.
//
// Conventions: ground X east, Y north, Z up, in metres. Image pixels (x = column, y = row) with the
// centre of the top-left pixel at (0, 0); camera model of docs/formats.md (R = Rx*Ry*Rz, the camera
// looks along -z, image-plane y up). DEM samples stand for the centres of their pixels.
#include <array>
#include <string>
#include <vector>

#include <opencv2/core/mat.hpp>
#include <opencv2/core/types.hpp>

#include "model/run_context.h"
#include "runner/sample_buildings.h"

namespace ortavia {

struct SampleOptions {
  int images = 6;
  int width = 800;    // image width in pixels
  int height = 600;   // image height in pixels
  int bands = 3;      // 1 (grey), 3 (red, green, blue) or 4 (red, green, blue, near infrared)
  int demSize = 500;    // DEM width in samples
  int demHeight = 0;    // DEM height in samples; 0: demSize (a square DEM)
  int DemRows() const { return demHeight > 0 ? demHeight : demSize; }
  unsigned seed = 1;  // attitude and position jitter
  // Box buildings 15 to 45 m high over the block: the DEM becomes a surface model with their
  // roofs, and the images show roofs and walls and hide the ground behind them.
  int buildings = 0;
};

// Checks the options (sizes bounded so that a typing slip cannot fill the disk or the memory);
// empty when they are usable, else what is wrong.
std::string ValidateSampleOptions(const SampleOptions& options);

struct SampleShot {
  std::string name;
  double x = 0.0, y = 0.0, z = 0.0;              // projection centre
  double omega = 0.0, phi = 0.0, kappa = 0.0;  // radians
};

// The scene behind a sample project, kept so that tests can compare orthos with the ground truth.
class SampleScene {
 public:
  explicit SampleScene(const SampleOptions& options);

  const SampleOptions& Options() const { return options_; }
  // Terrain height at a ground point (the images see it; without buildings the DEM samples it).
  double Height(double x, double y) const;
  // The surface the DEM samples: a building's roof where one stands, else the terrain.
  double SurfaceHeight(double x, double y) const;
  // Colour of a surface point a ray met: a roof, a wall or the ground.
  cv::Vec4f SurfaceColor(const cv::Point3d& p) const;
  const SampleBuildings& Buildings() const { return buildings_; }
  // True inside the DEM's no-data holes (the terrain is still there; the DEM does not know it).
  bool InHole(double x, double y) const;
  // Reflectance at a ground point: red, green, blue, near infrared (0..255).
  cv::Vec4f GroundColor(double x, double y) const;
  // Grey value of the 1-band images.
  static float Grey(const cv::Vec4f& color);

  // Where the ray through an image pixel (column, row) meets the terrain; false when it misses.
  bool CastRay(const SampleShot& shot, double col, double row, cv::Point3d* ground) const;
  // Camera rotation Rx(omega) * Ry(phi) * Rz(kappa), row-major.
  static std::array<double, 9> Rotation(double omega, double phi, double kappa);

  const std::vector<SampleShot>& Shots() const { return shots_; }
  // DEM geotransform (upper-left corner, square pixels, north up) and its no-data value.
  const std::array<double, 6>& DemGeoTransform() const { return demGt_; }
  static constexpr float kDemNoData = -32767.0f;

  // Interior orientation shared by all images.
  double focalMm = 50.0;
  double pixelMm = 0.0;
  double ppx = 0.0, ppy = 0.0;
  double imageGsd = 0.5;  // ground metres per image pixel at mean terrain height

 private:
  void PlanFlight();
  // Moves a ray's terrain hit at tGround onto the first building it meets before it.
  void OntoBuilding(const SampleShot& shot, const cv::Point3d& direction, double tGround,
                    cv::Point3d* hit) const;

  SampleOptions options_;
  std::vector<SampleShot> shots_;
  std::array<double, 6> demGt_{};
  double footprintW_ = 0.0, footprintH_ = 0.0;
  double baseHeight_ = 100.0;
  double centreX_ = 500000.0, centreY_ = 4500000.0;
  std::vector<std::array<double, 3>> holes_;  // centre x, centre y, radius
  SampleBuildings buildings_;
};

struct SampleFiles {
  std::string dem, passport, orientations, imageDir, bundle;
  std::vector<std::string> images;
};

// Writes dem.tif, camera.bcc, images/<name>.tif, orientations.txt and bundle.bun (version 206, the
// same passport and orientations, image paths relative to the folder) into the folder (created when
// missing). Returns an empty text on success, else the cause; `files` receives the paths.
std::string WriteSampleProject(const std::string& folder, const SampleOptions& options,
                               const RunContext& context, SampleFiles* files);

}  // namespace ortavia
