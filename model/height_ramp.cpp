#include "model/height_ramp.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace ortavia {
namespace {

std::vector<RampEntry> BuildRamp() {
  constexpr double pi = std::numbers::pi;
  std::vector<RampEntry> ramp(kHeightRampSize);
  for (std::size_t i = 0; i < kHeightRampSize; ++i) {
    const double x = static_cast<double>(i) * 2.0 * pi / static_cast<double>(kHeightRampSize);
    const double red = x < pi / 2.0 ? 0.0 : 128.0 - 127.0 * std::sin(pi - x);
    const double green = 128.0 - 127.0 * std::cos(x);
    const double blue = x <= 3.0 * pi / 2.0 ? 128.0 + 127.0 * std::sin(x) : 0.0;
    ramp[i] = {static_cast<std::uint8_t>(red), static_cast<std::uint8_t>(green),
               static_cast<std::uint8_t>(blue), 0};
  }
  return ramp;
}

}  // namespace

const std::vector<RampEntry>& HeightRamp() {
  static const std::vector<RampEntry> ramp = BuildRamp();
  return ramp;
}

std::size_t HeightRampIndex(double h, double lo, double hi) {
  if (std::isnan(h) || h <= lo) return 0;
  if (h >= hi) return kHeightRampSize - 1;
  const double index = (h - lo) / (hi - lo) * static_cast<double>(kHeightRampSize);
  return std::min(static_cast<std::size_t>(index), kHeightRampSize - 1);
}

cv::Vec3b HeightRampBgr(double h, double lo, double hi) {
  const RampEntry& e = HeightRamp()[HeightRampIndex(h, lo, hi)];
  return {e[2], e[1], e[0]};
}

}  // namespace ortavia
