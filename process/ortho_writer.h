#pragma once
// One ortho file set: "<folder>/<name>.tif" (tiled GeoTIFF, extra position tags, internal
// overviews) and "<folder>/<name>.tfw" (world file). The raster is written under a temporary name
// in the same folder and renamed only when complete, so that a failed or aborted ortho is never
// found under its final name.
//
// Ground grid: output pixel (i, j) is the ground point (mosaicMinX + (ox0 + i) * gsd,
// mosaicMaxY - (oy0 + j) * gsd), the pixel's centre. The world file gives that centre for (0, 0);
// GDAL reads it as the geotransform origin (mosaicMinX + ox0 * gsd - gsd / 2, ...) at the corner.
#include <string>
#include <utility>
#include <vector>

#include <gdal_priv.h>
#include <opencv2/core/mat.hpp>

#include "app/run_context.h"

namespace ortavia {

// What the operator chose for the files beyond the Part's layout.
struct OrthoOutput {
  std::string crsWkt;  // written as GeoTIFF keys; empty: no CRS (the world file alone georeferences)
};

struct OrthoLayout {
  std::string path;  // final "<folder>/<name>.tif"
  int width = 0, height = 0;
  int bands = 1;     // 1, 3 or 4
  GDALDataType type = GDT_Byte;
  double gsd = 0.0;
  int ox0 = 0, oy0 = 0;  // offset in the mosaic, output pixels
  double mosaicMinX = 0.0, mosaicMaxY = 0.0;
  int mosaicWidth = 0, mosaicHeight = 0;
  OrthoOutput output;
};

// GTiff creation options in order: TILED=YES, BLOCKXSIZE=256, BLOCKYSIZE=256, TFW=YES, and for
// more than one band PHOTOMETRIC=RGB, ALPHA=NO.
std::vector<std::pair<std::string, std::string>> OrthoCreationOptions(int bands);

// Overview factors for an ortho: 2, 4, ... 2^n with n the halvings of max(w, h) / 2 above 512.
std::vector<int> OrthoOverviewLevels(int width, int height);

// The six lines of the world file ("%.6lf\n" each): gsd, 0, 0, -gsd, and the centre of output
// pixel (0, 0): mosaicMinX + ox0 * gsd, mosaicMaxY - oy0 * gsd.
std::string WorldFileText(double gsd, double mosaicMinX, double mosaicMaxY, int ox0, int oy0);

// XPosition / YPosition tag values: max(offset, 0) / 300 in single precision (inches at 300 dpi).
float OrthoPositionInches(int offset);

enum class OrthoStatus { Ok, CreateFailed, WriteFailed, WorldFileFailed, TagsFailed,
                         OverviewsFailed, Aborted };

// Text for the log of a failed status ("" for Ok).
std::string OrthoStatusText(OrthoStatus status);

class OrthoWriter {
 public:
  OrthoWriter() = default;
  OrthoWriter(const OrthoWriter&) = delete;
  OrthoWriter& operator=(const OrthoWriter&) = delete;
  // An unfinished ortho is closed; its temporary file stays only when the run was aborted.
  ~OrthoWriter();

  // Creates the temporary raster with the creation options. No geotransform is stored in the
  // file: the georeferencing is the world file; the CRS, when given, goes in as GeoTIFF keys.
  OrthoStatus Create(const OrthoLayout& layout);

  // Writes block (bx, by) of nominal size bw x bh: channel b - 1 of `block` feeds band b for
  // b <= 3 and `alpha` feeds band 4; only the part inside the ortho is written. Abort check before
  // each band. block: CV_<depth>C1 or C3 of size bw x bh; alpha: C1 (4-band orthos only).
  OrthoStatus WriteBlock(int bx, int by, int bw, int bh, const cv::Mat& block,
                         const cv::Mat& alpha, const RunContext& ctx);

  // World file, close, the seven TIFF tags, overviews, then the rename to the final names.
  // Abort checks between the steps; on abort the temporary raster stays as far as it got.
  OrthoStatus Finish(const RunContext& ctx);

  // Closes without finishing: removes the temporary file (keepPartial false) or leaves it.
  void Abandon(bool keepPartial);

  const std::string& TempPath() const { return tempPath_; }

 private:
  OrthoLayout layout_;
  std::string tempPath_;
  std::string tempWorldPath_;
  GDALDatasetUniquePtr ds_;
  bool open_ = false;
};

// Name the raster is written under until it is complete: "<folder>/<name>.tif.part".
std::string OrthoTempPath(const std::string& finalPath);

}  // namespace ortavia
