#pragma once
// The elevation model of a project: opening and accepting a DEM, replacing the project's DEM, the
// DEM picture shown in the drawing and the painting of the visible DEM part at screen resolution.
//
// Conventions: DEM pixels are (column, row) of the raster; ground coordinates follow the DEM's
// geotransform gt (x east, y north), a sample standing for the centre of its pixel. Heights are
// 32-bit floats in ground units; kNoHeight (-9999) marks a missing height.
#include <string>
#include <vector>

#include <gdal_priv.h>
#include <opencv2/core/mat.hpp>
#include <opencv2/core/types.hpp>

#include "model/project.h"
#include "model/run_context.h"

namespace ortavia {

inline constexpr const char* kInvalidDemText = "Invalid DEM!";
inline constexpr const char* kDemLoadStoppedText = "DEM loading stopped: the project is unchanged";
inline constexpr const char* kReplaceDemQuestion =
    "If you select again the DEM all other data will be removed. Do you want to proceed?";
inline constexpr const char* kDemFileFilter = "DEM File (*.gtif;*.tif)|*.gtif;*.tif||";
inline constexpr const char* kDemDefaultExtension = "gtif";
inline constexpr int kDemPictureCode = 100;        // draw code of the DEM picture entity
inline constexpr double kDemPictureMaxPixels = 4194304.0;  // 2048 x 2048
inline constexpr const char* kDemPictureName = "DEM.jpg";
inline constexpr const char* kDemWorldFileName = "DEM.jgw";

// True when the dataset is a usable DEM: exactly one band of UInt16, Int16 or Float32 with a
// geotransform (finite, with a non-zero pixel area).
bool IsAcceptableDem(GDALDataset* dataset);

// Opens a file read-only as a DEM; null when it cannot be opened as a raster or is not acceptable.
// GDAL's own error messages are kept quiet (the caller shows "Invalid DEM!").
GDALDatasetUniquePtr OpenDem(const std::string& path);

// Heights of the DEM (or of the pixel rectangle `rect`, DEM pixels; null = whole DEM), resampled by
// nearest neighbour to `size`, as CV_32F with every no-data sample (and NaN) set to kNoHeight.
// 16-bit bands are read through a 16-bit buffer. Empty on a read failure, and when Stop was pressed
// (ctx->abort) while the rows were read; the window is kept alive meanwhile. With progressSteps > 0
// the context's progress range becomes 0..progressSteps and follows the read.
cv::Mat ReadDemHeights(GDALDataset* dem, const cv::Rect* rect, cv::Size size,
                       const RunContext* ctx = nullptr, int progressSteps = 0);

// Drops everything that belongs to the old DEM: the DEM picture, every footprint polygon, the
// images, the passport and the orientations with their bundle lock, and the DEM itself (cameraName
// and the height range stay until the next footprint pass). The caller asks kReplaceDemQuestion first.
void ResetProjectForNewDem(WarpProject& project);

// The DEM picture: heights at most 2048 x 2048 pixels, coloured with the ramp over their own
// lowest..highest (ignoring kNoHeight and heights below -200, which are black).
struct DemPicture {
  cv::Mat bgr;           // CV_8UC3
  double scale = 1.0;    // c: picture pixels per DEM pixel
  double world[6] = {};  // world-file values: x size, rotation y, rotation x, y size, x, y of the
                         // centre of the upper-left picture pixel
};

// Builds the DEM picture, the read's progress shown through ctx; empty bgr when the DEM cannot be
// read or the read was stopped (ctx).
DemPicture MakeDemPicture(GDALDataset* dem, const RunContext* ctx = nullptr);

// Writes the picture as kDemPictureName and its world file as kDemWorldFileName into `folder`.
// Returns the picture's path, or empty when the picture could not be written (a failed world file
// is tolerated: the drawing does not need it).
std::string WriteDemPicture(const DemPicture& picture, const std::string& folder);

// Where the whole DEM lies on the ground, by its full geotransform: the picture's upper-left corner
// is the DEM's first pixel corner, its top edge runs along the first row and its left edge down the
// first column, so that turned, south-up and west-running DEMs are drawn where they lie.
CadImageFrame DemPictureFrame(GDALDataset* dem);

enum class LoadDemStatus { Loaded, Invalid, Stopped };

struct LoadDemResult {
  LoadDemStatus status = LoadDemStatus::Invalid;
  std::string message;           // kInvalidDemText when Invalid, kDemLoadStoppedText when Stopped
  bool pictureShown = false;     // false when the picture folder or files were not usable
  std::vector<std::string> log;  // lines also sent to ctx.log
};

// The DEM command after the file was chosen (and, when a DEM was loaded, the operator answered Yes
// to kReplaceDemQuestion): resets the project when it had a DEM, opens and checks the file, writes
// the DEM picture into the local application-data folder and places it on layer "DEM" (entity
// `dem.pictureEntity`, draw code 100), and logs "DTM added: %s". An unusable file leaves the project
// without DEM. Stop (ctx.abort) while the heights are read leaves the project as it was (Stopped,
// logged). The caller then sets the DEM step, re-evaluates CanStart() and runs
// ComputeFootprints() (model/footprints.h).
LoadDemResult LoadDem(WarpProject& project, const std::string& path, const RunContext& ctx);

// Empty while the DEM file is the one loaded; otherwise the message that ends a run: the file was
// replaced, rewritten or removed since, so its heights can no longer be trusted.
std::string DemFileChangedMessage(const DemRaster& dem);

// One painting of the DEM picture entity at screen resolution. Screen coordinates are device
// pixels, x right, y down. `picture` is the screen rectangle the whole DEM picture occupies (it may
// reach far outside the view); `redrawn` the part of the view being repainted. The result is the
// coloured raster (CV_8UC3) to copy 1:1 at `topLeft`; it covers only the part of the DEM inside
// `redrawn`. Colours: the ramp over the project's minHeight..maxHeight, kNoHeight black.
struct DemPaint {
  cv::Mat bgr;  // empty: nothing to paint (no DEM, no picture, nothing visible, read failure)
  cv::Point topLeft;
};
DemPaint PaintDem(const WarpProject& project, const cv::Rect2d& picture, const cv::Rect& redrawn);

}  // namespace ortavia
