#pragma once
// The orthos a mosaic is assembled from, read window by window: their placement on the mosaic
// grid and their image bands with the mask of pixels the warp reached (those not 0 in every band,
// the orthos' no-data).
#include <list>
#include <string>
#include <utility>
#include <vector>

#include <gdal_priv.h>
#include <opencv2/core/mat.hpp>

#include "products/mosaic_vrt.h"

namespace ortavia {

struct MosaicSource {
  int row = -1;
  std::string path;
  OrthoPlacement place;
  int bands = 0;  // image bands, an alpha band left out
  GDALDataType type = GDT_Unknown;
  cv::Rect Rect() const { return {place.ox0, place.oy0, place.width, place.height}; }
};

// Reads the placement and bands of an ortho; empty on success, else why it cannot take part.
std::string OpenMosaicSource(const MosaicVrtOrtho& ortho, const MosaicVrtGrid& grid,
                             MosaicSource* out);

// Keeps a few orthos open, the most recently read ones.
class MosaicReader {
 public:
  explicit MosaicReader(const std::vector<MosaicSource>& sources, size_t keepOpen = 16)
      : sources_(sources), keep_(keepOpen) {}

  // Mosaic pixels rect of ortho i at full resolution: samples (bands channels) in their own type
  // for 8- and 16-bit orthos, else as floats, and valid CV_8U, 0 outside the ortho. False when
  // the file cannot be read.
  bool Read(int i, const cv::Rect& rect, cv::Mat& samples, cv::Mat& valid);

  // Every step-th pixel: sample (u, v) is mosaic pixel (origin.x + u * step + step / 2, ...), for
  // size.width x size.height samples; the overviews serve when they fit.
  bool ReadCoarse(int i, cv::Point origin, cv::Size size, int step, cv::Mat& values,
                  cv::Mat& valid);

 private:
  GDALDataset* Open(int i);
  bool ReadWindow(int i, int xoff, int yoff, int w, int h, int bw, int bh, cv::Mat& out,
                  bool asFloats);
  const std::vector<MosaicSource>& sources_;
  size_t keep_;
  std::list<std::pair<int, GDALDatasetUniquePtr>> open_;
  cv::Mat raw_;  // samples as read, before their conversion to floats
};

// CV_8U: 255 where any band is not 0 (samples CV_8U, CV_16U, CV_16S or CV_32F).
cv::Mat NonZeroMask(const cv::Mat& values);

}  // namespace ortavia
