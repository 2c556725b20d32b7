#include "process/square_warp.h"

#include <algorithm>
#include <array>
#include <climits>

#include <opencv2/core.hpp>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ortavia {
namespace {

constexpr int kFractionBits = 5;  // source positions in 1/32 pixel
constexpr int kFractions = 1 << kFractionBits;
constexpr int kWeightBits = 15;

// The four tap weights of each fraction pair (row fraction * 32 + column fraction), summing to
// 2^15: (1 - fy)(1 - fx), (1 - fy) fx, fy (1 - fx), fy fx.
using WeightTable = std::array<std::array<int, 4>, kFractions * kFractions>;
constexpr WeightTable MakeWeights() {
  WeightTable t{};
  constexpr int unit = (1 << kWeightBits) / (kFractions * kFractions);
  for (int fy = 0; fy < kFractions; ++fy)
    for (int fx = 0; fx < kFractions; ++fx)
      t[fy * kFractions + fx] = {(kFractions - fy) * (kFractions - fx) * unit,
                                 (kFractions - fy) * fx * unit, fy * (kFractions - fx) * unit,
                                 fy * fx * unit};
  return t;
}
constexpr WeightTable kWeights = MakeWeights();

#if defined(__SSE2__)
// The same weights over 32 (they are multiples of 32, so at most 1024), as 16-bit lanes paired
// for _mm_madd_epi16 with the top-left and bottom-left taps of channels 0..2 and channel 0 of the
// right taps, then with channels 1 and 2 of the right taps: (Σ S w + 2^14) >> 15 is
// (Σ S w / 32 + 2^9) >> 10 exactly.
struct PairedWeights {
  alignas(16) std::int16_t left[8], right[8];
};
using PairedTable = std::array<PairedWeights, kFractions * kFractions>;
constexpr PairedTable MakePairedWeights() {
  PairedTable t{};
  for (std::size_t i = 0; i < t.size(); ++i) {
    const auto w = kWeights[i];
    const auto v = [&](int k) { return static_cast<std::int16_t>(w[k] / 32); };
    t[i] = {{v(0), v(2), v(0), v(2), v(0), v(2), v(1), v(3)}, {v(1), v(3), v(1), v(3), 0, 0, 0, 0}};
  }
  return t;
}
constexpr PairedTable kPairedWeights = MakePairedWeights();

// One RGB pixel from its four taps: a (top left) and b (bottom left), each followed by its right
// neighbour. Reads a[0..7] and b[-2..5]: the rows below a and above b hold those bytes.
inline void BlendRgb(const uchar* a, const uchar* b, const PairedWeights& w, uchar* d) {
  std::uint64_t top, bottom;
  std::memcpy(&top, a, 8);
  std::memcpy(&bottom, b - 2, 8);
  const __m128i zero = _mm_setzero_si128();
  const __m128i t = _mm_unpacklo_epi8(_mm_cvtsi64_si128(static_cast<long long>(top)), zero);
  const __m128i u =
      _mm_unpacklo_epi8(_mm_cvtsi64_si128(static_cast<long long>(bottom >> 16)), zero);
  // lo: (a0,b0) (a1,b1) (a2,b2) (a3,b3); hi: (a4,b4) (a5,b5) ...
  const __m128i lo = _mm_madd_epi16(_mm_unpacklo_epi16(t, u),
                                    _mm_load_si128(reinterpret_cast<const __m128i*>(w.left)));
  const __m128i hi = _mm_madd_epi16(_mm_unpackhi_epi16(t, u),
                                    _mm_load_si128(reinterpret_cast<const __m128i*>(w.right)));
  // Channel k: lo[k] (left taps) + the right taps' lo[3], hi[0], hi[1].
  const __m128i right = _mm_or_si128(_mm_srli_si128(lo, 12), _mm_slli_si128(hi, 4));
  const __m128i sum =
      _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(lo, right), _mm_set1_epi32(512)), 10);
  const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(sum, zero), zero);
  const std::uint32_t rgb = static_cast<std::uint32_t>(_mm_cvtsi128_si32(bytes));
  std::memcpy(d, &rgb, 3);
}
#endif

// Source positions of one destination row in 1/32 pixel, as OpenCV computes them:
// round((X0 + M0 x) * 32 / W) with W = W0 + M6 x (0 where W is 0), clamped to int first.
void RowPositions(const double* M, double X0, double Y0, double W0, int n, int* X, int* Y) {
  int x1 = 0;
#if defined(__SSE2__)
  const __m128d m0 = _mm_set1_pd(M[0]), m3 = _mm_set1_pd(M[3]), m6 = _mm_set1_pd(M[6]);
  const __m128d x0 = _mm_set1_pd(X0), y0 = _mm_set1_pd(Y0), w0 = _mm_set1_pd(W0);
  const __m128d fractions = _mm_set1_pd(kFractions), zero = _mm_setzero_pd();
  const __m128d lo = _mm_set1_pd(INT_MIN), hi = _mm_set1_pd(INT_MAX);
  for (; x1 + 2 <= n; x1 += 2) {
    const __m128d x = _mm_set_pd(x1 + 1, x1);
    __m128d w = _mm_add_pd(w0, _mm_mul_pd(m6, x));
    w = _mm_andnot_pd(_mm_cmpeq_pd(w, zero), _mm_div_pd(fractions, w));
    const __m128d fx = _mm_mul_pd(_mm_add_pd(x0, _mm_mul_pd(m0, x)), w);
    const __m128d fy = _mm_mul_pd(_mm_add_pd(y0, _mm_mul_pd(m3, x)), w);
    const __m128i ix = _mm_cvtpd_epi32(_mm_max_pd(_mm_min_pd(fx, hi), lo));
    const __m128i iy = _mm_cvtpd_epi32(_mm_max_pd(_mm_min_pd(fy, hi), lo));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(X + x1), ix);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(Y + x1), iy);
  }
