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

// rect null = the whole raster. Destination pixel (i, j) samples source pixel
// (floor(rect.x + (i + 0.5) * rect.width / image.cols), likewise rows): nearest neighbour.
// The image's depth decides the buffer type (8U, 16U, 16S, 32S, 32F, 64F; others refused), except
// that a 16-bit image receives the bits of a 16-bit band of the other sign unchanged.
// Raw mode: the band's own samples, never an overview; bands (1-based, null = bands
// 1 .. channels) lists the source band of each channel (at most 4). Parts of the rectangle beyond the raster are filled with -9999 in float images;
// in integer images with the band's no-data value (else -9999) where the type holds it, else 0.
// Display mode: the image must be 8-bit 3-channel; bands, when given, are colour roles, one GDAL
// colour interpretation per band (entry 0 = band 1): the red, green and blue roles feed those
// channels, a gray band feeds any colour without a band; bands 3, 2, 1 (1, 1, 1 for fewer than
// three bands) otherwise; overviews may be used. Beyond the raster: black. Statistics are never
// written to the file.
// Returns 0 on failure: no dataset, empty image, unsupported mode or depth, a band that does not
// exist, a rectangle that does not meet the raster, a read error, or (raw mode) a progress
// function that answered FALSE; it is called after every image row with the part done.
int GDALExtractROI(GDALDataset* dataset, cv::Mat& image, const cv::Rect* rect, double mode,
                   const std::vector<int>* bands, GDALProgressFunc progress = nullptr,
                   void* progressData = nullptr);

// Depth of an image buffer for a GDAL band type (Byte -> CV_8U, UInt16 -> CV_16U, Int16 -> CV_16S,
// UInt32 -> CV_32F, Int32 -> CV_32S, Float32 -> CV_32F, Float64 -> CV_64F); others unchanged.
int GetCVDepth(int gdalDataType);

// GDAL buffer type of an image depth (CV_8U -> Byte ... CV_64F -> Float64); GDT_Unknown for the
// depths GDAL has no type for.
GDALDataType GdalTypeOfDepth(int depth);

}  // namespace geo
