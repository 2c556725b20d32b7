#include "process/suggested_gsd.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

#include "model/dem.h"

namespace ortavia {
namespace {

constexpr int kMeanGridSide = 512;  // enough samples for a mean, whatever the DEM's size

std::string ShortestText(double v) {
  char text[64];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, v);
  return ec == std::errc() ? std::string(text, end) : std::string("0");
}

}  // namespace

std::optional<double> DemMeanHeight(GDALDataset* dem) {
  if (!dem) return std::nullopt;
  const cv::Size size(std::min(dem->GetRasterXSize(), kMeanGridSide),
                      std::min(dem->GetRasterYSize(), kMeanGridSide));
  const cv::Mat heights = ReadDemHeights(dem, nullptr, size);
  if (heights.empty()) return std::nullopt;
  double sum = 0.0;
  long count = 0;
  for (int r = 0; r < heights.rows; ++r)
    for (const float h : cv::Mat_<float>(heights.row(r)))
      if (h != kNoHeight) {
        sum += h;
        ++count;
      }
  if (count == 0) return std::nullopt;
  return sum / count;
}

double RoundToSignificantDigits(double value, int digits) {
  if (value == 0.0 || !std::isfinite(value) || digits < 1) return value;
  // Through decimal text, so that 0.25 comes back as the double nearest 0.25, not 0.25000000000000006.
  char text[64];
  const auto [end, ec] =
      std::to_chars(text, text + sizeof text, value, std::chars_format::scientific, digits - 1);
  if (ec != std::errc()) return value;
  double rounded = value;
  std::from_chars(text, end, rounded);
  return rounded;
}

std::optional<double> SuggestedGsd(const WarpProject& project) {
  if (!project.passport || !project.dem.dataset) return std::nullopt;
  const std::optional<double> mean = DemMeanHeight(project.dem.dataset.get());
  if (!mean) return std::nullopt;
  std::vector<double> sizes;
  for (const ImageItem& image : project.images) {
    const auto it = project.orientations.find(image.name);
    if (it == project.orientations.end() || !HasExteriorOrientation(it->second)) continue;
    const geo::COrientation& o = it->second;
    const double pixel = o.HasInterior() ? o.PixelSize() : project.passport->pixelSize;
    const double focal = o.HasInterior() ? o.FocalLength() : project.passport->focalLength;
    const double size = pixel * (o.N.z() - *mean) / focal;
    if (std::isfinite(size) && size > 0.0) sizes.push_back(size);
  }
  if (sizes.empty()) return std::nullopt;
  std::sort(sizes.begin(), sizes.end());
  const std::size_t n = sizes.size();
  const double median = n % 2 ? sizes[n / 2] : (sizes[n / 2 - 1] + sizes[n / 2]) / 2.0;
  return RoundToSignificantDigits(median, 2);
}

std::string SuggestedGsdText(double gsd) {
  return "GSD " + ShortestText(gsd) + ", the images' median ground pixel size over the DEM";
}

}  // namespace ortavia