#endif
  for (; x1 < n; ++x1) {
    double W = W0 + M[6] * x1;
    W = W ? kFractions / W : 0;
    const double fX = std::max(static_cast<double>(INT_MIN),
                               std::min(static_cast<double>(INT_MAX), (X0 + M[0] * x1) * W));
    const double fY = std::max(static_cast<double>(INT_MIN),
                               std::min(static_cast<double>(INT_MAX), (Y0 + M[3] * x1) * W));
    X[x1] = cvRound(fX);
    Y[x1] = cvRound(fY);
  }
}

template <int cn>
void WarpRows(const cv::Mat& src, cv::Mat& dst, const double* M) {
  const int width = src.cols, height = src.rows;
  const std::size_t step = src.step[0];
  const uchar* s0 = src.ptr();
  constexpr int round = 1 << (kWeightBits - 1);
  for (int y = 0; y < dst.rows; ++y) {
    uchar* d = dst.ptr(y);
    const int x = 0;
    const double X0 = M[0] * x + M[1] * y + M[2];
    const double Y0 = M[3] * x + M[4] * y + M[5];
    const double W0 = M[6] * x + M[7] * y + M[8];
    int xs[64], ys[64];
    RowPositions(M, X0, Y0, W0, dst.cols, xs, ys);
    for (int x1 = 0; x1 < dst.cols; ++x1, d += cn) {
      const int X = xs[x1], Y = ys[x1];
      const int sx = cv::saturate_cast<short>(X >> kFractionBits);
      const int sy = cv::saturate_cast<short>(Y >> kFractionBits);
      const auto& w = kWeights[(Y & (kFractions - 1)) * kFractions + (X & (kFractions - 1))];
      if (sx >= 0 && sy >= 0 && sx + 1 < width && sy + 1 < height) {
        const uchar* a = s0 + sy * step + sx * cn;
        const uchar* b = a + step;
#if defined(__SSE2__)
        if constexpr (cn == 3) {
          BlendRgb(a, b, kPairedWeights[(Y & (kFractions - 1)) * kFractions + (X & (kFractions - 1))], d);
          continue;
        }
#endif
        // Weights and sums in registers: the stores below could alias anything read here.
        const int w0 = w[0], w1 = w[1], w2 = w[2], w3 = w[3];
        int sum[cn];
        for (int k = 0; k < cn; ++k)
          sum[k] = a[k] * w0 + a[k + cn] * w1 + b[k] * w2 + b[k + cn] * w3 + round;
        for (int k = 0; k < cn; ++k) d[k] = static_cast<uchar>(sum[k] >> kWeightBits);
        continue;
      }
      // At the edge a tap outside the source is the border value 0.
      int sum[cn] = {};
      for (int t = 0; t < 4; ++t) {
        const int tx = sx + (t & 1), ty = sy + (t >> 1);
        if (tx < 0 || ty < 0 || tx >= width || ty >= height) continue;
        const uchar* p = s0 + ty * step + tx * cn;
        for (int k = 0; k < cn; ++k) sum[k] += p[k] * w[t];
      }
      for (int k = 0; k < cn; ++k) d[k] = static_cast<uchar>((sum[k] + round) >> kWeightBits);
    }
  }
}

}  // namespace

bool WarpSquareLinear8u(const cv::Mat& src, cv::Mat& dst, const cv::Mat& forward) {
  const int cn = src.channels();
  if (src.depth() != CV_8U || (cn != 1 && cn != 3) || src.empty() || dst.type() != src.type() ||
      dst.empty() || dst.rows > 16 || dst.cols > 64 || forward.type() != CV_64FC1 ||
      forward.rows != 3 || forward.cols != 3)
    return false;
    // Up to 16 x 64 pixels OpenCV computes one block, every position from the row's start.
  // The inverse as cv::warpPerspective takes it: in place, by the default decomposition.
  double M[9];
  cv::Mat matM(3, 3, CV_64F, M);
  forward.copyTo(matM);
  cv::invert(matM, matM);
  if (cn == 1)
    WarpRows<1>(src, dst, M);
  else
    WarpRows<3>(src, dst, M);
  return true;
}

}  // namespace ortavia
