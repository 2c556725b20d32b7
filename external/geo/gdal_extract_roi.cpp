#include "external/geo/gdal_extract_roi.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <opencv2/core.hpp>

namespace geo {
namespace {

constexpr double kNoHeight = -9999.0;

// Which destination pixels of one axis see the raster, and what they sample. Destination pixel
// i samples source pixel floor(off + (i + 0.5) * scale): nearest neighbour, with the small bias
// GDAL's RasterIO adds so that exact pixel borders do not round down.
struct AxisWindow {
  int first = 0;           // first destination pixel inside the raster
  int count = 0;           // number of destination pixels inside the raster
  std::vector<int> index;  // source pixel of each of them
  double srcOff = 0.0;     // the same as a floating-point source window
  double srcSize = 0.0;
  int srcFirst = 0;        // enclosing whole-pixel source window
  int srcCount = 0;
};

bool MapAxis(std::int64_t rectOff, std::int64_t rectLen, int dstLen, int rasterLen,
             AxisWindow* out) {
  const double scale = static_cast<double>(rectLen) / dstLen;
  out->index.clear();
  for (int i = 0; i < dstLen; ++i) {
    const double u = static_cast<double>(rectOff) + (i + 0.5) * scale + 1e-10;
    if (!(u >= 0.0 && u < rasterLen)) {
      if (out->index.empty()) continue;
      break;  // the inside part is one run
    }
    if (out->index.empty()) out->first = i;
    out->index.push_back(static_cast<int>(u));
  }
  if (out->index.empty()) return false;

  out->count = static_cast<int>(out->index.size());
  out->srcOff = static_cast<double>(rectOff) + out->first * scale;
  out->srcSize = out->count * scale;
  const double lo = std::clamp(std::floor(out->srcOff), 0.0, rasterLen - 1.0);
  const double hi = std::clamp(std::ceil(out->srcOff + out->srcSize), lo + 1.0,
                               static_cast<double>(rasterLen));
  out->srcFirst = static_cast<int>(lo);
  out->srcCount = static_cast<int>(hi - lo);
  return true;
}

bool BufferTypeOf(int depth, GDALDataType* type) {
  switch (depth) {
    case CV_8U: *type = GDT_Byte; return true;
    case CV_16U: *type = GDT_UInt16; return true;
    case CV_16S: *type = GDT_Int16; return true;
    case CV_32S: *type = GDT_Int32; return true;
    case CV_32F: *type = GDT_Float32; return true;
    case CV_64F: *type = GDT_Float64; return true;
    default: return false;
  }
}

// A 16-bit image receives the 16 bits of a 16-bit band of the other sign unchanged, so that
// the caller can take them as signed or unsigned as the band type says (GDAL would clamp).
GDALDataType ReadTypeFor(GDALDataType bufferType, GDALDataType bandType) {
  const bool bothSixteen = (bufferType == GDT_UInt16 || bufferType == GDT_Int16) &&
                           (bandType == GDT_UInt16 || bandType == GDT_Int16);
  return bothSixteen ? bandType : bufferType;
}

struct Window {
  AxisWindow x, y;
};

// The caller's progress function over all channels of a raw read.
struct Progress {
  GDALProgressFunc func = nullptr;
  void* data = nullptr;
  int part = 0, parts = 1;
  double Done(int rows, int of) const { return (part + static_cast<double>(rows) / of) / parts; }
};

// Reads one band into one channel of the image's inside part (pixel / line spacing) with GDAL's
// nearest resampling, which may take an overview of the file: fast enough to paint on screen.
bool ReadBandIntoChannel(GDALRasterBand* band, const Window& w, cv::Mat& image, int channel,
                         GDALDataType bufferType) {
  GDALRasterIOExtraArg extra;
  INIT_RASTERIO_EXTRA_ARG(extra);
  extra.eResampleAlg = GRIORA_NearestNeighbour;
  extra.bFloatingPointWindowValidity = TRUE;
  extra.dfXOff = w.x.srcOff;
  extra.dfYOff = w.y.srcOff;
  extra.dfXSize = w.x.srcSize;
  extra.dfYSize = w.y.srcSize;
  auto* data = image.ptr<std::uint8_t>(w.y.first) + w.x.first * image.elemSize() +
               channel * image.elemSize1();
  const CPLErr err = band->RasterIO(
      GF_Read, w.x.srcFirst, w.y.srcFirst, w.x.srcCount, w.y.srcCount, data, w.x.count,
      w.y.count, ReadTypeFor(bufferType, band->GetRasterDataType()),
      static_cast<GSpacing>(image.elemSize()), static_cast<GSpacing>(image.step[0]), &extra);
  return err == CE_None;
}

// Reads the band's own samples (never an overview, whose values may be averages) into one
// channel of the image's inside part, one source row at a time.
bool ReadBandSamples(GDALRasterBand* band, const Window& w, cv::Mat& image, int channel,
                     GDALDataType readType, const Progress& progress) {
  const int x0 = w.x.index.front();
  const int nx = w.x.index.back() - x0 + 1;
  const std::size_t bytes = image.elemSize1();
  std::vector<std::uint8_t> line(static_cast<std::size_t>(nx) * bytes);
  int loadedRow = -1;
  for (int j = 0; j < w.y.count; ++j) {
    const int row = w.y.index[j];
    if (row != loadedRow) {
      if (band->RasterIO(GF_Read, x0, row, nx, 1, line.data(), nx, 1, readType,
                         static_cast<GSpacing>(bytes), 0, nullptr) != CE_None)
        return false;
      loadedRow = row;
    }
    std::uint8_t* out = image.ptr<std::uint8_t>(w.y.first + j) + w.x.first * image.elemSize() +
                        channel * bytes;
    for (int i = 0; i < w.x.count; ++i, out += image.elemSize())
      std::memcpy(out, &line[static_cast<std::size_t>(w.x.index[i] - x0) * bytes], bytes);
    if (progress.func && !progress.func(progress.Done(j + 1, w.y.count), "", progress.data)) return false;
  }
  return true;
}

bool BandExists(GDALDataset* dataset, int band) {
  return band >= 1 && band <= dataset->GetRasterCount();
}

bool Representable(double v, GDALDataType type) {
  if (v != std::floor(v)) return false;
  switch (type) {
    case GDT_Byte: return v >= 0 && v <= 255;
    case GDT_UInt16: return v >= 0 && v <= 65535;
    case GDT_Int16: return v >= -32768 && v <= 32767;
    case GDT_Int32: return v >= -2147483648.0 && v <= 2147483647.0;
    default: return false;
  }
}

// What stands beyond the raster: -9999 in float images; in integer images the band's no-data
// value (else -9999) where the read type holds it, so that callers turning no-data into -9999
// never take the fill for a height of 0; 0 otherwise.
double OutsideValue(GDALRasterBand* band, int depth, GDALDataType readType) {
  if (depth == CV_32F || depth == CV_64F) return kNoHeight;
  int hasNoData = FALSE;
  const double noData = band->GetNoDataValue(&hasNoData);
  const double v = hasNoData ? noData : kNoHeight;
  if (!Representable(v, readType)) return 0.0;
  // A 16-bit band of the other sign keeps its bits (see ReadTypeFor).
  if (readType == GDT_Int16 && depth == CV_16U)
    return static_cast<std::uint16_t>(static_cast<std::int16_t>(v));
  if (readType == GDT_UInt16 && depth == CV_16S)
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(v));
  return v;
}

int ExtractRaw(GDALDataset* dataset, cv::Mat& image, const Window& w,
               const std::vector<int>* bands, Progress progress) {
  GDALDataType bufferType;
  if (!BufferTypeOf(image.depth(), &bufferType)) return 0;
  const int channels = image.channels();
  if (channels > 4) return 0;
  std::vector<int> source(channels);
  cv::Scalar outside;
  for (int c = 0; c < channels; ++c) {
    source[c] = bands != nullptr ? (c < static_cast<int>(bands->size()) ? (*bands)[c] : 0) : c + 1;
    if (!BandExists(dataset, source[c])) return 0;
    GDALRasterBand* band = dataset->GetRasterBand(source[c]);
    outside[c] = OutsideValue(band, image.depth(),
                              ReadTypeFor(bufferType, band->GetRasterDataType()));
  }
  image.setTo(outside);
  for (int c = 0; c < channels; ++c) {
    GDALRasterBand* band = dataset->GetRasterBand(source[c]);
    progress.part = c;
    progress.parts = channels;
    if (!ReadBandSamples(band, w, image, c, ReadTypeFor(bufferType, band->GetRasterDataType()), progress))
      return 0;
  }
  return 1;
}

// Display bands in OpenCV channel order (blue, green, red), from colour roles (one GDAL colour
// interpretation per band, band 1 first) or from the band count.
std::array<int, 3> DisplayBands(GDALDataset* dataset, const std::vector<int>* roles) {
  const int count = dataset->GetRasterCount();
  std::array<int, 3> defaults = count >= 3 ? std::array<int, 3>{3, 2, 1}
                                           : std::array<int, 3>{1, 1, 1};
  if (roles == nullptr) return defaults;
  auto bandWithRole = [&](int role) {
    const int n = std::min<int>(count, static_cast<int>(roles->size()));
    for (int b = 0; b < n; ++b)
      if ((*roles)[b] == role) return b + 1;
    return 0;
  };
  const int gray = bandWithRole(GCI_GrayIndex);
  std::array<int, 3> result{};
  const int wanted[3] = {GCI_BlueBand, GCI_GreenBand, GCI_RedBand};
  for (int c = 0; c < 3; ++c) {
    result[c] = bandWithRole(wanted[c]);
    if (result[c] == 0) result[c] = gray;
    if (result[c] == 0) result[c] = defaults[c];
  }
  return result;
}

// The band's minimum..maximum, from statistics GDAL already has or else an approximate min/max
// pass that writes nothing back to the file.
bool DisplayRangeOf(GDALRasterBand* band, double* lo, double* hi) {
  double minMax[2] = {0.0, 0.0};
  if (band->GetStatistics(TRUE, FALSE, &minMax[0], &minMax[1], nullptr, nullptr) != CE_None) {
    if (band->ComputeRasterMinMax(TRUE, minMax) != CE_None) return false;
  }
  *lo = minMax[0];
  *hi = minMax[1];
  return std::isfinite(*lo) && std::isfinite(*hi);
}

// Linear stretch of lo..hi to 0..255, rounded to nearest; a flat band shows black.
void Stretch(const cv::Mat& values, double lo, double hi, cv::Mat& out) {
  out.create(values.size(), CV_8U);
  const double range = hi - lo;
  for (int r = 0; r < values.rows; ++r) {
    const double* in = values.ptr<double>(r);
    std::uint8_t* o = out.ptr<std::uint8_t>(r);
    for (int c = 0; c < values.cols; ++c) {
      const double v = range > 0.0 ? (in[c] - lo) * 255.0 / range : 0.0;
      o[c] = !(v > 0.0) ? 0 : v >= 255.0 ? 255 : static_cast<std::uint8_t>(v + 0.5);
    }
  }
}

int ExtractDisplay(GDALDataset* dataset, cv::Mat& image, const Window& w,
                   const std::vector<int>* roles) {
  if (image.type() != CV_8UC3) return 0;
  const std::array<int, 3> source = DisplayBands(dataset, roles);
  for (int b : source)
    if (!BandExists(dataset, b)) return 0;
  image.setTo(cv::Scalar::all(0));
  const cv::Rect inside(w.x.first, w.y.first, w.x.count, w.y.count);
  for (int c = 0; c < 3; ++c) {
    GDALRasterBand* band = dataset->GetRasterBand(source[c]);
    if (band->GetRasterDataType() == GDT_Byte) {
      if (!ReadBandIntoChannel(band, w, image, c, GDT_Byte)) return 0;
      continue;
    }
    double lo = 0.0, hi = 0.0;
    if (!DisplayRangeOf(band, &lo, &hi)) return 0;
    cv::Mat values(w.y.count, w.x.count, CV_64F);
    Window local = w;  // the same samples, into a buffer of the inside part only
    local.x.first = local.y.first = 0;
    if (!ReadBandIntoChannel(band, local, values, 0, GDT_Float64)) return 0;
    cv::Mat stretched;
    Stretch(values, lo, hi, stretched);
    cv::Mat target = image(inside);
    const int fromTo[2] = {0, c};
    cv::mixChannels(&stretched, 1, &target, 1, fromTo, 1);
  }
  return 1;
}

}  // namespace

