#include "products/seamline.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

#include <opencv2/imgproc.hpp>

namespace ortavia {
namespace {

constexpr float kEpsilon = 0.01f;   // per cut edge: the seam's length
constexpr float kOutside = 1.0f;    // cost of a pixel only one of the two orthos has
constexpr float kGradient = 0.5f;   // weight of flatness against agreement

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

// The band of one pair seen along lines across its Voronoi line: rows when the line runs
// mostly down the chunk, else columns. Position `pos` on line `line` is pixel At(line, pos).
struct Strip {
  bool rows = true;
  cv::Point At(int line, int pos) const { return rows ? cv::Point(pos, line) : cv::Point(line, pos); }
  static int Line(const cv::Rect& r, bool rows) { return rows ? r.y : r.x; }
  static int Pos(const cv::Rect& r, bool rows) { return rows ? r.x : r.y; }
  static int Lines(const cv::Rect& r, bool rows) { return rows ? r.height : r.width; }
  static int Positions(const cv::Rect& r, bool rows) { return rows ? r.width : r.height; }
};

// Whether the Voronoi line of a and b crosses rows more often than columns.
bool CrossesRows(const SeamChunk& in, int a, int b) {
  long rows = 0, cols = 0;
  const auto pair = [&](int p, int q) { return p != q && (p == a || p == b) && (q == a || q == b); };
  for (int r = 0; r < in.owner.rows; ++r) {
    const int* o = in.owner.ptr<int>(r);
    const int* below = r + 1 < in.owner.rows ? in.owner.ptr<int>(r + 1) : nullptr;
    for (int c = 0; c < in.owner.cols; ++c) {
      if (c + 1 < in.owner.cols && pair(o[c], o[c + 1])) ++rows;
      if (below && pair(o[c], below[c])) ++cols;
    }
  }
  return rows >= cols;
}

// One line of the strip: where the Voronoi line crosses it (the first pixel past it), the orthos before and after it, and the cost of a seam at each
// offset from the crossing (infinite where it may not lie); no cost when the line has no crossing.
struct StripLine {
  int cross = std::numeric_limits<int>::min();
  int first = -1, second = -1;
  std::vector<float> cost;
};

constexpr float kNever = std::numeric_limits<float>::infinity();

// The seam of a pair as a least-cost path along its strip, by dynamic programming: on each line
// the seam lies between two neighbouring pixels (a cut of cost c(p) + c(q) + length), and from one
// line to the next it moves at most one pixel.
class StripSeam {
 public:
  StripSeam(const SeamChunk& in, int a, int b, const cv::Mat& pair, const cv::Mat& base)
      : in_(in), a_(a), b_(b), pair_(pair), base_(base),
        cost_(in, IndexOf(in.ids, a), IndexOf(in.ids, b)) {
    s_.rows = CrossesRows(in, a, b);
    reach_ = 2 * in.band + 2;
  }

  void Solve(cv::Mat& labels) {
    const int n = Strip::Lines(in_.chunk, s_.rows);
    std::vector<StripLine> lines(n);
    for (int k = 0; k < n; ++k) lines[k] = Describe(Strip::Line(in_.chunk, s_.rows) + k);
    const int states = 2 * reach_ + 1;
    std::vector<float> acc(states, kNever), next(states);
    std::vector<std::vector<int>> from(n, std::vector<int>(states, -1));
    for (int k = 0; k < n; ++k) {
      const StripLine& line = lines[k];
      if (line.cost.empty()) {
        std::fill(acc.begin(), acc.end(), kNever);
        continue;
      }
      const bool goesOn = k > 0 && lines[k - 1].first == line.first && !lines[k - 1].cost.empty();
      bool reached = false;
      for (int d = 0; d < states; ++d) {
        next[d] = kNever;
        if (line.cost[d] == kNever) continue;
        for (int e = std::max(0, d - 1); goesOn && e <= std::min(states - 1, d + 1); ++e) {
          const float v = acc[e] + (e == d ? 0.0f : kEpsilon);
          if (v < next[d]) next[d] = v, from[k][d] = e;
        }
        if (next[d] != kNever) {
          next[d] += line.cost[d];
          reached = true;
        }
      }
      if (!reached) {
        // A new strip, or one the previous line cannot reach: it starts here.
        for (int d = 0; d < states; ++d) next[d] = line.cost[d];
        if (k == 0) HoldToPrevious(line, next);
        std::fill(from[k].begin(), from[k].end(), -1);
      }
      acc.swap(next);
      const bool last = k + 1 == n || lines[k + 1].cost.empty() || lines[k + 1].first != line.first;
      if (last) Trace(lines, from, acc, k, labels);
    }
  }

