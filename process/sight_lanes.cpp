#include "process/sight_lanes.h"

#include <algorithm>
#include <cmath>

#include "model/project.h"

#if defined(__x86_64__)
// GCC 12 takes the deliberately undefined vectors inside the AVX-512 intrinsics for uninitialised;
// the vector types never cross a call (everything below is inlined into SeesLanes*).
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wpsabi"
#include <immintrin.h>
#endif

namespace ortavia {

#if defined(__x86_64__)

bool SightLanesAvailable() {
  static const bool available =
      __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl");
  return available;
}

bool SightLanesAvx2Available() {
  static const bool available = __builtin_cpu_supports("avx2");
  return available;
}

#define ORTAVIA_MARCH_INLINE inline __attribute__((always_inline))

// Eight lanes of AVX-512: the lane masks live in mask registers.
#pragma GCC push_options
#pragma GCC target("avx2,avx512f,avx512vl")
#pragma GCC optimize("fp-contract=off")
namespace avx512 {
namespace {

// The vocabulary of sight_march.inc; arithmetic, comparisons and shifts are the vector types' own
// operators.
struct Ops {
  static constexpr int kLanes = 8;
  static constexpr unsigned kAll = 0xFF;
  using D = __m512d;
  using I = std::int32_t __attribute__((vector_size(32)));

  static ORTAVIA_MARCH_INLINE D Set(double v) { return _mm512_set1_pd(v); }
  static ORTAVIA_MARCH_INLINE D Load(const double* p) { return _mm512_loadu_pd(p); }
  static ORTAVIA_MARCH_INLINE D Abs(D v) { return _mm512_abs_pd(v); }
  static ORTAVIA_MARCH_INLINE unsigned Gt(D a, D b) { return _mm512_cmp_pd_mask(a, b, _CMP_GT_OQ); }
  static ORTAVIA_MARCH_INLINE unsigned Ge(D a, D b) { return _mm512_cmp_pd_mask(a, b, _CMP_GE_OQ); }
  static ORTAVIA_MARCH_INLINE unsigned Lt(D a, D b) { return _mm512_cmp_pd_mask(a, b, _CMP_LT_OQ); }
  static ORTAVIA_MARCH_INLINE unsigned Le(D a, D b) { return _mm512_cmp_pd_mask(a, b, _CMP_LE_OQ); }
  static ORTAVIA_MARCH_INLINE unsigned Ne(D a, D b) {
    return _mm512_cmp_pd_mask(a, b, _CMP_NEQ_UQ);
  }
  static ORTAVIA_MARCH_INLINE D Pick(unsigned m, D a, D otherwise) {
    return _mm512_mask_mov_pd(otherwise, static_cast<__mmask8>(m), a);
  }
  static ORTAVIA_MARCH_INLINE I Pick(unsigned m, I a, I otherwise) {
    return (I)_mm256_mask_mov_epi32((__m256i)otherwise, static_cast<__mmask8>(m), (__m256i)a);
  }
  static ORTAVIA_MARCH_INLINE I SetI(int v) { return I{} + v; }
  static ORTAVIA_MARCH_INLINE I MinI(I a, I b) { return a < b ? a : b; }
  static ORTAVIA_MARCH_INLINE unsigned LtI(I a, I b) {
    return _mm256_cmplt_epi32_mask((__m256i)a, (__m256i)b);
  }
  static ORTAVIA_MARCH_INLINE unsigned EqI(I a, I b) {
    return _mm256_cmpeq_epi32_mask((__m256i)a, (__m256i)b);
  }
  static ORTAVIA_MARCH_INLINE I Whole(D v) { return (I)_mm512_cvttpd_epi32(v); }
  static ORTAVIA_MARCH_INLINE D Real(I v) { return _mm512_cvtepi32_pd((__m256i)v); }

