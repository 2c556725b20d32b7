#include "products/seamline.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

#include <opencv2/imgproc.hpp>
#include <opencv2/imgproc/detail/gcgraph.hpp>

namespace ortavia {
namespace {

constexpr float kEpsilon = 0.01f;   // per cut edge: the seam's length
constexpr float kOutside = 1.0f;    // cost of a pixel only one of the two orthos has
constexpr float kGradient = 0.5f;   // weight of flatness against agreement
// The graph takes whole capacities (a cut edge's cost in thousandths): the max-flow then needs far
// fewer augmenting paths than with fractions, each carrying at least one unit.
constexpr float kUnits = 1000.0f;
constexpr int kFixed = 1 << 28;

int Capacity(float cost) { return static_cast<int>(std::min(cost * kUnits + 0.5f, 1e6f)); }

// Index into ids of an ortho, -1 when not read.
int IndexOf(const std::vector<int>& ids, int ortho) {
  const auto it = std::find(ids.begin(), ids.end(), ortho);
  return it == ids.end() ? -1 : static_cast<int>(it - ids.begin());
}

class PairCost {
 public:
  PairCost(const SeamChunk& in, int a, int b) : in_(in), a_(a), b_(b) {
    bands_ = in.values[a].channels();
  }
  // Cost of mosaic pixel (x, y), which lies inside workRect.
  float operator()(int x, int y) const {
    const int c = x - in_.workRect.x, r = y - in_.workRect.y;
    if (!in_.valid[a_].at<uchar>(r, c) || !in_.valid[b_].at<uchar>(r, c)) return kOutside;
    const float* pa = in_.values[a_].ptr<float>(r) + c * bands_;
    const float* pb = in_.values[b_].ptr<float>(r) + c * bands_;
    float diff = 0.0f;
    for (int k = 0; k < bands_; ++k) diff += std::abs(pa[k] - pb[k]);
    const float grad = Gradient(a_, r, c) + Gradient(b_, r, c);
    return (diff / bands_ + kGradient * grad) / static_cast<float>(in_.level);
  }

