#pragma once
// What the fill of one ortho works with, shared by pixel mode (process/warp.cpp) and the squares of
// tile mode (process/tile_fill.cpp): the image's source window, its DEM window and the ground grid.
#include <opencv2/core/mat.hpp>

#include "model/dem_geotransform.h"
#include "external/geo/orientation.h"
#include "process/warp.h"

namespace ortavia {

// Ground point of output pixel (gx, gy) of an ortho: the pixel's centre.
struct GroundGrid {
  double minX = 0.0, maxY = 0.0, gsd = 0.0;
  int ox0 = 0, oy0 = 0;
  cv::Point2d At(int gx, int gy) const {
    return {minX + (ox0 + gx) * gsd, maxY - (oy0 + gy) * gsd};
  }
};

struct ImageWarp {
  const geo::COrientation* orientation = nullptr;
  const DemWindow* dem = nullptr;
  DemGeoTransform demTransform;  // of dem->gt
  GroundGrid grid{};
  OrthoGeometry geo{};
  cv::Mat src;    // W x H, 1 or 3 channels, working depth
  cv::Mat alpha;  // W x H, 1 channel ("1234" only)
  int x0 = 0, y0 = 0;
};

// Source-window position of output pixel (gx, gy), or false where no height or no image reaches it.
bool ProjectOutputPixel(const ImageWarp& w, int gx, int gy, double& x, double& y);

struct SourcePosition {
  bool valid = false;
  double x = 0.0, y = 0.0;
};
// ProjectOutputPixel of the pixels (gx0 + k * step, gy), k < count, into out; the heights of the
// row are sampled together (SampleDemHeightsAlongRow).
void ProjectOutputRow(const ImageWarp& w, int gx0, int step, int gy, int count,
                      SourcePosition* out);

// Per-thread room of SampleOutputPixel.
struct SampleScratch {
  cv::Mat subPix, alphaSubPix;
};

// Pixel mode's value of block pixel (c, r) from source-window position (x, y): nothing is written
// unless the position lies at least 5 pixels inside the source window. Marks `written`.
void SampleOutputPixel(const ImageWarp& w, double x, double y, int c, int r, cv::Mat& block,
                       cv::Mat& alphaBlock, cv::Mat& written, SampleScratch& scratch);

}  // namespace ortavia
