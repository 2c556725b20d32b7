#pragma once
// What the fill of one ortho works with, shared by pixel mode (process/warp.cpp) and the squares of
// tile mode (process/tile_fill.cpp): the image's source window, its DEM window and the ground grid.
#include <algorithm>
#include <climits>
#include <functional>

#include <opencv2/core/mat.hpp>

#include "model/dem_geotransform.h"
#include "external/geo/orientation.h"
#include "model/run_context.h"
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
  int x0 = 0, y0 = 0;         // the source window's corner in the image
  int srcW = 0, srcH = 0;     // the source window's size
  // The part of the source window in memory (all of it unless the source is streamed), in window
  // pixels, and its pixels: 1 or 3 channels at the working depth, and the alpha band ("1234" only).
  cv::Rect held;
  cv::Mat src, alpha;
  // Streamed sources only: reads the window rectangle into src and alpha; false when the image
  // cannot be read. Empty when src holds the whole window.
  std::function<bool(const cv::Rect&)> hold;
};

// Window pixels a sampler missed because they were not held, gathered across the threads of a fill.
struct SourceMiss {
  int minX = INT_MAX, minY = INT_MAX, maxX = INT_MIN, maxY = INT_MIN;  // inclusive
  bool Empty() const { return minX > maxX; }
  void Add(int x0, int y0, int x1, int y1) {
    minX = std::min(minX, x0), minY = std::min(minY, y0);
    maxX = std::max(maxX, x1), maxY = std::max(maxY, y1);
  }
  void Add(const SourceMiss& o) {
    if (!o.Empty()) Add(o.minX, o.minY, o.maxX, o.maxY);
  }
  cv::Rect Rect() const { return Empty() ? cv::Rect() : cv::Rect(minX, minY, maxX - minX + 1, maxY - minY + 1); }
};

// True when window pixels [x0, x1] x [y0, y1] are held; records them in miss otherwise.
inline bool Held(const ImageWarp& w, int x0, int y0, int x1, int y1, SourceMiss& miss) {
  const cv::Rect& h = w.held;
  if (x0 >= h.x && y0 >= h.y && x1 < h.x + h.width && y1 < h.y + h.height) return true;
  miss.Add(x0, y0, x1, y1);
  return false;
}

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
  SourceMiss miss;
};

// Pixel mode's value of block pixel (c, r) from source-window position (x, y): nothing is written
// unless the position lies at least 5 pixels inside the source window. Marks `written`. A position
// whose pixels are not held writes nothing and is recorded in scratch.miss.
void SampleOutputPixel(const ImageWarp& w, double x, double y, int c, int r, cv::Mat& block,
                       cv::Mat& alphaBlock, cv::Mat& written, SampleScratch& scratch);

enum class FillOutcome { Done, Stopped, ReadFailed };

// The window rectangle a streamed source should hold for ortho pixels [gxA, gxB] x [gyA, gyB]:
// the projections of a 32-pixel grid over them, widened by the largest step between neighbours
// of the grid and a margin, clamped to the window; empty when nothing projects.
cv::Rect EstimateSourceRect(const ImageWarp& w, int gxA, int gyA, int gxB, int gyB);

// Runs fill(first, last) over the units [0, count) in bands of `band` units, an abort check before
// each (at least one). fill returns the window pixels it found not held. A streamed source first
// holds estimate(first, last); a band that missed pixels is filled again once they are held too.
// Which output pixels a fill writes, and with what, does not depend on what is held, so the bytes
// are those of the whole window held.
FillOutcome FillInBands(ImageWarp& w, int count, int band,
                        const std::function<cv::Rect(int first, int last)>& estimate,
                        const std::function<SourceMiss(int first, int last)>& fill,
                        const RunContext& ctx);

}  // namespace ortavia
