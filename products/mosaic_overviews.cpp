#include "products/mosaic_overviews.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <type_traits>

#include "external/geo/gdal_extract_roi.h"

namespace ortavia {
namespace {

// sum / count rounded half up (integer samples), or as it is.
template <typename T, typename Acc>
T Mean(Acc sum, Acc count) {
  if constexpr (std::is_integral_v<Acc>) {
    if (count < 0) sum = -sum, count = -count;
    Acc q = (2 * sum + count) / (2 * count);
    if ((2 * sum + count) % (2 * count) < 0) --q;  // floor, not towards zero
    return static_cast<T>(q);
  } else {
    return static_cast<T>(sum / count);
  }
}

// One pixel of the halved image from the nr x nc pixels at column 2c of rows (N channels, the
// last alpha); accumulates in Acc: exact integers for integer samples, so that the mean rounds
// exactly.
template <typename T, typename Acc, int N>
void HalvePixel(const T* const rows[2], int nr, int nc, int c, T* out) {
  Acc weight = 0, sum[N - 1] = {};
  for (int i = 0; i < nr; ++i)
    for (int j = 0; j < nc; ++j) {
      const T* px = rows[i] + (2 * c + j) * N;
      const Acc w = static_cast<Acc>(px[N - 1]);
      weight += w;
      for (int b = 0; b < N - 1; ++b) sum[b] += w * static_cast<Acc>(px[b]);
    }
  out[N - 1] = Mean<T>(weight, static_cast<Acc>(nr * nc));
  for (int b = 0; b < N - 1; ++b) out[b] = weight != 0 ? Mean<T>(sum[b], weight) : T(0);
}

template <typename T, typename Acc, int N>
void Halve(const cv::Mat& image, cv::Mat& half) {
  for (int r = 0; r < half.rows; ++r) {
    const int r0 = 2 * r, r1 = std::min(2 * r + 1, image.rows - 1);
    const T* const rows[2] = {image.ptr<T>(r0), image.ptr<T>(r1)};
    // Pixels past the edge are left out, not counted twice.
    const int nr = 1 + (r1 != r0);
    T* out = half.ptr<T>(r);
    for (int c = 0; c < half.cols; ++c, out += N) {
      const int nc = 2 * c + 1 < image.cols ? 2 : 1;
      if constexpr (std::is_integral_v<T>) {
        const T* p0 = rows[0] + 2 * c * N;
        const T* p1 = rows[1] + 2 * c * N;
        const T a = p0[N - 1];
        // Four alike alphas, the common case: the plain mean, as the weighted one gives.
        if (nr == 2 && nc == 2 && p0[2 * N - 1] == a && p1[N - 1] == a && p1[2 * N - 1] == a) {
          for (int b = 0; b < N - 1; ++b) {
            const Acc sum = static_cast<Acc>(p0[b]) + p0[b + N] + p1[b] + p1[b + N];
            out[b] = a != 0 ? Mean<T>(sum, Acc(4)) : T(0);
          }
          out[N - 1] = a;
          continue;
        }
      }
      HalvePixel<T, Acc, N>(rows, nr, nc, c, out);
    }
  }
}

template <typename T, typename Acc>
void HalveBands(const cv::Mat& image, cv::Mat& half) {
  switch (image.channels()) {
    case 2: Halve<T, Acc, 2>(image, half); break;
    case 3: Halve<T, Acc, 3>(image, half); break;
    case 4: Halve<T, Acc, 4>(image, half); break;
    default: Halve<T, Acc, 5>(image, half); break;
  }
}

}  // namespace

void HalveWithAlpha(const cv::Mat& image, cv::Mat& half) {
  half.create((image.rows + 1) / 2, (image.cols + 1) / 2, image.type());
  switch (image.depth()) {
    case CV_8U: HalveBands<uchar, int>(image, half); break;
    case CV_16U: HalveBands<ushort, long long>(image, half); break;
    case CV_16S: HalveBands<short, long long>(image, half); break;
    case CV_32S: HalveBands<int, double>(image, half); break;
    case CV_32F: HalveBands<float, double>(image, half); break;
    default: HalveBands<double, double>(image, half); break;
  }
}

std::vector<int> MosaicOverviewFactors(int width, int height) {
  std::vector<int> factors;
  for (int f = 2; std::max(width, height) / (f / 2) > 512; f *= 2) factors.push_back(f);
  return factors;
}

MosaicOverviews::MosaicOverviews(GDALDataset& ds, int bands, int depth)
    : ds_(ds), bands_(bands), depth_(depth) {
  levels_ = static_cast<int>(MosaicOverviewFactors(ds.GetRasterXSize(), ds.GetRasterYSize()).size());
  if (levels_ > kTileLevels) {
    const int f = 1 << kTileLevels;
    const cv::Size kept((ds.GetRasterXSize() + f - 1) / f, (ds.GetRasterYSize() + f - 1) / f);
    kept_ = cv::Mat::zeros(kept, CV_MAKETYPE(depth, bands + 1));
  }
}

std::string MosaicOverviews::WriteLevel(int level, const cv::Rect& rect, const cv::Mat& image) {
  const GDALDataType type = geo::GdalTypeOfDepth(depth_);
  for (int b = 0; b <= bands_; ++b) {
    GDALRasterBand* band = ds_.GetRasterBand(b + 1)->GetOverview(level - 1);
    if (!band) return "the mosaic's overviews cannot be written";
    uchar* data = const_cast<uchar*>(image.ptr()) + b * image.elemSize1();
    if (band->RasterIO(GF_Write, rect.x, rect.y, rect.width, rect.height, data, rect.width,
                       rect.height, type, static_cast<GSpacing>(image.elemSize()),
                       static_cast<GSpacing>(image.step[0]), nullptr) != CE_None)
      return "the mosaic's overviews cannot be written";
  }
  return {};
}

std::string MosaicOverviews::AddTile(const cv::Rect& rect, const cv::Mat& image) {
  cv::Mat im = image;
  const int inTile = std::min(levels_, kTileLevels);
  for (int level = 1; level <= inTile; ++level) {
    cv::Mat half;
    HalveWithAlpha(im, half);
    const int f = 1 << level;
    if (std::string e = WriteLevel(level, cv::Rect(rect.x / f, rect.y / f, half.cols, half.rows), half);
        !e.empty())
      return e;
    im = half;
  }
  if (!kept_.empty()) {
    const int f = 1 << kTileLevels;
    im.copyTo(kept_(cv::Rect(rect.x / f, rect.y / f, im.cols, im.rows)));
  }
  return {};
}

std::string MosaicOverviews::Finish() {
  cv::Mat im = kept_;
  for (int level = kTileLevels + 1; level <= levels_; ++level) {
    cv::Mat half;
    HalveWithAlpha(im, half);
    if (std::string e = WriteLevel(level, cv::Rect({}, half.size()), half); !e.empty()) return e;
    im = half;
  }
  return {};
}

}  // namespace ortavia