  // base[at] in the lanes of m, as doubles.
  static ORTAVIA_MARCH_INLINE D Samples(const float* base, unsigned m, I at) {
    return _mm512_cvtps_pd(_mm256_mmask_i32gather_ps(_mm256_setzero_ps(), static_cast<__mmask8>(m),
                                                     (__m256i)at, base, 4));
  }
  // Samples at and at + 1 of level 0 in the lanes of m, in one 8-byte load each; the lanes where
  // either is a hole.
  static ORTAVIA_MARCH_INLINE unsigned SamplePairs(const SightSurface& s, unsigned m, I at,
                                                   D& first, D& second) {
    const __m512i pairs =
        _mm512_mask_i32gather_epi64(_mm512_setzero_si512(), static_cast<__mmask8>(m), (__m256i)at,
                                    reinterpret_cast<const void*>(s.level[0]), 4);
    const __m256 a = _mm256_castsi256_ps(_mm512_cvtepi64_epi32(pairs));
    const __m256 b = _mm256_castsi256_ps(_mm512_cvtepi64_epi32(_mm512_srli_epi64(pairs, 32)));
    first = _mm512_cvtps_pd(a), second = _mm512_cvtps_pd(b);
    const __m256 hole = _mm256_set1_ps(kNoHeight);
    return _mm256_cmp_ps_mask(a, hole, _CMP_EQ_OQ) | _mm256_cmp_ps_mask(b, hole, _CMP_EQ_OQ);
  }
  // The samples at (i, j) of the levels k in the lanes of m.
  static ORTAVIA_MARCH_INLINE D LevelSamples(const SightSurface& s, unsigned m, I k, I i, I j) {
    const __m512i base =
        _mm512_permutex2var_epi64(_mm512_loadu_si512(s.level), _mm512_cvtepi32_epi64((__m256i)k),
                                  _mm512_loadu_si512(s.level + 8));
    const I step = (I)_mm512_castsi512_si256(
        _mm512_permutexvar_epi32(_mm512_castsi256_si512((__m256i)k), _mm512_loadu_si512(s.step)));
    const I at = j * step + i;
    const __m512i address =
        _mm512_add_epi64(base, _mm512_slli_epi64(_mm512_cvtepi32_epi64((__m256i)at), 2));
    return _mm512_cvtps_pd(_mm512_mask_i64gather_ps(_mm256_setzero_ps(), static_cast<__mmask8>(m),
                                                    address, nullptr, 1));
  }
};

#include "process/sight_march.inc"

}  // namespace

}  // namespace avx512
#pragma GCC pop_options

// Four lanes of AVX2: no mask registers, so the lane masks are bits, turned into a blend mask
// where a value is chosen.
#pragma GCC push_options
#pragma GCC target("avx2")
#pragma GCC optimize("fp-contract=off")
namespace avx2 {
namespace {

alignas(32) constexpr std::int64_t kWide[16][4] = {
    {0, 0, 0, 0},   {-1, 0, 0, 0},   {0, -1, 0, 0},   {-1, -1, 0, 0},
    {0, 0, -1, 0},  {-1, 0, -1, 0},  {0, -1, -1, 0},  {-1, -1, -1, 0},
    {0, 0, 0, -1},  {-1, 0, 0, -1},  {0, -1, 0, -1},  {-1, -1, 0, -1},
    {0, 0, -1, -1}, {-1, 0, -1, -1}, {0, -1, -1, -1}, {-1, -1, -1, -1}};
alignas(16) constexpr std::int32_t kNarrow[16][4] = {
    {0, 0, 0, 0},   {-1, 0, 0, 0},   {0, -1, 0, 0},   {-1, -1, 0, 0},
    {0, 0, -1, 0},  {-1, 0, -1, 0},  {0, -1, -1, 0},  {-1, -1, -1, 0},
    {0, 0, 0, -1},  {-1, 0, 0, -1},  {0, -1, 0, -1},  {-1, -1, 0, -1},
    {0, 0, -1, -1}, {-1, 0, -1, -1}, {0, -1, -1, -1}, {-1, -1, -1, -1}};

struct Ops {
  static constexpr int kLanes = 4;
  static constexpr unsigned kAll = 0xF;
  using D = __m256d;
  using I = std::int32_t __attribute__((vector_size(16)));

  static ORTAVIA_MARCH_INLINE unsigned Bits(D m) { return _mm256_movemask_pd(m); }
  static ORTAVIA_MARCH_INLINE unsigned Bits(I m) { return _mm_movemask_ps((__m128)m); }

  static ORTAVIA_MARCH_INLINE D Set(double v) { return _mm256_set1_pd(v); }
  static ORTAVIA_MARCH_INLINE D Load(const double* p) { return _mm256_loadu_pd(p); }