 private:
  float Gradient(int i, int r, int c) const {
    const cv::Mat& v = in_.values[i];
    const cv::Mat& ok = in_.valid[i];
    const float* p = v.ptr<float>(r) + c * bands_;
    float g = 0.0f;
    if (c + 1 < v.cols && ok.at<uchar>(r, c + 1)) {
      const float* q = p + bands_;
      for (int k = 0; k < bands_; ++k) g += std::abs(q[k] - p[k]);
    }
    if (r + 1 < v.rows && ok.at<uchar>(r + 1, c)) {
      const float* q = v.ptr<float>(r + 1) + c * bands_;
      for (int k = 0; k < bands_; ++k) g += std::abs(q[k] - p[k]);
    }
    return g / bands_;
  }
  const SeamChunk& in_;
  int a_, b_, bands_;
};

// For each chunk pixel of an owner, the nearest other owner within the band: the pair whose seam
// may take the pixel. CV_32S, -1 outside every band; best: the distance to that owner's cells.
cv::Mat NearestForeign(const SeamChunk& in, cv::Mat& best) {
  const cv::Rect inOwner = in.chunk - in.ownerRect.tl();
  best.create(in.chunk.size(), CV_32F);
  best.setTo(std::numeric_limits<float>::max());
  cv::Mat who(in.chunk.size(), CV_32S, cv::Scalar(-1));
  const cv::Mat owner = in.owner(inOwner);
  for (int id : in.ids) {
    const cv::Mat notX = in.owner != id;
    if (cv::countNonZero(notX) == static_cast<int>(notX.total())) continue;
    cv::Mat dist;
    cv::distanceTransform(notX, dist, cv::DIST_L2, cv::DIST_MASK_5);
    const cv::Mat d = dist(inOwner);
    for (int r = 0; r < d.rows; ++r) {
      const float* dr = d.ptr<float>(r);
      const int* o = owner.ptr<int>(r);
      float* b = best.ptr<float>(r);
      int* w = who.ptr<int>(r);
      for (int c = 0; c < d.cols; ++c)
        if (o[c] >= 0 && o[c] != id && dr[c] <= in.band && dr[c] < b[c]) {
          b[c] = dr[c];
          w[c] = id;
        }
    }
  }
  return who;
}

// The label of a neighbour outside the pair's nodes, -2 when not known yet.
int NeighbourLabel(const SeamChunk& in, const cv::Mat& base, int x, int y) {
  const cv::Rect& ch = in.chunk;
  if (ch.contains({x, y})) return base.at<int>(y - ch.y, x - ch.x);
  if (y == ch.y - 1 && x >= ch.x && x < ch.br().x) return in.above[x - ch.x];
  if (x == ch.x - 1 && y >= ch.y && y < ch.br().y) return in.left[y - ch.y];
  return -2;
}

void SolvePair(const SeamChunk& in, int a, int b, const std::vector<cv::Point>& band,
               const cv::Mat& base, const cv::Mat& distance, cv::Mat& labels) {
  const int ia = IndexOf(in.ids, a), ib = IndexOf(in.ids, b);
  if (ia < 0 || ib < 0) return;
  const PairCost cost(in, ia, ib);
  const auto validAt = [&](int i, cv::Point p) {
    return in.valid[i].at<uchar>(p - in.workRect.tl()) != 0;
  };
  // Pixels neither ortho has keep their base label.
  std::vector<cv::Point> pixels;
  for (const cv::Point& p : band)
    if (validAt(ia, p) || validAt(ib, p)) pixels.push_back(p);
  if (pixels.empty()) return;
  cv::Mat node(in.chunk.size(), CV_32S, cv::Scalar(-1));
  cv::detail::GCGraph<int> graph(static_cast<unsigned>(pixels.size()),
                                   static_cast<unsigned>(pixels.size() * 4));
  std::vector<float> own(pixels.size());
  for (size_t i = 0; i < pixels.size(); ++i) {
    node.at<int>(pixels[i] - in.chunk.tl()) = graph.addVtx();
    own[i] = cost(pixels[i].x, pixels[i].y);
  }
  static const cv::Point kSteps[4] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
  for (size_t i = 0; i < pixels.size(); ++i) {
    const cv::Point p = pixels[i];
    int toA = 0, toB = 0;
    const bool hasA = validAt(ia, p), hasB = validAt(ib, p);
    if (!hasB) toA = kFixed;
    if (!hasA) toB = kFixed;
    const float dp = distance.at<float>(p - in.chunk.tl());
    for (int s = 0; s < 4; ++s) {
      const cv::Point q = p + kSteps[s];
      const int nq = in.chunk.contains(q) ? node.at<int>(q - in.chunk.tl()) : -1;
      if (nq >= 0) {
        // Off the Voronoi line a cut costs up to twice as much length: where all is alike the
        // seam stays on the line.
        const float dq = distance.at<float>(q - in.chunk.tl());
        const float length = kEpsilon * (1.0f + (dp + dq) / (2.0f * in.band));
        const int w = Capacity(own[i] + own[nq] + length);
        if (s < 2) graph.addEdges(static_cast<int>(i), nq, w, w);
        continue;
      }
      // Labels fixed around the band (its outer edges, the chunks done before) hold: the seam
      // stays inside the band and runs on from where it reached this chunk.
      const int label = NeighbourLabel(in, base, q.x, q.y);
      if (label == a) toA = kFixed;
      if (label == b) toB = kFixed;
    }
    graph.addTermWeights(static_cast<int>(i), toA, toB);
  }
  graph.maxFlow();
  for (size_t i = 0; i < pixels.size(); ++i)
    labels.at<int>(pixels[i] - in.chunk.tl()) =
        graph.inSourceSegment(static_cast<int>(i)) ? a : b;
}

}  // namespace

cv::Mat BaseLabels(const SeamChunk& in, const cv::Rect& rect) {
  cv::Mat labels(rect.size(), CV_32S, cv::Scalar(-1));
  std::vector<int> index(in.ids.size());
  for (int r = 0; r < rect.height; ++r) {
    const int y = rect.y + r;
    const int* o = in.owner.ptr<int>(y - in.ownerRect.y) + (rect.x - in.ownerRect.x);
    int* out = labels.ptr<int>(r);
    const int wr = y - in.workRect.y, wc0 = rect.x - in.workRect.x;
    for (int c = 0; c < rect.width; ++c) {
      const int i = o[c] >= 0 ? IndexOf(in.ids, o[c]) : -1;
      if (i >= 0 && in.valid[i].at<uchar>(wr, wc0 + c)) {
        out[c] = o[c];
        continue;
      }
      for (size_t k = 0; k < in.ids.size(); ++k)
        if (in.valid[k].at<uchar>(wr, wc0 + c)) {
          out[c] = in.ids[k];
          break;
        }
    }
  }
  return labels;
}

cv::Mat SeamLabels(const SeamChunk& in) {
  cv::Mat labels = BaseLabels(in, in.chunk);
  if (in.band <= 0 || in.ids.size() < 2) return labels;
  const cv::Mat base = labels.clone();
  cv::Mat distance;
  const cv::Mat foreign = NearestForeign(in, distance);
  const cv::Mat owner = in.owner(in.chunk - in.ownerRect.tl());
  std::map<std::pair<int, int>, std::vector<cv::Point>> pairs;
  for (int r = 0; r < foreign.rows; ++r)
    for (int c = 0; c < foreign.cols; ++c) {
      const int f = foreign.at<int>(r, c);
      if (f < 0) continue;
      const int o = owner.at<int>(r, c);
      pairs[{std::min(o, f), std::max(o, f)}].push_back(in.chunk.tl() + cv::Point(c, r));
    }
  for (const auto& [key, pixels] : pairs)
    SolvePair(in, key.first, key.second, pixels, base, distance, labels);
  return labels;
}

}  // namespace ortavia
