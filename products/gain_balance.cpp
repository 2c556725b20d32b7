#include "products/gain_balance.h"

#include <algorithm>
#include <cmath>

#include <Eigen/Sparse>
#include <Eigen/SparseCholesky>
#include <opencv2/imgproc.hpp>

namespace ortavia {
namespace {

std::uint64_t PairKey(int a, int b) {
  return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(a)) << 32) |
         static_cast<std::uint32_t>(b);
}

// Blocks are kept alike much more weakly than the overlaps decide them, but enough to carry a
// gain into blocks no other ortho sees.
constexpr double kBlockSmoothness = 0.1;

}  // namespace

std::vector<double> SolveGains(const GainProblem& p) {
  const int n = p.nodes, nb = p.bands;
  std::vector<double> gains(static_cast<size_t>(n) * nb, 1.0);
  if (n <= 0 || nb <= 0) return gains;
  std::vector<double> shared(n, 0.0);
  for (const auto& [key, s] : p.overlaps) {
    shared[key.first] += s.n;
    shared[key.second] += s.n;
  }
  double meanShared = 0.0;
  for (double s : shared) meanShared += s;
  meanShared = std::max(meanShared / n, 1.0);
  for (int b = 0; b < nb; ++b) {
    std::vector<Eigen::Triplet<double>> t;
    Eigen::VectorXd rhs = Eigen::VectorXd::Zero(n);
    std::vector<double> sums(n, 0.0);  // each node's samples in its overlaps, this band
    for (const auto& [key, s] : p.overlaps) {
      if (s.n <= 0.0) continue;
      sums[key.first] += s.a[b];
      sums[key.second] += s.b[b];
      const double mi = s.a[b] / s.n, mj = s.b[b] / s.n, mean = (mi + mj) / 2.0;
      if (!(mean > 0.0)) continue;
      const double c = s.n / (mean * mean);
      const int i = key.first, j = key.second;
      t.emplace_back(i, i, c * mi * mi);
      t.emplace_back(j, j, c * mj * mj);
      t.emplace_back(i, j, -c * mi * mj);
      t.emplace_back(j, i, -c * mi * mj);
    }
    for (int i = 0; i < n; ++i) {
      // A node that shares nothing still has a prior of one sample: the system stays regular.
      const double w = p.prior * std::max(shared[i], 1.0);
      t.emplace_back(i, i, w);
      rhs[i] += w;
    }
    const double ws = p.smoothWeight * meanShared;
    for (const auto& [i, j] : p.smooth) {
      t.emplace_back(i, i, ws);
      t.emplace_back(j, j, ws);
      t.emplace_back(i, j, -ws);
      t.emplace_back(j, i, -ws);
    }
    Eigen::SparseMatrix<double> a(n, n);
    a.setFromTriplets(t.begin(), t.end());
    Eigen::SimplicialLDLT<Eigen::SparseMatrix<double>> solver(a);
    if (solver.info() != Eigen::Success) continue;
    Eigen::VectorXd g = solver.solve(rhs);
    if (solver.info() != Eigen::Success) continue;
    // The prior pulls every gain towards 1 and so darkens or brightens the whole a little; one
    // common factor, which leaves every ratio as solved, restores the mean brightness exactly.
    double before = 0.0, after = 0.0;
    for (int i = 0; i < n; ++i) {
      before += sums[i];
      after += g[i] * sums[i];
    }
    if (before > 0.0 && after > 0.0) g *= before / after;
    for (int i = 0; i < n; ++i)
      if (std::isfinite(g[i]) && g[i] > 0.0) gains[static_cast<size_t>(i) * nb + b] = g[i];
  }
  return gains;
}

GainField BlockLayout(int ox0, int oy0, int width, int height) {
  GainField f;
  f.ox0 = ox0;
  f.oy0 = oy0;
  f.blockPx = std::max(64.0, std::ceil(std::max(width, height) / 12.0));
  f.nx = std::max(1, static_cast<int>(std::ceil(width / f.blockPx)));
  f.ny = std::max(1, static_cast<int>(std::ceil(height / f.blockPx)));
  return f;
}

bool IsUnitGain(const GainField& f, int bands) {
  if (!f.factor.empty()) return false;
  for (int b = 0; b < bands; ++b)
    if (f.gain[b] != 1.0) return false;
  return true;
}

