#include "products/mosaic_source.h"

#include <cmath>

namespace ortavia {

std::string OpenMosaicSource(const MosaicVrtOrtho& o, const MosaicVrtGrid& grid,
                             MosaicSource* out) {
  GDALDatasetUniquePtr ds(GDALDataset::Open(o.path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
  if (!ds || ds->GetRasterCount() < 1) return "cannot be opened";
  double gt[6];
  if (ds->GetGeoTransform(gt) != CE_None) return "has no georeferencing";
  if (std::string why = PlaceOnMosaicGrid(gt, ds->GetRasterXSize(), ds->GetRasterYSize(), grid, &out->place);
      !why.empty())
    return why;
  const int n = ds->GetRasterCount();
  const bool alpha = n > 1 && ds->GetRasterBand(n)->GetColorInterpretation() == GCI_AlphaBand;
  out->row = o.row;
  out->path = o.path;
  out->bands = alpha ? n - 1 : n;
  out->type = ds->GetRasterBand(1)->GetRasterDataType();
  return {};
}

namespace {

template <typename T, int N>
void NonZeroRows(const cv::Mat& values, cv::Mat& mask) {
  for (int r = 0; r < values.rows; ++r) {
    const T* v = values.ptr<T>(r);
    uchar* m = mask.ptr<uchar>(r);
    for (int c = 0; c < values.cols; ++c, v += N) {
      bool any = false;
      for (int b = 0; b < N; ++b) any |= v[b] != T(0);
      m[c] = any ? 255 : 0;
    }
  }
}

// The OpenCV depth samples of a GDAL type are read in before they become floats, -1: read as
// floats directly.
int NativeDepth(GDALDataType t) {
  switch (t) {
    case GDT_Byte: return CV_8U;
    case GDT_UInt16: return CV_16U;
    case GDT_Int16: return CV_16S;
    default: return -1;
  }
}

}  // namespace

namespace {

template <typename T>
void NonZeroOf(const cv::Mat& values, cv::Mat& mask) {
  switch (values.channels()) {
    case 1: NonZeroRows<T, 1>(values, mask); break;
    case 2: NonZeroRows<T, 2>(values, mask); break;
    case 3: NonZeroRows<T, 3>(values, mask); break;
    default: NonZeroRows<T, 4>(values, mask); break;
  }
}

}  // namespace

cv::Mat NonZeroMask(const cv::Mat& values) {
  cv::Mat mask(values.size(), CV_8U);
  switch (values.depth()) {
    case CV_8U: NonZeroOf<uchar>(values, mask); break;
    case CV_16U: NonZeroOf<ushort>(values, mask); break;
    case CV_16S: NonZeroOf<short>(values, mask); break;
    default: NonZeroOf<float>(values, mask); break;
  }
  return mask;
}

GDALDataset* MosaicReader::Open(int i) {
  for (auto it = open_.begin(); it != open_.end(); ++it)
    if (it->first == i) {
      open_.splice(open_.begin(), open_, it);
      return open_.front().second.get();
    }
  GDALDatasetUniquePtr ds(
      GDALDataset::Open(sources_[i].path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
  if (!ds) return nullptr;
  open_.emplace_front(i, std::move(ds));
  if (open_.size() > keep_) open_.pop_back();
  return open_.front().second.get();
}

bool MosaicReader::ReadWindow(int i, int xoff, int yoff, int w, int h, int bw, int bh,
                              cv::Mat& out, bool asFloats) {
  GDALDataset* ds = Open(i);
  if (!ds) return false;
  const int nb = sources_[i].bands;
  std::vector<int> bandMap(nb);
  for (int b = 0; b < nb; ++b) bandMap[b] = b + 1;
  // Samples in their own type, then to floats by OpenCV: GDAL's own conversion is slower.
  const int depth = NativeDepth(sources_[i].type);
  cv::Mat& raw = depth >= 0 && asFloats ? raw_ : out;
  raw.create(bh, bw, CV_MAKETYPE(depth >= 0 ? depth : CV_32F, nb));
  const GSpacing sample = static_cast<GSpacing>(raw.elemSize1());
  if (ds->RasterIO(GF_Read, xoff, yoff, w, h, raw.ptr(), bw, bh,
                   depth >= 0 ? sources_[i].type : GDT_Float32, nb, bandMap.data(), nb * sample,
                   static_cast<GSpacing>(raw.step[0]), sample, nullptr) != CE_None)
    return false;
  if (depth >= 0 && asFloats) raw.convertTo(out, CV_32F);
  return true;
}

bool MosaicReader::Read(int i, const cv::Rect& rect, cv::Mat& values, cv::Mat& valid) {
  const MosaicSource& s = sources_[i];
  const cv::Rect part = rect & s.Rect();
  if (part == rect) {
    if (!ReadWindow(i, rect.x - s.place.ox0, rect.y - s.place.oy0, rect.width, rect.height,
                    rect.width, rect.height, values, false))
      return false;
    valid = NonZeroMask(values);
    return true;
  }
  const int depth = NativeDepth(s.type);
  values = cv::Mat::zeros(rect.size(), CV_MAKETYPE(depth >= 0 ? depth : CV_32F, s.bands));
  if (part.empty()) {
    valid = cv::Mat::zeros(rect.size(), CV_8U);
    return true;
  }
  cv::Mat window;
  if (!ReadWindow(i, part.x - s.place.ox0, part.y - s.place.oy0, part.width, part.height,
                  part.width, part.height, window, false))
    return false;
  window.copyTo(values(part - rect.tl()));
  valid = NonZeroMask(values);
  return true;
}

bool MosaicReader::ReadCoarse(int i, cv::Point origin, cv::Size size, int step, cv::Mat& values,
                              cv::Mat& valid) {
  const MosaicSource& s = sources_[i];
  values = cv::Mat::zeros(size, CV_32FC(s.bands));
  // Samples whose whole step lies inside the ortho.
  const auto first = [&](int o, int p) { return std::max(0, (p - o + step - 1) / step); };
  const int u0 = first(origin.x, s.place.ox0), v0 = first(origin.y, s.place.oy0);
  const int u1 = std::min(size.width, (s.place.ox0 + s.place.width - origin.x) / step);
  const int v1 = std::min(size.height, (s.place.oy0 + s.place.height - origin.y) / step);
  if (u1 > u0 && v1 > v0) {
    cv::Mat window;
    if (!ReadWindow(i, origin.x + u0 * step - s.place.ox0, origin.y + v0 * step - s.place.oy0,
                    (u1 - u0) * step, (v1 - v0) * step, u1 - u0, v1 - v0, window, true))
      return false;
    window.copyTo(values(cv::Rect(u0, v0, u1 - u0, v1 - v0)));
  }
  valid = NonZeroMask(values);
  return true;
}

}  // namespace ortavia
