#pragma once
// Which ground points a projection centre sees over the surface model (true orthos).
//
// Each DEM sample stands for its pixel's square, flat at the sample's height (a hole hides
// nothing). A ground point stands at the bilinear height of the samples; it is seen when the
// straight line from there to the projection centre passes over every pixel it crosses after its
// own, with a tolerance of half the posting (so that a terrain slope up to 100 % does not hide
// itself in steps). Where the model steps from a roof to the ground, the true wall stands anywhere
// between the two samples, so the test is conservative on both sides of it: each pixel the line
// crosses counts from half a pixel before the line enters it (never before the point itself), and
// a point in the outer half of a roof's edge pixel stands at its bilinear height, below the roof.
// The line is marched in the model's index space through a pyramid of maxima (level k holds the
// highest sample of each 2^k x 2^k block of pixels), so it skips every block lying wholly below it
// and stops once it rises above the window's highest sample; it follows the model's own posting,
// whatever the ortho's pixel size.
#include <vector>

#include <opencv2/core/mat.hpp>

#include "model/dem_geotransform.h"
#include "process/image_warp.h"
#include "process/sight_lanes.h"
#include "products/hidden_fill.h"

namespace ortavia {

class SurfaceVisibility {
 public:
  // heights: CV_32F, kNoHeight (-9999) where there is none, held (not copied) while this lives;
  // transform: of its samples. The tolerance is half the posting.
  SurfaceVisibility(const cv::Mat& heights, const DemGeoTransform& transform);

  // Whether the centre (ground units) sees the surface at ground point (x, y). A point with no
  // surface, or whose line leaves the window before clearing its highest sample, counts as seen
  // (nothing known hides it).
  bool Sees(double x, double y, const cv::Point3d& centre) const;

  // Sees for the ground points (x[n], y[n]), n < count: seen[n] is 1 or 0, with the same answers:
  // in the widest lanes the processor has (AVX-512, else AVX2), or in those asked for where it
  // has them.
  enum class Lanes { Widest, Avx2 };
  void SeesEach(const double* x, const double* y, int count, const cv::Point3d& centre,
                unsigned char* seen, Lanes lanes = Lanes::Widest) const;

  // Makes Sees quicker for this centre, with the same answers: it keeps, per block of 16 x 16
  // pixels, the highest sample between the block and the centre's nadir point (a line from the
  // block runs inside that rectangle), and stops a line once it rises above that rather than
  // above the window's highest. Not to be called while Sees runs on other threads.
  void Aim(const cv::Point3d& centre);

  // The surface height at sample coordinates (col, row), or kNoHeight.
  double HeightAt(double col, double row) const;

  double Tolerance() const { return tolerance_; }

 private:
  cv::Mat heights_;
  DemGeoTransform transform_;
  // CV_32F maxima; level 0: the samples (a hole's -9999 hides nothing).
  std::vector<cv::Mat> levels_;
  double tolerance_ = 0.0;
  double top_ = 0.0;             // highest sample of the window
  static constexpr int kAheadLevel = 4;
  cv::Point3d aimed_;
  cv::Mat ahead_;  // CV_32F over level kAheadLevel: see Aim
  unsigned long long id_ = 0;    // tells surfaces apart for what a thread keeps of a centre
  SightSurface lanes_;           // the same, as the lanes read it
};

// The pixels of a DEM window of `size` that the lines from the ground points `from` to centres
// above `nadirs` cross (straight down to the ground, they run inside the points' bounding box),
// with the 2 pixels around that the heights of the box's edge are interpolated from.
cv::Rect SightWindow(const DemGeoTransform& transform, cv::Size size,
                     const std::vector<cv::Point2d>& from, const std::vector<cv::Point2d>& nadirs);

// 255 where the centre sees the ground of output pixel (x0 + c, y0 + r) of an ortho whose pixel
// (gx, gy) stands for (originX + gx * gsd, originY - gy * gsd), 0 where hidden: rows x cols.
cv::Mat VisibleMask(const SurfaceVisibility& surface, const cv::Point3d& centre, double originX,
                    double originY, double gsd, int x0, int y0, int cols, int rows);

// What the plan of hidden ground already decided for one image: in its own Voronoi cells it
// sees every pixel the plan does not give to another image (or to none), and it keeps the pixels
// the plan gives it elsewhere.
struct PlannedVisibility {
  const HiddenFill* fill = nullptr;
  const cv::Mat* voronoiMap = nullptr;  // CV_8UC3 cell codes
  double mosaicScale = 40.0;
  int row = -1;
  // Outside its own cells only the pixels the plan gives the image are kept, and no other is
  // tested: nothing reads them (transparent orthos, no mosaic).
  bool shareOnly = false;
};

// The warp's hook: every written pixel of a block whose ground the centre does not see becomes 0 in
// every band (alphaBlock too) and unwritten. Block pixel (c, r) is ortho pixel
// (gx0 + c, gy0 + r) of `grid`; written: CV_8UC1 of the block's size. With a plan, the image's own
// cells are decided by the plan (the same test over the same DEM window, made once). Returns the
// pixels hidden.
long long HideUnseenPixels(const SurfaceVisibility& surface, const cv::Point3d& centre,
                           const GroundGrid& grid, int gx0, int gy0, cv::Mat& block,
                           cv::Mat& alphaBlock, cv::Mat& written,
                           const PlannedVisibility& plan = {});

}  // namespace ortavia
