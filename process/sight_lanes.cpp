#include "process/sight_lanes.h"

#include <algorithm>
#include <cmath>

#include "model/project.h"

#if defined(__x86_64__)
// GCC 12 takes the deliberately undefined vectors inside the AVX-512 intrinsics for uninitialised.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#endif

namespace ortavia {

#if defined(__x86_64__)

bool SightLanesAvailable() {
  static const bool available =
      __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl");
  return available;
}

namespace {

#define ORTAVIA_LANES __attribute__((target("avx2,avx512f,avx512vl"), optimize("fp-contract=off")))
#define ORTAVIA_LANES_INLINE ORTAVIA_LANES inline __attribute__((always_inline))

// Where the lines p + t d leave the cells [i side, (i + 1) side) along one axis; `ahead` and
// `back`: the lanes whose d is above and below 0.
ORTAVIA_LANES_INLINE __m512d AxisExit(__m512d p, __mmask8 ahead, __mmask8 back, __m512d inv,
                                      __m256i i, __m512d side) {
  const __m256i edge = _mm256_mask_add_epi32(i, ahead, i, _mm256_set1_epi32(1));
  const __m512d exit =
      _mm512_mul_pd(_mm512_sub_pd(_mm512_mul_pd(_mm512_cvtepi32_pd(edge), side), p), inv);
  return _mm512_mask_mov_pd(_mm512_set1_pd(HUGE_VAL), ahead | back, exit);
}

// The samples at (i, j) of the levels k, as doubles; lanes outside `live` read nothing.
ORTAVIA_LANES_INLINE __m512d LevelSamples(const SightSurface& s, __mmask8 live, __m256i k,
                                          __m256i i, __m256i j) {
  const __m512i levels = _mm512_castsi256_si512(k);
  const __m512i base = _mm512_permutex2var_epi64(
      _mm512_loadu_si512(s.level), _mm512_cvtepi32_epi64(k), _mm512_loadu_si512(s.level + 8));
  const __m256i step =
      _mm512_castsi512_si256(_mm512_permutexvar_epi32(levels, _mm512_loadu_si512(s.step)));
  const __m256i at = _mm256_add_epi32(_mm256_mullo_epi32(j, step), i);
  const __m512i address = _mm512_add_epi64(base, _mm512_slli_epi64(_mm512_cvtepi32_epi64(at), 2));
  const __m256 v = _mm512_mask_i64gather_ps(_mm256_setzero_ps(), live, address, nullptr, 1);
  return _mm512_cvtps_pd(v);
}

struct Lanes {
  __m512d px, py, dx, dy, ix, iy, z0, rise, early, nudge, t, stop;
  __m256i k, i, j;
  __m256i si, sj;  // the step from block to block: 1 or -1
  __mmask8 rightward = 0, leftward = 0, downward = 0, upward = 0;  // the signs of dx and dy
  __mmask8 live = 0, seen = 0;
};

// The sample coordinates of ground points, as DemGeoTransform::GroundToSample gives them.
ORTAVIA_LANES_INLINE void GroundToSample(const SightSurface& s, __m512d x, __m512d y, __m512d& sx,
                                         __m512d& sy) {
  const __m512d gx = _mm512_sub_pd(x, _mm512_set1_pd(s.gt[0]));
  const __m512d gy = _mm512_sub_pd(y, _mm512_set1_pd(s.gt[3]));
  if (s.northUp) {
    sx = _mm512_div_pd(gx, _mm512_set1_pd(s.gt[1]));
    sy = _mm512_div_pd(gy, _mm512_set1_pd(s.gt[5]));
  } else {
    const __m512d det = _mm512_set1_pd(s.det);
    sx = _mm512_div_pd(_mm512_sub_pd(_mm512_mul_pd(_mm512_set1_pd(s.gt[5]), gx),
                                     _mm512_mul_pd(_mm512_set1_pd(s.gt[2]), gy)),
                       det);
    sy = _mm512_div_pd(_mm512_sub_pd(_mm512_mul_pd(_mm512_set1_pd(s.gt[1]), gy),
                                     _mm512_mul_pd(_mm512_set1_pd(s.gt[4]), gx)),
                       det);
  }
  sx = _mm512_sub_pd(sx, _mm512_set1_pd(0.5));
  sy = _mm512_sub_pd(sy, _mm512_set1_pd(0.5));
}

// The bilinear heights at sample coordinates, as SurfaceVisibility::HeightAt; `known` clears the
// lanes without one.
ORTAVIA_LANES_INLINE __m512d HeightAt(const SightSurface& s, __m512d col, __m512d row,
                                      __mmask8& known) {
  const __m512d zero = _mm512_setzero_pd();
  known = _mm512_cmp_pd_mask(col, zero, _CMP_GE_OQ) & _mm512_cmp_pd_mask(row, zero, _CMP_GE_OQ) &
          _mm512_cmp_pd_mask(col, _mm512_set1_pd(s.cols - 1), _CMP_LE_OQ) &
          _mm512_cmp_pd_mask(row, _mm512_set1_pd(s.rows - 1), _CMP_LE_OQ);
  const __m256i i =
      _mm256_maskz_min_epi32(known, _mm512_cvttpd_epi32(col), _mm256_set1_epi32(s.cols - 2));
  const __m256i j =
      _mm256_maskz_min_epi32(known, _mm512_cvttpd_epi32(row), _mm256_set1_epi32(s.rows - 2));
  const float* h = reinterpret_cast<const float*>(s.level[0]);
  const __m256i at = _mm256_add_epi32(_mm256_mullo_epi32(j, _mm256_set1_epi32(s.step[0])), i);
  const __m256i below = _mm256_add_epi32(at, _mm256_set1_epi32(s.step[0]));
  // Each pair of neighbouring samples in one 8-byte load.
  const __m512i zero64 = _mm512_setzero_si512();
  const __m512i upper = _mm512_mask_i32gather_epi64(zero64, known, at, h, 4);
  const __m512i lower = _mm512_mask_i32gather_epi64(zero64, known, below, h, 4);
  const __m256 a0 = _mm256_castsi256_ps(_mm512_cvtepi64_epi32(upper));
  const __m256 a1 = _mm256_castsi256_ps(_mm512_cvtepi64_epi32(_mm512_srli_epi64(upper, 32)));
  const __m256 b0 = _mm256_castsi256_ps(_mm512_cvtepi64_epi32(lower));
  const __m256 b1 = _mm256_castsi256_ps(_mm512_cvtepi64_epi32(_mm512_srli_epi64(lower, 32)));
  const __m256 hole = _mm256_set1_ps(kNoHeight);
  known &= ~(_mm256_cmp_ps_mask(a0, hole, _CMP_EQ_OQ) | _mm256_cmp_ps_mask(a1, hole, _CMP_EQ_OQ) |
             _mm256_cmp_ps_mask(b0, hole, _CMP_EQ_OQ) | _mm256_cmp_ps_mask(b1, hole, _CMP_EQ_OQ));
  const __m512d one = _mm512_set1_pd(1.0);
  const __m512d fx = _mm512_sub_pd(col, _mm512_cvtepi32_pd(i));
  const __m512d fy = _mm512_sub_pd(row, _mm512_cvtepi32_pd(j));
  const __m512d gx = _mm512_sub_pd(one, fx), gy = _mm512_sub_pd(one, fy);
  const __m512d top =
      _mm512_add_pd(_mm512_mul_pd(_mm512_cvtps_pd(a0), gx), _mm512_mul_pd(_mm512_cvtps_pd(a1), fx));
  const __m512d bottom =
      _mm512_add_pd(_mm512_mul_pd(_mm512_cvtps_pd(b0), gx), _mm512_mul_pd(_mm512_cvtps_pd(b1), fx));
  return _mm512_add_pd(_mm512_mul_pd(top, gy), _mm512_mul_pd(bottom, fy));
}

// Lanes `which` find the block of level `level` holding their line just past t; those whose line
// has left the window are done and seen.
ORTAVIA_LANES_INLINE void Locate(const SightSurface& s, Lanes& l, __mmask8 which, __m256i level) {
  const __m512d at = _mm512_add_pd(l.t, l.nudge);
  const __m512d qx = _mm512_add_pd(l.px, _mm512_mul_pd(at, l.dx));
  const __m512d qy = _mm512_add_pd(l.py, _mm512_mul_pd(at, l.dy));
  const __m512d zero = _mm512_setzero_pd();
  const __mmask8 inside = _mm512_cmp_pd_mask(qx, zero, _CMP_GE_OQ) &
                          _mm512_cmp_pd_mask(qy, zero, _CMP_GE_OQ) &
                          _mm512_cmp_pd_mask(qx, _mm512_set1_pd(s.cols), _CMP_LT_OQ) &
                          _mm512_cmp_pd_mask(qy, _mm512_set1_pd(s.rows), _CMP_LT_OQ);
  const __mmask8 left = which & ~inside;
  l.seen |= left;
  l.live &= ~left;
  const __mmask8 in = which & inside;
  l.k = _mm256_mask_mov_epi32(l.k, in, level);
  l.i = _mm256_mask_mov_epi32(l.i, in, _mm256_srav_epi32(_mm512_cvttpd_epi32(qx), level));
  l.j = _mm256_mask_mov_epi32(l.j, in, _mm256_srav_epi32(_mm512_cvttpd_epi32(qy), level));
}

// Everything Sees does before its march; lanes decided already leave `live`.
ORTAVIA_LANES_INLINE Lanes Start(const SightSurface& s, const double* x, const double* y,
                                 double csx, double csy, double cz) {
  Lanes l;
  __m512d sx, sy;
  GroundToSample(s, _mm512_loadu_pd(x), _mm512_loadu_pd(y), sx, sy);
  __mmask8 known;
  l.z0 = HeightAt(s, sx, sy, known);
  l.seen = ~known;
  const __m512d centreZ = _mm512_set1_pd(cz);
  const __mmask8 below = known & ~_mm512_cmp_pd_mask(centreZ, l.z0, _CMP_GT_OQ);
  __mmask8 live = known & ~below;
  const __m512d half = _mm512_set1_pd(0.5);
  l.px = _mm512_add_pd(sx, half);
  l.py = _mm512_add_pd(sy, half);
  l.dx = _mm512_sub_pd(_mm512_set1_pd(csx), sx);
  l.dy = _mm512_sub_pd(_mm512_set1_pd(csy), sy);
  const __m512d span = _mm512_max_pd(_mm512_abs_pd(l.dx), _mm512_abs_pd(l.dy));
  const __mmask8 still = live & ~_mm512_cmp_pd_mask(span, _mm512_set1_pd(1e-9), _CMP_GT_OQ);
  l.seen |= still;
  live &= ~still;
  const __m512d zero = _mm512_setzero_pd(), one = _mm512_set1_pd(1.0);
  l.ix = _mm512_maskz_div_pd(_mm512_cmp_pd_mask(l.dx, zero, _CMP_NEQ_UQ), one, l.dx);
  l.iy = _mm512_maskz_div_pd(_mm512_cmp_pd_mask(l.dy, zero, _CMP_NEQ_UQ), one, l.dy);
  l.rise = _mm512_sub_pd(centreZ, l.z0);
  l.early = _mm512_div_pd(half, span);
  l.nudge = _mm512_mul_pd(_mm512_set1_pd(kSightNudge), _mm512_add_pd(l.early, l.early));
  const __m512d tol = _mm512_set1_pd(s.tolerance);
  const __m512d end = _mm512_min_pd(
      one,
      _mm512_add_pd(_mm512_div_pd(_mm512_sub_pd(_mm512_set1_pd(s.top + s.tolerance), l.z0), l.rise),
                    l.early));
  l.rightward = _mm512_cmp_pd_mask(l.dx, zero, _CMP_GT_OQ);
  l.leftward = _mm512_cmp_pd_mask(l.dx, zero, _CMP_LT_OQ);
  l.downward = _mm512_cmp_pd_mask(l.dy, zero, _CMP_GT_OQ);
  l.upward = _mm512_cmp_pd_mask(l.dy, zero, _CMP_LT_OQ);
  const __m256i minus = _mm256_set1_epi32(-1), plus = _mm256_set1_epi32(1);
  l.si = _mm256_mask_mov_epi32(minus, l.rightward, plus);
  l.sj = _mm256_mask_mov_epi32(minus, l.downward, plus);
  const __m256i ci = _mm512_cvttpd_epi32(l.px), cj = _mm512_cvttpd_epi32(l.py);
  l.t = _mm512_min_pd(AxisExit(l.px, l.rightward, l.leftward, l.ix, ci, one),
                      AxisExit(l.py, l.downward, l.upward, l.iy, cj, one));
  l.stop = end;
  if (s.ahead) {
    const __mmask8 inside = live & _mm512_cmp_pd_mask(l.px, zero, _CMP_GE_OQ) &
                            _mm512_cmp_pd_mask(l.py, zero, _CMP_GE_OQ) &
                            _mm512_cmp_pd_mask(l.px, _mm512_set1_pd(s.cols), _CMP_LT_OQ) &
                            _mm512_cmp_pd_mask(l.py, _mm512_set1_pd(s.rows), _CMP_LT_OQ);
    const __m128i shift = _mm_cvtsi32_si128(s.aheadLevel);
    const __m256i at = _mm256_add_epi32(
        _mm256_mullo_epi32(_mm256_sra_epi32(cj, shift), _mm256_set1_epi32(s.aheadStep)),
        _mm256_sra_epi32(ci, shift));
    const __m256 a = _mm256_mmask_i32gather_ps(_mm256_setzero_ps(), inside, at, s.ahead, 4);
    const __m512d aheadStop = _mm512_add_pd(
        _mm512_div_pd(_mm512_sub_pd(_mm512_add_pd(_mm512_cvtps_pd(a), tol), l.z0), l.rise),
        l.early);
    l.stop = _mm512_mask_mov_pd(end, inside, _mm512_min_pd(end, aheadStop));
  }
  l.k = l.i = l.j = _mm256_setzero_si256();
  const __mmask8 marching = live & _mm512_cmp_pd_mask(l.t, l.stop, _CMP_LT_OQ);
  l.seen |= live & ~marching;
  l.live = marching;
  Locate(s, l, marching, _mm256_set1_epi32(std::min(3, s.levels - 1)));
  return l;
}

// One step of every live line: down a level where its block stands above it, else on to the next
// block and up a level.
ORTAVIA_LANES_INLINE void Step(const SightSurface& s, Lanes& l) {
  const __m512d line = _mm512_add_pd(
      _mm512_add_pd(l.z0, _mm512_mul_pd(l.rise, _mm512_max_pd(_mm512_setzero_pd(),
                                                              _mm512_sub_pd(l.t, l.early)))),
      _mm512_set1_pd(s.tolerance));
  const __m512d sample = LevelSamples(s, l.live, l.k, l.i, l.j);
  const __mmask8 above = l.live & _mm512_cmp_pd_mask(sample, line, _CMP_GT_OQ);
  const __mmask8 ground = above & _mm256_cmpeq_epi32_mask(l.k, _mm256_setzero_si256());
  l.live &= ~ground;  // hidden
  const __mmask8 down = above & ~ground;
  const __mmask8 on = l.live & ~above;
  const __m256i one = _mm256_set1_epi32(1);
  Locate(s, l, down, _mm256_sub_epi32(l.k, one));

  const __m512d side = _mm512_cvtepi32_pd(_mm256_sllv_epi32(one, l.k));
  const __m512d ex = AxisExit(l.px, l.rightward, l.leftward, l.ix, l.i, side);
  const __m512d ey = AxisExit(l.py, l.downward, l.upward, l.iy, l.j, side);
  const __m256i i =
      _mm256_mask_add_epi32(l.i, on & _mm512_cmp_pd_mask(ex, ey, _CMP_LE_OQ), l.i, l.si);
  const __m256i j =
      _mm256_mask_add_epi32(l.j, on & _mm512_cmp_pd_mask(ey, ex, _CMP_LE_OQ), l.j, l.sj);
  l.t = _mm512_mask_mov_pd(l.t, on,
                           _mm512_max_pd(_mm512_min_pd(ex, ey), _mm512_add_pd(l.t, l.nudge)));
  const __m256i zeroi = _mm256_setzero_si256();
  const __mmask8 left =
      on & (_mm256_cmplt_epi32_mask(i, zeroi) | _mm256_cmplt_epi32_mask(j, zeroi) |
            _mm256_cmpge_epi32_mask(_mm256_sllv_epi32(i, l.k), _mm256_set1_epi32(s.cols)) |
            _mm256_cmpge_epi32_mask(_mm256_sllv_epi32(j, l.k), _mm256_set1_epi32(s.rows)));
  l.seen |= left;
  l.live &= ~left;
  const __mmask8 up = on & ~left & _mm256_cmplt_epi32_mask(l.k, _mm256_set1_epi32(s.levels - 1));
  l.i = _mm256_mask_mov_epi32(l.i, on, _mm256_mask_srai_epi32(i, up, i, 1));
  l.j = _mm256_mask_mov_epi32(l.j, on, _mm256_mask_srai_epi32(j, up, j, 1));
  l.k = _mm256_mask_add_epi32(l.k, up, l.k, one);
  // Lines past their stop are seen.
  const __mmask8 done = l.live & ~_mm512_cmp_pd_mask(l.t, l.stop, _CMP_LT_OQ);
  l.seen |= done;
  l.live &= ~done;
}

}  // namespace

template <int kGroups>
ORTAVIA_LANES_INLINE void SeesGroupsOf(const SightSurface& surface, const double* x,
                                       const double* y, double csx, double csy, double cz,
                                       std::uint8_t* seen) {
  Lanes l[kGroups];
  for (int g = 0; g < kGroups; ++g) l[g] = Start(surface, x + 8 * g, y + 8 * g, csx, csy, cz);
  for (bool any = true; any;) {
    any = false;
    for (int g = 0; g < kGroups; ++g)
      if (l[g].live) Step(surface, l[g]), any = true;
  }
  for (int g = 0; g < kGroups; ++g)
    for (int n = 0; n < 8; ++n) seen[8 * g + n] = (l[g].seen >> n) & 1;
}

ORTAVIA_LANES void SeesLanes(const SightSurface& surface, const double* x, const double* y,
                             int count, double csx, double csy, double cz, std::uint8_t* seen) {
  int n = 0;
  // Four sets of eight lines in turn: while one waits on memory the others go on.
  for (; n + 32 <= count; n += 32) SeesGroupsOf<4>(surface, x + n, y + n, csx, csy, cz, seen + n);
  for (; n + 8 <= count; n += 8) SeesGroupsOf<1>(surface, x + n, y + n, csx, csy, cz, seen + n);
  if (n == count) return;
  // The last few fill eight lanes by repeating the last point.
  double xs[8], ys[8];
  std::uint8_t out[8];
  for (int k = 0; k < 8; ++k)
    xs[k] = x[std::min(n + k, count - 1)], ys[k] = y[std::min(n + k, count - 1)];
  SeesGroupsOf<1>(surface, xs, ys, csx, csy, cz, out);
  for (int k = 0; n + k < count; ++k) seen[n + k] = out[k];
}

#else

bool SightLanesAvailable() { return false; }
void SeesLanes(const SightSurface&, const double*, const double*, int count, double, double, double,
               std::uint8_t* seen) {
  for (int n = 0; n < count; ++n) seen[n] = 0;
}

#endif

}  // namespace ortavia