 private:
  StripLine Describe(int line) const {
    StripLine out;
    const int p0 = Strip::Pos(in_.chunk, s_.rows), np = Strip::Positions(in_.chunk, s_.rows);
    double sum = 0.0;
    int count = 0;
    for (int i = 0; i < np; ++i)
      if (Pair(line, p0 + i)) sum += p0 + i, ++count;
    if (count == 0) return out;
    const double mean = sum / count;
    const int q0 = Strip::Pos(in_.ownerRect, s_.rows), nq = Strip::Positions(in_.ownerRect, s_.rows);
    double best = std::numeric_limits<double>::max();
    for (int q = q0 + 1; q < q0 + nq; ++q) {
      const int o1 = Owner(line, q - 1), o2 = Owner(line, q);
      if (o1 == o2 || (o1 != a_ && o1 != b_) || (o2 != a_ && o2 != b_)) continue;
      if (std::abs(q - mean) < best) best = std::abs(q - mean), out.cross = q, out.first = o1, out.second = o2;
    }
    if (out.first < 0) return out;
    out.cost.assign(2 * reach_ + 1, kNever);
    const int w0 = Strip::Pos(in_.workRect, s_.rows), w1 = w0 + Strip::Positions(in_.workRect, s_.rows);
    const int before = Before(line);
    for (int d = -reach_; d <= reach_; ++d) {
      const int s = out.cross + d;  // the seam lies between s - 1 and s
      if (s - 1 < w0 || s >= w1 || !Free(line, s - 1) || !Free(line, s)) continue;
      // Held by the label before the chunk: a seam inside the chunk needs the first ortho there.
      if (s > p0 && Pair(line, p0) && before == out.second) continue;
      const cv::Point p = s_.At(line, s - 1), q = s_.At(line, s);
      out.cost[d + reach_] = cost_(p.x, p.y) + cost_(q.x, q.y) +
                             kEpsilon * (1.0f + static_cast<float>(std::abs(d)) / in_.band);
    }
    return out;
  }

  // The first line carries on the seam of the line before the chunk where that one is known.
  void HoldToPrevious(const StripLine& line, std::vector<float>& acc) const {
    const std::vector<int>& prev = s_.rows ? in_.above : in_.left;
    const int p0 = Strip::Pos(in_.chunk, s_.rows);
    int best = -1;
    for (int i = 1; i < static_cast<int>(prev.size()); ++i)
      if (prev[i - 1] == line.first && prev[i] == line.second &&
          (best < 0 || std::abs(p0 + i - line.cross) < std::abs(best - line.cross)))
        best = p0 + i;
    const int d = best - line.cross + reach_;
    if (best < 0 || d < 0 || d >= static_cast<int>(acc.size()) || acc[d] == kNever) return;
    const float keep = acc[d];
    std::fill(acc.begin(), acc.end(), kNever);
    acc[d] = keep;
  }

  void Trace(const std::vector<StripLine>& lines, const std::vector<std::vector<int>>& from,
             const std::vector<float>& acc, int k, cv::Mat& labels) const {
    int d = static_cast<int>(std::min_element(acc.begin(), acc.end()) - acc.begin());
    if (acc[d] == kNever) return;
    for (; k >= 0 && d >= 0; d = from[k][d], --k) Label(lines[k], Strip::Line(in_.chunk, s_.rows) + k, lines[k].cross + d - reach_, labels);
  }

  // Pair pixels before the seam s take the first ortho, the others the second; a pixel only one
  // of them has stays with it, one neither has keeps its base label.
  void Label(const StripLine& line, int l, int s, cv::Mat& labels) const {
    const int p0 = Strip::Pos(in_.chunk, s_.rows), np = Strip::Positions(in_.chunk, s_.rows);
    const int ia = IndexOf(in_.ids, a_), ib = IndexOf(in_.ids, b_);
    for (int pos = p0; pos < p0 + np; ++pos) {
      if (!Pair(l, pos)) continue;
      const cv::Point p = s_.At(l, pos);
      const int side = pos < s ? line.first : line.second;
      const int other = side == a_ ? b_ : a_;
      const cv::Point w = p - in_.workRect.tl();
      const bool hasSide = in_.valid[side == a_ ? ia : ib].at<uchar>(w);
      const bool hasOther = in_.valid[side == a_ ? ib : ia].at<uchar>(w);
      int& out = labels.at<int>(p - in_.chunk.tl());
      out = hasSide ? side : hasOther ? other : base_.at<int>(p - in_.chunk.tl());
    }
  }

  bool Pair(int line, int pos) const {
    const cv::Point p = s_.At(line, pos);
    return in_.chunk.contains(p) && pair_.at<uchar>(p - in_.chunk.tl()) != 0;
  }
  // A seam may touch a pair pixel or a pixel beyond the chunk, not one whose label is fixed.
  bool Free(int line, int pos) const {
    const cv::Point p = s_.At(line, pos);
    return !in_.chunk.contains(p) || pair_.at<uchar>(p - in_.chunk.tl()) != 0;
  }
  int Owner(int line, int pos) const {
    return in_.owner.at<int>(s_.At(line, pos) - in_.ownerRect.tl());
  }
  // The label of the pixel before the chunk on a line, -2 when not known.
  int Before(int line) const {
    const std::vector<int>& v = s_.rows ? in_.left : in_.above;
    const int i = line - Strip::Line(in_.chunk, s_.rows);
    return i >= 0 && i < static_cast<int>(v.size()) ? v[i] : -2;
  }

  const SeamChunk& in_;
  int a_, b_;
  const cv::Mat& pair_;
  const cv::Mat& base_;
  PairCost cost_;
  Strip s_;
  int reach_ = 0;
};

void SolvePair(const SeamChunk& in, int a, int b, const std::vector<cv::Point>& band,
               const cv::Mat& base, cv::Mat& labels) {
  if (IndexOf(in.ids, a) < 0 || IndexOf(in.ids, b) < 0) return;
  cv::Mat pair(in.chunk.size(), CV_8U, cv::Scalar(0));
  for (const cv::Point& p : band) pair.at<uchar>(p - in.chunk.tl()) = 1;
  StripSeam(in, a, b, pair, base).Solve(labels);
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
    SolvePair(in, key.first, key.second, pixels, base, labels);
  return labels;
}

}  // namespace ortavia
