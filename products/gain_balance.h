#pragma once
// Exposure balancing of the mosaic: one gain per image and band, solved by least squares over
// the overlaps of neighbouring orthos, and a smooth per-image field of block gains on top of it
// for the fall-off towards the corners.
//
// Both stages solve the same problem over "nodes" (images, or blocks of images): minimise
//   sum over overlaps  n_ij * ((g_i * m_i - g_j * m_j) / ((m_i + m_j) / 2))^2
// + prior * sum over nodes  N_i * (1 - g_i)^2            (N_i: samples node i shares)
// + smooth * mean(N) * sum over neighbouring blocks  (g_p - g_q)^2
// where m_i, m_j are the two nodes' means over the samples they share. The overlaps decide the
// ratios; the weak prior makes the solution unique, and one common factor then restores the
// brightness of all shared samples together (sum of g_i times node i's samples = their sum).
#include <cstdint>
#include <map>
#include <unordered_map>
#include <utility>
#include <vector>

#include <opencv2/core/mat.hpp>

#include "products/mosaic_options.h"

namespace ortavia {

inline constexpr int kMaxMosaicBands = 4;

// What two nodes share: the sample count and, per band, the sum of each one's samples.
struct OverlapSums {
  double n = 0.0;
  double a[kMaxMosaicBands] = {};  // first node's sums
  double b[kMaxMosaicBands] = {};  // second node's sums
};

struct GainProblem {
  int nodes = 0;
  int bands = 1;
  std::map<std::pair<int, int>, OverlapSums> overlaps;  // key (i, j) with i < j; a are i's sums
  std::vector<std::pair<int, int>> smooth;              // neighbouring blocks of one image
  double prior = 1e-3;
  double smoothWeight = 0.0;
};

// The gains, node-major: gains[node * bands + band]. Nodes without any overlap keep 1.
std::vector<double> SolveGains(const GainProblem& problem);

// The gains of one ortho over the mosaic grid: a global gain per band times a field of block
// factors, bilinear between block centres and constant beyond the outer ones.
struct GainField {
  double gain[kMaxMosaicBands] = {1.0, 1.0, 1.0, 1.0};
  int ox0 = 0, oy0 = 0;  // the ortho's placement on the mosaic grid
  double blockPx = 1.0;
  int nx = 1, ny = 1;
  std::vector<float> factor;  // ny * nx * bands, row-major; empty: all 1
};

// The block grid of an ortho of width x height pixels at (ox0, oy0): about 12 blocks along its
// longer side, none below 64 pixels.
GainField BlockLayout(int ox0, int oy0, int width, int height);

// Whether every gain of the field is 1.
bool IsUnitGain(const GainField& field, int bands);

// Gains of mosaic pixels rect, CV_32FC(bands).
cv::Mat GainImage(const GainField& field, const cv::Rect& rect, int bands);

// The gains of one field over a rectangle of the mosaic, applied row by row; a pixel's balanced
// value does not depend on the rectangle or the run it is asked in.
class GainRows {
 public:
  GainRows(const GainField& field, const cv::Rect& rect, int bands);
  // Mosaic pixels x0 .. x0 + n - 1 of row y (inside rect): samples of depth CV_8U, CV_16U,
  // CV_16S or CV_32F, bands interleaved, times the gains, into out.
  void Apply(int y, int x0, int n, const uchar* samples, int depth, float* out);

 private:
  cv::Mat coarse_;  // the field's samples every few pixels, from origin_
  cv::Point origin_;
  int bands_;
  std::vector<float> line_;  // the row asked for at the sample columns
};

// values (CV_32FC(bands) over mosaic pixels rect, bands up to kMaxMosaicBands) times the gains.
void ApplyGain(const GainField& field, const cv::Rect& rect, cv::Mat& values);
// The same from samples of any of CV_8U, CV_16U, CV_16S, CV_32F into floats.
void ApplyGain(const GainField& field, const cv::Rect& rect, const cv::Mat& samples,
               cv::Mat& values);

// Collects the overlaps of the orthos, tile by tile on a coarse grid, and solves the fields.
class BalanceAccumulator {
 public:
  BalanceAccumulator(std::vector<GainField> layouts, int bands);

  // One coarse tile: sample (u, v) of values[k] (CV_32FC(bands)) and valid[k] (CV_8U) stands for
  // mosaic pixel (origin.x + u * step, origin.y + v * step) of ortho sources[k].
  void Add(const std::vector<int>& sources, const std::vector<cv::Mat>& values,
           const std::vector<cv::Mat>& valid, cv::Point origin, int step);

  // The fields: gains only (Gain), gains and blocks (Blocks), all 1 (None).
  std::vector<GainField> Solve(MosaicBalance mode) const;

  // Mean sample value over every valid sample seen (for scaling seam costs); 0 before any.
  double MeanLevel() const { return count_ > 0 ? sum_ / count_ : 0.0; }
  // Most orthos seen at one sample.
  int MaxDepth() const { return maxDepth_; }

 private:
  int Node(int source, int x, int y) const;
  std::vector<GainField> layouts_;
  std::vector<int> firstNode_;
  int bands_;
  std::map<std::pair<int, int>, OverlapSums> images_;
  std::unordered_map<std::uint64_t, OverlapSums> blocks_;
  std::uint64_t lastKey_ = ~std::uint64_t{0};  // the block pair of the sums below
  OverlapSums* lastImages_ = nullptr;
  OverlapSums* lastBlocks_ = nullptr;
  double sum_ = 0.0, count_ = 0.0;
  int maxDepth_ = 0;
};

}  // namespace ortavia
