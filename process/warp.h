#pragma once
// The per-image warp: projects each listed image onto the one mosaic grid, inside its Voronoi
// cell, and writes one ortho per image (the file set is process/ortho_writer.h).
//
// Conventions.
// - Ground: the DEM's coordinates (X east, Y north). Output pixel (i, j) of an ortho with offset
//   (ox0, oy0) stands for the ground point X = mosaicMinX + (ox0 + i) * gsd,
//   Y = mosaicMaxY - (oy0 + j) * gsd: that is the centre of the pixel.
// - Image pixels: x = column, y = row, centre of the top-left pixel at (0, 0) (OpenCV's).
// - DEM samples stand for the centres of their pixels: sample (c, r) of a raster with geotransform
//   gt lies at X = gt0 + (c + 0.5) * gt1 + (r + 0.5) * gt2, Y = gt3 + (c + 0.5) * gt4 + (r + 0.5) * gt5
//   (model/dem_geotransform.h).
#include <array>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gdal.h>
#include <opencv2/core/mat.hpp>

#include "model/dem_geotransform.h"
#include "model/project.h"
#include "model/run_context.h"
#include "process/ortho_writer.h"
#include "products/hidden_fill.h"

namespace ortavia {

// The default bound of tile mode's squares, in source pixels.
inline constexpr double kDefaultMaxError = 0.02;
// The largest source window read whole.
inline constexpr std::size_t kWholeSourceBytes = std::size_t{64} << 20;

// The inputs of one warp run. project, composition and voronoiMap must outlive the call.
struct WarpRequest {
  WarpProject* project = nullptr;
  std::vector<int> rows;     // image-list rows in processing order (a row equals its position)
  std::string composition;   // "1", "123", "321", "412" or "1234" (BandComposition)
  int tileStep = 16;         // side of the squares warped with one perspective transform; <= 1: pixel mode
  // Tile mode splits a square where its transform departs from the exact projection by more
  // than this many source pixels; 0: every pixel projected (pixel mode); infinity: never.
  double maxError = kDefaultMaxError;
  // A source window of more bytes than this is read by the rectangle each band of the ortho
  // needs rather than whole; the orthos are the same to the byte.
  std::size_t wholeSourceBytes = kWholeSourceBytes;
  std::string destinationFolder;
  bool overwrite = false;    // false: keep orthos already present (larger than 10,000,000 bytes)
  const cv::Mat* voronoiMap = nullptr;  // of BuildMosaicOverviews
  double gsd = 0.0;          // ground units per output pixel
  double cellSize = 0.0;     // ground size of one Voronoi cell (gsd * mosaicScale)
  int mosaicWidth = 0, mosaicHeight = 0;  // whole mosaic, in output pixels
  OrthoOutput output;        // CRS and file options of every ortho
  // With output.occlusion: who shows the pixels an owner cannot see (process/hidden_fill_plan.h);
  // an image keeps the pixels it fills for a neighbour and, with output.alpha, is opaque exactly
  // where the plan and its own cells make it the one shown. May be null.
  std::shared_ptr<const HiddenFill> hiddenFill;
  // With output.occlusion and output.alpha, and no mosaic made from the orthos: ground outside an
  // image's own cells that the plan does not give it is transparent whatever the image sees, and
  // is left as warped, untested (the mosaic would take its pixels where the owner has none).
  bool testShareOnly = false;
  // Called after each ortho is finished, with its path and whether it is the run's first; the
  // window refreshes its preview from it. May be empty.
  std::function<void(const std::string& orthoPath, bool first)> orthoWritten;
};

enum class ImageOutcome { Written, Skipped, Aborted };

// The reason of an image kept because its ortho is already there: skipped by choice, not failed.
inline constexpr const char* kAlreadyPresentReason = "already present";

struct ImageStatus {
  int row = -1;
  std::string name;
  ImageOutcome outcome = ImageOutcome::Skipped;
  std::string reason;  // why it was skipped or aborted; empty when written
  // Skipped because of an error; false for an ortho kept because present and for an image with no
  // ground of its own (no footprint on the terrain, no Voronoi cell, a window too small to warp).
  bool failed = false;
};

enum class WarpRunStatus {
  Done,     // the loop ran to its end, however many images were skipped (result 1)
  Refused,  // refused at its start; nothing written, nothing logged (result 0)
  Aborted,  // Stop was pressed (result 0)
};

struct WarpResult {
  WarpRunStatus status = WarpRunStatus::Refused;
  std::string refusal;             // the cause of a refusal, for the caller's log
  std::vector<int> processedRows;  // loop position of every image whose ortho was written
  std::vector<int> skippedRows;    // row of every image that was not written
  std::vector<ImageStatus> images; // one entry per image reached, in processing order
  int Result() const { return status == WarpRunStatus::Done ? 1 : 0; }
};

// Runs the warp over request.rows. Progress: ctx range [0, rows], position = current row. Logs
// "start warping images...", "processing image %s %d/%d (%d%%)", the skip texts,
// "process aborted by user" and "end warping images...". Footprints in project.cad are recoloured
// (6 filled while warping, 3 when done, 3 filled when kept because present).
WarpResult WarpImages(const WarpRequest& request, const RunContext& ctx);

// Adds one image's outcome to a run's result, as the warp loop does: a written image adds its
// position in rows to processedRows, a skipped one its row to skippedRows.
void AddImageOutcome(WarpResult& result, int position, const ImageStatus& status);

// The warp of single images of one run, for drivers that hand the images out themselves (the
// loop of WarpImages, the ranks of a cluster run). Refusal() first; when it is empty, WarpImage
// for positions of request.rows in any order. request and ctx must outlive the warper.
class ImageWarper {
 public:
  ImageWarper(const WarpRequest& request, const RunContext& ctx);
  ~ImageWarper();
  ImageWarper(const ImageWarper&) = delete;
  ImageWarper& operator=(const ImageWarper&) = delete;

