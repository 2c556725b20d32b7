#pragma once
// One mosaic of the block as a Cloud-Optimized GeoTIFF: the orthos' grid, band composition and
// sample type, an alpha band, the run's CRS and internal overviews. Assembled in three passes,
// each by tiles read from the ortho files, so that memory stays within options.memoryMb whatever
// the number of orthos:
//   1. exposure statistics on a coarse grid (the orthos' overviews) and the gains (gain_balance.h);
//   2. seamlines in fixed chunks on the orthos' half-resolution overviews, stored as a temporary
//      label raster (seamline.h);
//   3. balanced, feathered tiles (blend.h) into a temporary tiled GeoTIFF, its overviews made from
//      each tile while in memory (mosaic_overviews.h), then copied by GDAL's COG driver under
//      "<path>.part", renamed to path when complete.
// Stop or a failure removes every temporary file; nothing is left under the final name.
#include <string>
#include <vector>

#include <opencv2/core/mat.hpp>

#include "model/run_context.h"
#include "products/mosaic_options.h"
#include "products/mosaic_vrt.h"

namespace ortavia {

struct MosaicWriteResult {
  std::string error;               // empty when written (or nothing to write)
  bool aborted = false;
  std::vector<std::string> notes;  // orthos left out, each with its cause
  int orthos = 0;
  long long samples = 0;           // image samples written (covered pixels x bands)
  long long clipped = 0;           // of them, balanced beyond the sample type's range
  int tileSide = 0;                // of the assembly, from the memory setting
  double ClippedShare() const { return samples > 0 ? static_cast<double>(clipped) / samples : 0.0; }
};

MosaicWriteResult WriteMosaicTiff(const std::string& path, const cv::Mat& voronoiMap,
                                  const MosaicVrtGrid& grid,
                                  const std::vector<MosaicVrtOrtho>& orthos,
                                  const MosaicOptions& options, const RunContext& ctx);

// Side of the assembly tiles for a memory setting: a multiple of 256 from 256 to 4096, for
// `depth` orthos over one pixel and `bands` image bands; pyramids: multi-band blending.
int MosaicTileSide(int memoryMb, int depth, int bands, int featherPx, bool pyramids = false);

}  // namespace ortavia
