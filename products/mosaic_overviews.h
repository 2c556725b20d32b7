#pragma once
// The mosaic's overviews, made from each assembled tile while it is in memory instead of being
// read back from the file: level k halves level k - 1, each pixel the alpha-weighted mean of the
// (up to four) pixels it covers and its alpha their mean alpha. Since every level is made from
// the one before, the overviews do not depend on how the mosaic was cut into tiles, as long as
// the tiles start on multiples of 2^kTileLevels. Levels coarser than that are made at the end
// from the last one, kept whole in memory (1 / 65536 of the mosaic's pixels).
#include <string>
#include <vector>

#include <gdal_priv.h>
#include <opencv2/core/mat.hpp>

namespace ortavia {

// Halves image (any depth, 2 to 5 channels, the last alpha); odd sizes round up, the last row or
// column then averaging the pixels there are. Integer types round half up.
void HalveWithAlpha(const cv::Mat& image, cv::Mat& half);

// Overview factors 2, 4, ... down to one 512-pixel block for a width x height raster.
std::vector<int> MosaicOverviewFactors(int width, int height);

class MosaicOverviews {
 public:
  static constexpr int kTileLevels = 8;

  // ds: the mosaic with bands image bands plus alpha, its overviews already created (factors
  // MosaicOverviewFactors) and blank.
  MosaicOverviews(GDALDataset& ds, int bands, int depth);

  // One assembled tile at full resolution, bands and alpha; rect starts on multiples of
  // 2^kTileLevels.
  std::string AddTile(const cv::Rect& rect, const cv::Mat& image);
  // The levels beyond kTileLevels.
  std::string Finish();

 private:
  std::string WriteLevel(int level, const cv::Rect& rect, const cv::Mat& image);
  GDALDataset& ds_;
  int bands_, depth_, levels_;
  cv::Mat kept_;  // level kTileLevels, whole, when there are more
};

}  // namespace ortavia