namespace {

// The field is bilinear between block centres (ox0 + (k + 0.5) * blockPx, pixel x's centre at
// x + 0.5), at least 64 pixels apart: sampled every kGainStep pixels and interpolated linearly in
// between, it departs from the exact field by at most 1/64 of its change from one block to the
// next, and only beside the block centres.
constexpr int kGainStep = 4;

// The field's samples around rect, on multiples of kGainStep of the mosaic grid (so that a
// pixel's gain does not depend on the rectangle asked for), global gains included; origin: the
// mosaic pixel of sample (0, 0).
cv::Mat GainSamples(const GainField& f, const cv::Rect& rect, int bands, cv::Point* origin) {
  const int x0 = rect.x - ((rect.x % kGainStep) + kGainStep) % kGainStep;
  const int y0 = rect.y - ((rect.y % kGainStep) + kGainStep) % kGainStep;
  *origin = {x0, y0};
  const int sw = (rect.br().x - x0) / kGainStep + 2, sh = (rect.br().y - y0) / kGainStep + 2;
  const auto axis = [](double u, int n, int* i0, int* i1, double* t) {
    u = std::clamp(u, 0.0, static_cast<double>(n - 1));
    *i0 = static_cast<int>(std::floor(u));
    *i1 = std::min(*i0 + 1, n - 1);
    *t = u - *i0;
  };
  // The block columns and weights of each sample column, the same on every row.
  std::vector<int> ci0(sw), ci1(sw);
  std::vector<double> ctu(sw);
  for (int c = 0; c < sw; ++c)
    axis((x0 + c * kGainStep + 0.5 - f.ox0) / f.blockPx - 0.5, f.nx, &ci0[c], &ci1[c], &ctu[c]);
  cv::Mat coarse(sh, sw, CV_32FC(bands));
  for (int r = 0; r < sh; ++r) {
    int j0, j1;
    double tv;
    axis((y0 + r * kGainStep + 0.5 - f.oy0) / f.blockPx - 0.5, f.ny, &j0, &j1, &tv);
    float* out = coarse.ptr<float>(r);
    for (int c = 0; c < sw; ++c) {
      const int i0 = ci0[c], i1 = ci1[c];
      const double tu = ctu[c];
      const auto at = [&](int j, int i, int b) {
        return static_cast<double>(f.factor[(static_cast<size_t>(j) * f.nx + i) * bands + b]);
      };
      for (int b = 0; b < bands; ++b) {
        const double top = at(j0, i0, b) * (1 - tu) + at(j0, i1, b) * tu;
        const double bottom = at(j1, i0, b) * (1 - tu) + at(j1, i1, b) * tu;
        out[c * bands + b] = static_cast<float>((top * (1 - tv) + bottom * tv) * f.gain[b]);
      }
    }
  }
  return coarse;
}

// Samples times the gains of line, from pixel dx of it on: linear between the field's samples,
// kGainStep pixels apart.
template <typename T, int N>
void MultiplyRun(const float* line, int dx, int n, const T* s, float* v) {
  static_assert(kGainStep == 4);
  constexpr float kShare[kGainStep] = {0.0f, 0.25f, 0.5f, 0.75f};
  int c = 0;
  // Up to the next sample column one by one, then whole steps.
  for (; c < n && (dx + c) % kGainStep != 0; ++c) {
    const float* g = line + ((dx + c) / kGainStep) * N;
    const float tu = kShare[(dx + c) % kGainStep];
    for (int b = 0; b < N; ++b) v[c * N + b] = static_cast<float>(s[c * N + b]) * (g[b] + (g[b + N] - g[b]) * tu);
  }
  for (; c + kGainStep <= n; c += kGainStep) {
    // The gains of the step's samples in their order, then one product per sample.
    const float* g = line + ((dx + c) / kGainStep) * N;
    float gains[kGainStep * N];
    for (int k = 0; k < kGainStep; ++k)
      for (int b = 0; b < N; ++b) gains[k * N + b] = g[b] + (g[b + N] - g[b]) * kShare[k];
    const T* sk = s + c * N;
    float* vk = v + c * N;
    for (int j = 0; j < kGainStep * N; ++j) vk[j] = static_cast<float>(sk[j]) * gains[j];
  }
  for (; c < n; ++c) {
    const float* g = line + ((dx + c) / kGainStep) * N;
    const float tu = kShare[(dx + c) % kGainStep];
    for (int b = 0; b < N; ++b) v[c * N + b] = static_cast<float>(s[c * N + b]) * (g[b] + (g[b + N] - g[b]) * tu);
  }
}

template <typename T>
void MultiplyBands(int bands, const float* line, int dx, int n, const uchar* s, float* v) {
  const T* t = reinterpret_cast<const T*>(s);
  switch (bands) {
    case 1: MultiplyRun<T, 1>(line, dx, n, t, v); break;
    case 2: MultiplyRun<T, 2>(line, dx, n, t, v); break;
    case 3: MultiplyRun<T, 3>(line, dx, n, t, v); break;
    default: MultiplyRun<T, 4>(line, dx, n, t, v); break;
  }
}

}  // namespace

