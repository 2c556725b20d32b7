#include "products/multiband.h"

#include <opencv2/imgproc.hpp>

namespace ortavia {
namespace {

// acc += lap * w (w one channel, lap and acc of any channel count); sum += w.
void AddWeighted(const cv::Mat& lap, const cv::Mat& w, cv::Mat& acc, cv::Mat& sum) {
  const int n = lap.channels();
  for (int r = 0; r < lap.rows; ++r) {
    const float* l = lap.ptr<float>(r);
    const float* wr = w.ptr<float>(r);
    float* a = acc.ptr<float>(r);
    float* s = sum.ptr<float>(r);
    for (int c = 0; c < lap.cols; ++c) {
      s[c] += wr[c];
      for (int b = 0; b < n; ++b) a[c * n + b] += l[c * n + b] * wr[c];
    }
  }
}

void Normalize(cv::Mat& acc, const cv::Mat& sum) {
  const int n = acc.channels();
  for (int r = 0; r < acc.rows; ++r) {
    float* a = acc.ptr<float>(r);
    const float* s = sum.ptr<float>(r);
    for (int c = 0; c < acc.cols; ++c)
      if (s[c] > 0.0f)
        for (int b = 0; b < n; ++b) a[c * n + b] /= s[c];
  }
}

}  // namespace

cv::Mat MultibandBlend(const cv::Mat& base, const std::vector<cv::Mat>& differences,
                       const std::vector<cv::Mat>& masks, int levels) {
  // Level sizes as pyrDown makes them; no level below 2 pixels.
  std::vector<cv::Size> sizes = {base.size()};
  while (static_cast<int>(sizes.size()) <= levels && std::min(sizes.back().width, sizes.back().height) > 2)
    sizes.push_back({(sizes.back().width + 1) / 2, (sizes.back().height + 1) / 2});
  const int top = static_cast<int>(sizes.size()) - 1;
  std::vector<cv::Mat> acc(top + 1), sum(top + 1);
  for (int l = 0; l <= top; ++l) {
    acc[l] = cv::Mat::zeros(sizes[l], base.type());
    sum[l] = cv::Mat::zeros(sizes[l], CV_32F);
  }
  cv::Mat up;
  for (size_t k = 0; k < differences.size(); ++k) {
    cv::Mat g = differences[k], w;
    masks[k].convertTo(w, CV_32F, 1.0 / 255.0);
    for (int l = 0; l < top; ++l) {
      cv::Mat gd, wd;
      cv::pyrDown(g, gd, sizes[l + 1]);
      cv::pyrDown(w, wd, sizes[l + 1]);
      cv::pyrUp(gd, up, sizes[l]);
      AddWeighted(g - up, w, acc[l], sum[l]);
      g = gd;
      w = wd;
    }
    AddWeighted(g, w, acc[top], sum[top]);
  }
  for (int l = 0; l <= top; ++l) Normalize(acc[l], sum[l]);
  cv::Mat out = acc[top];
  for (int l = top - 1; l >= 0; --l) {
    cv::pyrUp(out, up, sizes[l]);
    out = up + acc[l];
  }
  return base + out;
}

}  // namespace ortavia
