#pragma once
// Copies a raster (or a pixel rectangle of it) into a caller-made image of the caller's size and
// depth. Pixel rectangles are in raster pixels, (x, y) = (column, row) of the top-left pixel.
#include <gdal_priv.h>
#include <opencv2/core/mat.hpp>
#include <vector>

namespace geo {

// Raw values of band 1 (or of the listed bands), nearest-neighbour resampled; no-data kept exact.
inline constexpr double kExtractRaw = -1.0;
// 8-bit, 3-channel display picture in OpenCV channel order (blue, green, red).
inline constexpr double kExtractDisplay = -2.0;

// rect null = the whole raster. bands (1-based, null = default) lists the source band of each
// destination channel; for the display mode they are colour roles red, green, blue.
// Parts of the rectangle beyond the raster are filled with 0 (raw mode on float images: -9999).
// Returns 0 on failure: no dataset, empty image, a rectangle that does not meet the raster, or a
// read error.
int GDALExtractROI(GDALDataset* dataset, cv::Mat& image, const cv::Rect* rect, double mode,
                   const std::vector<int>* bands);

// Depth of an image buffer for a GDAL band type (Byte -> CV_8U, UInt16 -> CV_16U, Int16 -> CV_16S,
// UInt32 -> CV_32F, Int32 -> CV_32S, Float32 -> CV_32F, Float64 -> CV_64F); others unchanged.
int GetCVDepth(int gdalDataType);

}  // namespace geo
