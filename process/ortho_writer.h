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

#include "model/run_context.h"
#include "products/hidden_fill.h"

namespace ortavia {

// What the operator chose for the files beyond the Part's layout.
struct OrthoOutput {
  std::string crsWkt;  // written as GeoTIFF keys; empty: no CRS (the world file alone georeferences)
  std::string compress;  // "" or "NONE" (as the Part), "DEFLATE", "LZW", "ZSTD", "JPEG"
  bool cog = false;      // a Cloud-Optimized GeoTIFF made by GDAL's COG driver
  bool alpha = false;    // transparent outside the image's own Voronoi cell and outside the image
  // Ground the image cannot see is left 0 and transparent (stored as for alpha); without alpha
  // each ortho is opaque wherever the warp wrote.
  bool occlusion = false;
};

// Compression names OrthoOutput takes.
bool IsOrthoCompression(const std::string& name);

// How transparency is stored: an alpha band after the image bands for 1- and 3-band orthos of
// 8- or 16-bit unsigned samples; an internal mask for 4-band orthos (band 4 is taken), other
// sample types and JPEG (whose lossy alpha would bleed into the image).
enum class OrthoAlpha { None, Band, Mask };
OrthoAlpha OrthoAlphaKind(int bands, GDALDataType type, const OrthoOutput& output);

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
  // With output.alpha: output pixel (i, j) is opaque only where its mosaic cell
  // (floor((ox0 + i) / mosaicScale), floor((oy0 + j) / mosaicScale)) of voronoiMap carries `row`.
  const cv::Mat* voronoiMap = nullptr;
  int row = -1;
  double mosaicScale = 40.0;
  // With output.alpha and output.occlusion: mosaic pixels shown by another image than their
  // owner; opaque there only for that image. May be null.
  const HiddenFill* hiddenFill = nullptr;
};

// GTiff creation options in order: TILED=YES, BLOCKXSIZE=256, BLOCKYSIZE=256, TFW=YES, and for
// more than one band PHOTOMETRIC=RGB, ALPHA=NO. An alpha band makes it ALPHA=YES (a 1-band ortho
// gets ALPHA=YES alone); a compression adds COMPRESS (JPEG of 3 bands: PHOTOMETRIC=YCBCR).
std::vector<std::pair<std::string, std::string>> OrthoCreationOptions(
    int bands, GDALDataType type = GDT_Byte, const OrthoOutput& output = {});

// COG driver options: the compression, 256-pixel tiles and nearest-neighbour overviews.
std::vector<std::pair<std::string, std::string>> OrthoCogOptions(const OrthoOutput& output);

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
                         const cv::Mat& alpha, const RunContext& ctx) {
    return WriteBlock(bx, by, bw, bh, block, alpha, cv::Mat(), ctx);
  }
  // The same with `written` (CV_8UC1, bw x bh, non-zero where the warp wrote a pixel) for the
  // transparency of output.alpha; an empty `written` counts every pixel as written.
  OrthoStatus WriteBlock(int bx, int by, int bw, int bh, const cv::Mat& block,
                         const cv::Mat& alpha, const cv::Mat& written, const RunContext& ctx);

  // World file, close, the seven TIFF tags, overviews, then the rename to the final names (the
  // raster before its world file). Abort checks between the steps; on abort the temporary raster
  // stays as far as it got. A COG is copied from the finished temporary raster by the COG driver,
  // with its own overviews, and gets the tags inside its first directory.
  OrthoStatus Finish(const RunContext& ctx);

  // Closes without finishing: removes the temporary file (keepPartial false) or leaves it.
  void Abandon(bool keepPartial);

  const std::string& TempPath() const { return tempPath_; }

 private:
  cv::Mat OpaqueMask(int x, int y, int w, int h, const cv::Mat& written) const;
  void ApplyFill(int x, int y, const cv::Mat& written, cv::Mat& opaque) const;
  OrthoStatus WriteTransparency(int x, int y, const cv::Mat& opaque);
  OrthoStatus FinishCog(const RunContext& ctx);
  OrthoAlpha alphaKind_ = OrthoAlpha::None;
  OrthoLayout layout_;
  std::string tempPath_;
  std::string tempWorldPath_;
  GDALDatasetUniquePtr ds_;
  bool open_ = false;
};

// Name the raster is written under until it is complete: "<folder>/<name>.tif.part".
std::string OrthoTempPath(const std::string& finalPath);

}  // namespace ortavia
