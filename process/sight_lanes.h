#pragma once
// Lines of sight marched eight at a time, one per AVX-512 lane. Every lane does the arithmetic of
// SurfaceVisibility::Sees in the same order and without fused multiply-adds, so its answers are
// those of Sees to the bit; the gain is that eight lines wait on memory and on their comparisons
// together instead of one after another.
#include <cstdint>

namespace ortavia {

// What the lanes read of a surface (see SurfaceVisibility for the meaning of each part).
struct SightSurface {
  static constexpr int kMaxLevels = 16;
  std::int64_t level[kMaxLevels] = {};  // address of each level's first sample
  int step[kMaxLevels] = {};            // samples from one row of a level to the next
  int levels = 0;
  int cols = 0, rows = 0;  // of level 0
  double gt[6] = {};       // the samples' geotransform
  double det = 1.0;
  bool northUp = true;
  double tolerance = 0.0;
  double top = 0.0;
  // The highest sample between each block and the nadir point, or null: see SurfaceVisibility::Aim.
  const float* ahead = nullptr;
  int aheadStep = 0;
  int aheadLevel = 0;
};

// How far past a cell boundary a line's position is taken, in pixels along the line's main axis
// (the one-line march and the lanes must agree on it to the bit).
inline constexpr double kSightNudge = 1e-7;

// Whether this processor has the lanes (AVX-512 F and VL).
bool SightLanesAvailable();

// seen[n] = 1 where the centre (at height cz; its sample coordinates csx, csy) sees the surface at
// ground point (x[n], y[n]), else 0, for n < count. Only where SightLanesAvailable.
void SeesLanes(const SightSurface& surface, const double* x, const double* y, int count, double csx,
               double csy, double cz, std::uint8_t* seen);

// The same four lines at a time, for processors with AVX2 (and no AVX-512).
bool SightLanesAvx2Available();
void SeesLanesAvx2(const SightSurface& surface, const double* x, const double* y, int count,
                   double csx, double csy, double cz, std::uint8_t* seen);

}  // namespace ortavia
