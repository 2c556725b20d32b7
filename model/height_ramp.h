#pragma once
// The height colour ramp of the DEM pictures: 262144 colours from dark blue over cyan, green and
// yellow to dark red, built once on first use.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include <opencv2/core/matx.hpp>

namespace ortavia {

inline constexpr std::size_t kHeightRampSize = 262144;

// One ramp entry: red, green, blue and a zero fourth byte.
using RampEntry = std::array<std::uint8_t, 4>;

// The whole ramp (built on the first call; later calls return the same table).
const std::vector<RampEntry>& HeightRamp();

// Index of a height in the ramp over [lo, hi]: 0 at or below lo, the last entry at or above hi,
// otherwise the integer part of (h - lo) / (hi - lo) * size. A NaN height gives 0.
std::size_t HeightRampIndex(double h, double lo, double hi);

// The ramp colour of a height as an OpenCV pixel (blue, green, red).
cv::Vec3b HeightRampBgr(double h, double lo, double hi);

}  // namespace ortavia
