#pragma once
// Before any image is warped, which image shows each mosaic pixel its Voronoi owner cannot see
// (true orthos, --occlusion). For every pixel of an owner's cells the owner's projection centre is
// tested over the owner's DEM window (process/visibility.h); a hidden pixel goes to the image
// nearest in view angle that sees it: of the images whose ortho reaches the pixel (its cells grown
// as the warp grows them) and whose frame holds it, the one whose line of sight to the pixel's
// surface point makes the smallest angle with the owner's (ties: the lower list row). No image:
// the pixel stays empty and is counted. Geometry only (orientations, DEM, Voronoi map), decided
// pixel by pixel, so every thread count and cluster rank makes the same plan.
#include <optional>
#include <vector>

#include <opencv2/core/mat.hpp>

#include "model/project.h"
#include "model/run_context.h"
#include "products/hidden_fill.h"

namespace ortavia {

struct HiddenFillRequest {
  const WarpProject* project = nullptr;  // orientations, footprints, DEM, mosaic extent and scale
  std::vector<int> rows;                 // the run's image rows
  const cv::Mat* voronoiMap = nullptr;   // of BuildMosaicOverviews
  double gsd = 0.0;
  int mosaicWidth = 0, mosaicHeight = 0;
};

// The plan; empty when Stop was pressed. Progress: none; abort checks between owners.
std::optional<HiddenFill> PlanHiddenFill(const HiddenFillRequest& request, const RunContext& ctx);

// The angle (radians) at ground point p between the lines of sight to centres a and b.
double ViewAngle(const cv::Point3d& p, const cv::Point3d& a, const cv::Point3d& b);

}  // namespace ortavia
