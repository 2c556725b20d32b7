// Coverage and values of two orthos of the same grid (say tile mode against pixel mode):
//   bench_ortho_compare A.tif B.tif
// prints the pixels filled (non-zero in some band) in A and in B, those filled in only one of
// them, and the mean and largest absolute difference over the pixels both fill.
#include <cstdio>

#include <gdal_priv.h>
#include <opencv2/core.hpp>

namespace {

cv::Mat ReadAll(const char* path) {
  GDALDatasetUniquePtr ds(GDALDataset::Open(path, GDAL_OF_RASTER | GDAL_OF_READONLY));
  if (!ds) return {};
  const int w = ds->GetRasterXSize(), h = ds->GetRasterYSize(), n = ds->GetRasterCount();
  cv::Mat m(h, w, CV_64FC(n));
  const auto step = static_cast<GSpacing>(m.elemSize());
  for (int b = 1; b <= n; ++b)
    if (ds->GetRasterBand(b)->RasterIO(GF_Read, 0, 0, w, h, m.ptr<double>() + (b - 1), w, h,
                                       GDT_Float64, step, static_cast<GSpacing>(m.step[0]),
                                       nullptr) != CE_None)
      return {};
  return m;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: bench_ortho_compare A.tif B.tif\n");
    return 2;
  }
  GDALAllRegister();
  const cv::Mat a = ReadAll(argv[1]), b = ReadAll(argv[2]);
  if (a.empty() || b.empty() || a.size() != b.size() || a.type() != b.type()) {
    std::fprintf(stderr, "ortho_compare: unreadable, or not the same grid\n");
    return 1;
  }
  const int n = a.channels();
  long filledA = 0, filledB = 0, onlyA = 0, onlyB = 0, both = 0;
  double sum = 0.0, worst = 0.0;
  for (int r = 0; r < a.rows; ++r) {
    const double* pa = a.ptr<double>(r);
    const double* pb = b.ptr<double>(r);
    for (int c = 0; c < a.cols; ++c, pa += n, pb += n) {
      bool fa = false, fb = false;
      for (int k = 0; k < n; ++k) {
        fa = fa || pa[k] != 0.0;
        fb = fb || pb[k] != 0.0;
      }
      filledA += fa;
      filledB += fb;
      onlyA += fa && !fb;
      onlyB += fb && !fa;
      if (!fa || !fb) continue;
      ++both;
      for (int k = 0; k < n; ++k) {
        const double d = std::abs(pa[k] - pb[k]);
        sum += d;
        worst = std::max(worst, d);
      }
    }
  }
  std::printf("filled A %ld B %ld, only A %ld, only B %ld, |A - B| mean %.4f max %.4f\n", filledA,
              filledB, onlyA, onlyB, both ? sum / (both * n) : 0.0, worst);
  return 0;
}
