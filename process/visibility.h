#pragma once
// Which ground points a projection centre sees over the surface model (true orthos).
//
// The surface is the bilinear interpolation of the DEM window's samples (a sample stands for its
// pixel's centre); a patch with a corner over a hole hides nothing. A ground point is seen when the
// straight line from its point on that surface to the projection centre nowhere runs more than a
// small tolerance below the surface. The line is marched through a pyramid of maxima (level k
// holds the highest sample of each 2^k x 2^k block of patches), so it skips every block lying
// wholly below it and stops once it rises above the window's highest sample; only the patches it
// crosses under a higher block are tested exactly (the surface along the line is a quadratic
// there). The march follows the model's own posting, whatever the ortho's pixel size: a posting
// finer than the ortho pixel hides as much as it shows, and a coarser one never lets a flat roof
// hide itself.
#include <vector>

#include <opencv2/core/mat.hpp>

#include "model/dem_geotransform.h"
#include "process/image_warp.h"

namespace ortavia {

class SurfaceVisibility {
 public:
  // heights: CV_32F, kNoHeight (-9999) where there is none; transform: of its samples. The
  // tolerance is a tenth of the posting.
  SurfaceVisibility(const cv::Mat& heights, const DemGeoTransform& transform);

  // Whether the centre (ground units) sees the surface at ground point (x, y). A point with no
  // surface, or whose line leaves the window before clearing its highest sample, counts as seen
  // (nothing known hides it).
  bool Sees(double x, double y, const cv::Point3d& centre) const;

  // The surface height at sample coordinates (col, row), or kNoHeight.
  double HeightAt(double col, double row) const;

  double Tolerance() const { return tolerance_; }

 private:
  bool PatchHides(int i, int j, const cv::Point2d& p0, const cv::Point2d& u, double z0,
                  double slope, double s1, double s2) const;
  const cv::Mat& heights_;
  DemGeoTransform transform_;
  std::vector<cv::Mat> levels_;  // CV_32F maxima; level 0: patch (i, j) between samples i..i+1
  double tolerance_ = 0.0;
  double top_ = 0.0;             // highest sample of the window
};

// 255 where the centre sees the ground of output pixel (x0 + c, y0 + r) of an ortho whose pixel
// (gx, gy) stands for (originX + gx * gsd, originY - gy * gsd), 0 where hidden: rows x cols.
cv::Mat VisibleMask(const SurfaceVisibility& surface, const cv::Point3d& centre, double originX,
                    double originY, double gsd, int x0, int y0, int cols, int rows);

// The warp's hook: every written pixel of a block whose ground the centre does not see becomes 0 in
// every band (alphaBlock too) and unwritten. Block pixel (c, r) is ortho pixel
// (gx0 + c, gy0 + r) of `grid`; written: CV_8UC1 of the block's size. Returns the pixels hidden.
long long HideUnseenPixels(const SurfaceVisibility& surface, const cv::Point3d& centre,
                           const GroundGrid& grid, int gx0, int gy0, cv::Mat& block,
                           cv::Mat& alphaBlock, cv::Mat& written);

}  // namespace ortavia
