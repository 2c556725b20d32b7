#include "products/ortho_paint.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "external/geo/gdal_extract_roi.h"

namespace ortavia {

OrthoPaint PaintOrtho(GDALDataset* ortho, const cv::Rect2d& picture, const cv::Rect& redrawn) {
  if (!ortho || ortho->GetRasterCount() < 1) return {};
  const GDALDataType type = ortho->GetRasterBand(1)->GetRasterDataType();
  if (type < GDT_Byte || type > GDT_Float64) return {};
  const int w = ortho->GetRasterXSize(), h = ortho->GetRasterYSize();
  if (w <= 0 || h <= 0 || !(picture.width > 0.0) || !(picture.height > 0.0) ||
      !std::isfinite(picture.x + picture.y + picture.width + picture.height))
    return {};

  const cv::Rect2d visible = picture & cv::Rect2d(redrawn);
  if (visible.width <= 0.0 || visible.height <= 0.0) return {};
  const int x0 = std::max(redrawn.x, static_cast<int>(std::floor(visible.x)));
  const int y0 = std::max(redrawn.y, static_cast<int>(std::floor(visible.y)));
  const int x1 = std::min(redrawn.br().x, static_cast<int>(std::ceil(visible.br().x)));
  const int y1 = std::min(redrawn.br().y, static_cast<int>(std::ceil(visible.br().y)));
  if (x1 <= x0 || y1 <= y0) return {};

  // The ortho pixels under the first and the last screen pixel of each axis.
  auto pixelAt = [](int screen, double origin, double extent, int count) {
    const double p = std::floor((screen + 0.5 - origin) * count / extent);
    return static_cast<int>(std::clamp(p, 0.0, count - 1.0));
  };
  const int left = pixelAt(x0, picture.x, picture.width, w), right = pixelAt(x1 - 1, picture.x, picture.width, w);
  const int top = pixelAt(y0, picture.y, picture.height, h), bottom = pixelAt(y1 - 1, picture.y, picture.height, h);
  const cv::Rect source(left, top, right - left + 1, bottom - top + 1);

  // Read at no more than the screen resolution, then spread over the screen pixels.
  const cv::Size readSize(std::min(source.width, x1 - x0), std::min(source.height, y1 - y0));
  cv::Mat read(readSize, CV_8UC3);
  if (!geo::GDALExtractROI(ortho, read, &source, geo::kExtractDisplay, nullptr)) return {};
  auto table = [&](int from, int to, double origin, double extent, int count, int first, int sourceLen,
                   int readLen) {
    std::vector<int> index(static_cast<size_t>(to - from));
    for (int s = from; s < to; ++s) {
      const int p = pixelAt(s, origin, extent, count) - first;
      index[static_cast<size_t>(s - from)] = std::min(readLen - 1, (2 * p + 1) * readLen / (2 * sourceLen));
    }
    return index;
  };
  const auto cols = table(x0, x1, picture.x, picture.width, w, left, source.width, readSize.width);
  const auto rows = table(y0, y1, picture.y, picture.height, h, top, source.height, readSize.height);
  OrthoPaint paint;
  paint.topLeft = {x0, y0};
  paint.bgr.create(y1 - y0, x1 - x0, CV_8UC3);
  for (int r = 0; r < paint.bgr.rows; ++r) {
    const cv::Vec3b* in = read.ptr<cv::Vec3b>(rows[static_cast<size_t>(r)]);
    cv::Vec3b* out = paint.bgr.ptr<cv::Vec3b>(r);
    for (int c = 0; c < paint.bgr.cols; ++c) out[c] = in[cols[static_cast<size_t>(c)]];
  }
  return paint;
}

}  // namespace ortavia