  static ORTAVIA_MARCH_INLINE D Abs(D v) { return _mm256_andnot_pd(_mm256_set1_pd(-0.0), v); }
  static ORTAVIA_MARCH_INLINE unsigned Gt(D a, D b) {
    return Bits(_mm256_cmp_pd(a, b, _CMP_GT_OQ));
  }
  static ORTAVIA_MARCH_INLINE unsigned Ge(D a, D b) {
    return Bits(_mm256_cmp_pd(a, b, _CMP_GE_OQ));
  }
  static ORTAVIA_MARCH_INLINE unsigned Lt(D a, D b) {
    return Bits(_mm256_cmp_pd(a, b, _CMP_LT_OQ));
  }
  static ORTAVIA_MARCH_INLINE unsigned Le(D a, D b) {
    return Bits(_mm256_cmp_pd(a, b, _CMP_LE_OQ));
  }
  static ORTAVIA_MARCH_INLINE unsigned Ne(D a, D b) {
    return Bits(_mm256_cmp_pd(a, b, _CMP_NEQ_UQ));
  }
  static ORTAVIA_MARCH_INLINE D Pick(unsigned m, D a, D otherwise) {
    const __m256i mask = _mm256_load_si256(reinterpret_cast<const __m256i*>(kWide[m & kAll]));
    return _mm256_blendv_pd(otherwise, a, _mm256_castsi256_pd(mask));
  }
  static ORTAVIA_MARCH_INLINE I Pick(unsigned m, I a, I otherwise) {
    return (I)_mm_blendv_epi8((__m128i)otherwise, (__m128i)a,
                              _mm_load_si128(reinterpret_cast<const __m128i*>(kNarrow[m & kAll])));
  }
  static ORTAVIA_MARCH_INLINE I SetI(int v) { return I{} + v; }
  static ORTAVIA_MARCH_INLINE I MinI(I a, I b) { return a < b ? a : b; }
  static ORTAVIA_MARCH_INLINE unsigned LtI(I a, I b) { return Bits(a < b); }
  static ORTAVIA_MARCH_INLINE unsigned EqI(I a, I b) { return Bits(a == b); }
  static ORTAVIA_MARCH_INLINE I Whole(D v) { return (I)_mm256_cvttpd_epi32(v); }
  static ORTAVIA_MARCH_INLINE D Real(I v) { return _mm256_cvtepi32_pd((__m128i)v); }

  // base[at] in the lanes of m, base[0] in the others, as doubles.
  static ORTAVIA_MARCH_INLINE D Samples(const float* base, unsigned m, I at) {
    return _mm256_cvtps_pd(_mm_i32gather_ps(base, (__m128i)Pick(m, at, SetI(0)), 4));
  }
  static ORTAVIA_MARCH_INLINE unsigned SamplePairs(const SightSurface& s, unsigned m, I at,
                                                   D& first, D& second) {
    const __m256i split = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
    const __m256i pairs = _mm256_permutevar8x32_epi32(
        _mm256_i32gather_epi64(reinterpret_cast<const long long*>(s.level[0]),
                               (__m128i)Pick(m, at, SetI(0)), 4),
        split);
    const __m128 a = _mm_castsi128_ps(_mm256_castsi256_si128(pairs));
    const __m128 b = _mm_castsi128_ps(_mm256_extracti128_si256(pairs, 1));
    first = _mm256_cvtps_pd(a), second = _mm256_cvtps_pd(b);
    const __m128 hole = _mm_set1_ps(kNoHeight);
    return _mm_movemask_ps(_mm_or_ps(_mm_cmpeq_ps(a, hole), _mm_cmpeq_ps(b, hole)));
  }
  // The samples at (i, j) of the levels k in the lanes of m; the others read sample 0 of level 0.
  static ORTAVIA_MARCH_INLINE D LevelSamples(const SightSurface& s, unsigned m, I k, I i, I j) {
    const I level = Pick(m, k, SetI(0));
    const I step = (I)_mm_i32gather_epi32(s.step, (__m128i)level, 4);
    const I at = Pick(m, j * step + i, SetI(0));
    const __m256i base =
        _mm256_i32gather_epi64(reinterpret_cast<const long long*>(s.level), (__m128i)level, 8);
    const __m256i address =
        _mm256_add_epi64(base, _mm256_slli_epi64(_mm256_cvtepi32_epi64((__m128i)at), 2));
    return _mm256_cvtps_pd(_mm256_i64gather_ps(nullptr, address, 1));
  }
};

#include "process/sight_march.inc"

}  // namespace

}  // namespace avx2
#pragma GCC pop_options

void SeesLanes(const SightSurface& surface, const double* x, const double* y, int count, double csx,
               double csy, double cz, std::uint8_t* seen) {
  avx512::SeesAll(surface, x, y, count, csx, csy, cz, seen);
}

void SeesLanesAvx2(const SightSurface& surface, const double* x, const double* y, int count,
                   double csx, double csy, double cz, std::uint8_t* seen) {
  avx2::SeesAll(surface, x, y, count, csx, csy, cz, seen);
}

#else

bool SightLanesAvailable() { return false; }
bool SightLanesAvx2Available() { return false; }
void SeesLanes(const SightSurface&, const double*, const double*, int count, double, double, double,
               std::uint8_t* seen) {
  for (int n = 0; n < count; ++n) seen[n] = 0;
}
void SeesLanesAvx2(const SightSurface&, const double*, const double*, int count, double, double,
                   double, std::uint8_t* seen) {
  for (int n = 0; n < count; ++n) seen[n] = 0;
}

#endif

}  // namespace ortavia