GainRows::GainRows(const GainField& f, const cv::Rect& rect, int bands) : bands_(bands) {
  if (!f.factor.empty()) {
    coarse_ = GainSamples(f, rect, bands, &origin_);
    return;
  }
  // One gain per band: the same samples everywhere.
  origin_ = {rect.x - ((rect.x % kGainStep) + kGainStep) % kGainStep,
             rect.y - ((rect.y % kGainStep) + kGainStep) % kGainStep};
  coarse_.create((rect.br().y - origin_.y) / kGainStep + 2, (rect.br().x - origin_.x) / kGainStep + 2,
                 CV_32FC(bands));
  cv::Scalar global;
  for (int b = 0; b < bands; ++b) global[b] = static_cast<float>(f.gain[b]);
  coarse_.setTo(global);
}

void GainRows::Apply(int y, int x0, int n, const uchar* samples, int depth, float* out) {
  if (n <= 0) return;
  // Row y of the field at the sample columns the run reaches.
  constexpr float kStepShare = 1.0f / kGainStep;
  const int dy = y - origin_.y, dx = x0 - origin_.x;
  const int first = dx / kGainStep, last = (dx + n - 1) / kGainStep + 1;
  const float* top = coarse_.ptr<float>(dy / kGainStep) + first * bands_;
  const float* bottom = coarse_.ptr<float>(dy / kGainStep + 1) + first * bands_;
  const float tv = static_cast<float>(dy % kGainStep) * kStepShare;
  line_.resize(static_cast<size_t>(last - first + 1) * bands_);
  for (size_t i = 0; i < line_.size(); ++i) line_[i] = top[i] + (bottom[i] - top[i]) * tv;
  const int from = dx - first * kGainStep;
  switch (depth) {
    case CV_8U: MultiplyBands<uchar>(bands_, line_.data(), from, n, samples, out); break;
    case CV_16U: MultiplyBands<ushort>(bands_, line_.data(), from, n, samples, out); break;
    case CV_16S: MultiplyBands<short>(bands_, line_.data(), from, n, samples, out); break;
    default: MultiplyBands<float>(bands_, line_.data(), from, n, samples, out); break;
  }
}

void ApplyGain(const GainField& f, const cv::Rect& rect, const cv::Mat& samples, cv::Mat& values) {
  GainRows rows(f, rect, samples.channels());
  cv::Mat out(samples.size(), CV_32FC(samples.channels()));
  for (int r = 0; r < samples.rows; ++r)
    rows.Apply(rect.y + r, rect.x, samples.cols, samples.ptr(r), samples.depth(), out.ptr<float>(r));
  values = out;
}

void ApplyGain(const GainField& f, const cv::Rect& rect, cv::Mat& values) {
  ApplyGain(f, rect, values, values);
}

cv::Mat GainImage(const GainField& f, const cv::Rect& rect, int bands) {
  cv::Mat out(rect.size(), CV_32FC(bands), cv::Scalar::all(1.0));
  ApplyGain(f, rect, out);
  return out;
}

BalanceAccumulator::BalanceAccumulator(std::vector<GainField> layouts, int bands)
    : layouts_(std::move(layouts)), bands_(bands) {
  int next = 0;
  for (const GainField& f : layouts_) {
    firstNode_.push_back(next);
    next += f.nx * f.ny;
  }
  firstNode_.push_back(next);
}

int BalanceAccumulator::Node(int source, int x, int y) const {
  const GainField& f = layouts_[source];
  const int bx = std::clamp(static_cast<int>(std::floor((x - f.ox0) / f.blockPx)), 0, f.nx - 1);
  const int by = std::clamp(static_cast<int>(std::floor((y - f.oy0) / f.blockPx)), 0, f.ny - 1);
  return firstNode_[source] + by * f.nx + bx;
}