int GDALExtractROI(GDALDataset* dataset, cv::Mat& image, const cv::Rect* rect, double mode,
                   const std::vector<int>* bands, GDALProgressFunc progress, void* progressData) {
  if (dataset == nullptr || image.empty() || image.dims != 2) return 0;
  if (mode != kExtractRaw && mode != kExtractDisplay) return 0;
  const int rasterW = dataset->GetRasterXSize();
  const int rasterH = dataset->GetRasterYSize();
  if (rasterW <= 0 || rasterH <= 0 || dataset->GetRasterCount() < 1) return 0;

  const cv::Rect whole(0, 0, rasterW, rasterH);
  const cv::Rect r = rect != nullptr ? *rect : whole;
  if (r.width <= 0 || r.height <= 0) return 0;
  Window w;
  if (!MapAxis(r.x, r.width, image.cols, rasterW, &w.x)) return 0;
  if (!MapAxis(r.y, r.height, image.rows, rasterH, &w.y)) return 0;

  return mode == kExtractRaw ? ExtractRaw(dataset, image, w, bands, {progress, progressData})
                             : ExtractDisplay(dataset, image, w, bands);
}

GDALDataType GdalTypeOfDepth(int depth) {
  GDALDataType type = GDT_Unknown;
  return BufferTypeOf(depth, &type) ? type : GDT_Unknown;
}

int GetCVDepth(int gdalDataType) {
  switch (gdalDataType) {
    case GDT_Byte: return CV_8U;
    case GDT_UInt16: return CV_16U;
    case GDT_Int16: return CV_16S;
    case GDT_UInt32: return CV_32F;
    case GDT_Int32: return CV_32S;
    case GDT_Float32: return CV_32F;
    case GDT_Float64: return CV_64F;
    default: return gdalDataType;
  }
}

}  // namespace geo