  // For a driver that warps the positions in order: while ortho i is written, the source window
  // of position i + 1 is read and its first block warped on another thread. Everything that
  // shows (the log, progress, Stop, the files) stays in the order of one image after the other.
  void WarpAhead(bool on) { warpAhead_ = on; }

  // Why the run cannot start (nothing written, nothing logged); empty when it can.
  std::optional<std::string> Refusal();

  // Warps the image at position i of request.rows: written, skipped with its reason, or aborted
  // (the partly written ortho stays as "<name>.tif.part"). Logs as WarpImages does, except the
  // run's first and last lines; sets the progress position to the image's row.
  ImageStatus WarpImage(int i);

 private:
  enum class Step { Written, Skipped, Aborted };
  Step ProcessImage(int i, int r);
  Step GuardedProcessImage(int i, int r);
  // An image that could not be made because of an error.
  Step Skip(const std::string& reason);
  // An image kept by choice, or one that has no ground of its own to show.
  Step LeaveOut(const std::string& reason);
  Step Abort();
  class Ahead;
  void StartAhead(int position);

  const WarpRequest& req_;
  const RunContext& ctx_;
  ImageStatus status_;
  int nOut_ = 0;
  GDALDataType type_ = GDT_Unknown;
  int depth_ = -1;
  cv::Mat cellMask_;
  bool firstWritten_ = true;
  bool warpAhead_ = false;
  std::unique_ptr<Ahead> ahead_;
};

// The DEM part around one footprint: CV_32F heights, -9999 where there is none, and its
// geotransform (the DEM's pixel size and rotation, origin at the window's pixel (0, 0) corner).
struct DemWindow {
  cv::Mat heights;
  GeoTransform gt{};
};

enum class DemWindowStatus { Ok, TooSmall, ReadFailed };

// Cuts the DEM window for a footprint bounding box (ground units): the pixel range of the box's
// four corners (any signs and rotation of the geotransform) widened by its own size on every side
// (unless `widen` is false: by 2 pixels), clamped to the DEM, width rounded up to a multiple of 4
// (columns past the DEM's edge hold -9999).
DemWindowStatus BuildDemWindow(GDALDataset* dem, double left, double right, double top,
                               double bottom, DemWindow& out, bool widen = true);

// Terrain height at ground point (x, y), or -9999. The sample coordinates are those of the inverse
// geotransform at sample centres (north-up: col = (x - wgt0) / wgt1 - 0.5,
// row = (y - wgt3) / wgt5 - 0.5); bicubic inside, bilinear over holes, the truncated sample within
// four samples of the window's edge.
double SampleDemHeight(const DemGeoTransform& wgt, const cv::Mat& demWindow, double x, double y);
double SampleDemHeight(const GeoTransform& wgt, const cv::Mat& demWindow, double x, double y);
// SampleDemHeight at the ground points (xs[k], y), k < count, into out: the same heights to
// rounding. Along a row of a north-up window the vertical interpolation of each DEM column is
// shared by the points around it; other transforms, and points by a hole or the window's edge,
// are sampled one by one.
void SampleDemHeightsAlongRow(const DemGeoTransform& wgt, const cv::Mat& demWindow,
                              const double* xs, int count, double y, double* out);
double SampleDemHeight(const GeoTransform& wgt, const WarpProject& project, double x, double y);

// The image's extent in Voronoi cells (inclusive) and the image pixel window it projects into.
struct ProjectionBounds {
  int cellMinCol = 0, cellMaxCol = 0, cellMinRow = 0, cellMaxRow = 0;
  int pixMinX = 0, pixMaxX = 0, pixMinY = 0, pixMaxY = 0;
};

// Bounds of list row `row` with orientation `orientation`: its Voronoi cell grown by 16 cells,
// cells over DEM holes dropped (nearest DEM sample by centre, through the window's transform), corners projected into the image.
// cellMask is reused between calls (recreated when the map's size changes). Cell (j, k) stands
// for the ground point (mosaicMinX + j * cellSize, mosaicMaxY - k * cellSize). Empty on failure.
std::optional<ProjectionBounds> ComputeProjectionBounds(const WarpProject& project, int row,
                                                        const geo::COrientation& orientation,
                                                        const cv::Mat& voronoiMap,
                                                        const DemWindow& demWindow,
                                                        double cellSize, cv::Mat& cellMask);

// Size, offset and block layout of one ortho.
struct OrthoGeometry {
  int outW = 0, outH = 0;  // multiples of 4
  int ox0 = 0, oy0 = 0;    // offset from the mosaic origin, in output pixels
  int bw = 0, bh = 0;      // block size (one block below 17 * 1048576 pixels, else <= 2048)
  int nBx = 0, nBy = 0;
};
OrthoGeometry ComputeOrthoGeometry(const ProjectionBounds& bounds, double mosaicScale);

// Number of output bands of a composition (1, 3 or 4), 0 for an unknown text.
int CompositionBands(const std::string& composition);
// OpenCV depth of the working rasters for a GDAL sample type, or -1 when the type is refused.
// 32-bit integers, signed or not, work as 64-bit floats and are rounded back on writing.
int WarpWorkingDepth(GDALDataType type);

}  // namespace ortavia