void BalanceAccumulator::Add(const std::vector<int>& sources, const std::vector<cv::Mat>& values,
                             const std::vector<cv::Mat>& valid, cv::Point origin, int step) {
  const int k = static_cast<int>(sources.size());
  if (k == 0) return;
  const int rows = valid[0].rows, cols = valid[0].cols;
  std::vector<int> here;
  std::vector<int> node(k);
  for (int v = 0; v < rows; ++v) {
    for (int u = 0; u < cols; ++u) {
      here.clear();
      for (int s = 0; s < k; ++s)
        if (valid[s].at<uchar>(v, u)) here.push_back(s);
      maxDepth_ = std::max(maxDepth_, static_cast<int>(here.size()));
      const int x = origin.x + u * step, y = origin.y + v * step;
      for (int s : here) {
        const float* px = values[s].ptr<float>(v) + u * bands_;
        for (int b = 0; b < bands_; ++b) sum_ += px[b];
        count_ += bands_;
        node[s] = Node(sources[s], x, y);
      }
      for (size_t p = 0; p < here.size(); ++p) {
        for (size_t q = p + 1; q < here.size(); ++q) {
          int s = here[p], t = here[q];
          if (sources[s] > sources[t]) std::swap(s, t);
          const float* ps = values[s].ptr<float>(v) + u * bands_;
          const float* pt = values[t].ptr<float>(v) + u * bands_;
          // Neighbouring samples mostly share their pair of blocks: the sums found last serve.
          const std::uint64_t key = PairKey(node[s], node[t]);
          if (key != lastKey_) {
            lastKey_ = key;
            lastImages_ = &images_[{sources[s], sources[t]}];
            lastBlocks_ = &blocks_[key];
          }
          OverlapSums& g = *lastImages_;
          OverlapSums& l = *lastBlocks_;
          g.n += 1.0;
          l.n += 1.0;
          for (int b = 0; b < bands_; ++b) {
            g.a[b] += ps[b];
            g.b[b] += pt[b];
            l.a[b] += ps[b];
            l.b[b] += pt[b];
          }
        }
      }
    }
  }
}

std::vector<GainField> BalanceAccumulator::Solve(MosaicBalance mode) const {
  std::vector<GainField> fields = layouts_;
  if (mode == MosaicBalance::None) return fields;
  GainProblem global;
  global.nodes = static_cast<int>(layouts_.size());
  global.bands = bands_;
  global.overlaps = images_;
  const std::vector<double> g = SolveGains(global);
  for (size_t i = 0; i < fields.size(); ++i)
    for (int b = 0; b < bands_; ++b) fields[i].gain[b] = g[i * bands_ + b];
  if (mode != MosaicBalance::Blocks) return fields;

  // The blocks correct what the global gains leave: their sums are taken through those gains.
  std::vector<int> sourceOf(firstNode_.back());
  for (size_t s = 0; s + 1 < firstNode_.size(); ++s)
    std::fill(sourceOf.begin() + firstNode_[s], sourceOf.begin() + firstNode_[s + 1],
              static_cast<int>(s));
  GainProblem local;
  local.nodes = firstNode_.back();
  local.bands = bands_;
  local.smoothWeight = kBlockSmoothness;
  for (const auto& [key, sums] : blocks_) {
    const int a = static_cast<int>(key >> 32), b = static_cast<int>(key & 0xffffffffu);
    OverlapSums s = sums;
    for (int c = 0; c < bands_; ++c) {
      s.a[c] *= fields[sourceOf[a]].gain[c];
      s.b[c] *= fields[sourceOf[b]].gain[c];
    }
    if (a < b) {
      local.overlaps[{a, b}] = s;
    } else {
      std::swap(s.a, s.b);
      local.overlaps[{b, a}] = s;
    }
  }
  for (size_t s = 0; s < layouts_.size(); ++s) {
    const GainField& f = layouts_[s];
    for (int y = 0; y < f.ny; ++y)
      for (int x = 0; x < f.nx; ++x) {
        const int id = firstNode_[s] + y * f.nx + x;
        if (x + 1 < f.nx) local.smooth.emplace_back(id, id + 1);
        if (y + 1 < f.ny) local.smooth.emplace_back(id, id + f.nx);
      }
  }
  const std::vector<double> f = SolveGains(local);
  for (size_t s = 0; s < fields.size(); ++s) {
    const int count = fields[s].nx * fields[s].ny;
    fields[s].factor.resize(static_cast<size_t>(count) * bands_);
    for (int i = 0; i < count; ++i)
      for (int b = 0; b < bands_; ++b)
        fields[s].factor[static_cast<size_t>(i) * bands_ + b] =
            static_cast<float>(f[static_cast<size_t>(firstNode_[s] + i) * bands_ + b]);
  }
  return fields;
}

}  // namespace ortavia
