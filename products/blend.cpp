#include "products/blend.h"

#include <opencv2/imgproc.hpp>

namespace ortavia {

std::vector<cv::Mat> FeatherWeights(const cv::Mat& labels, const cv::Rect& inner,
                                    const std::vector<int>& ids, const std::vector<cv::Mat>& valid,
                                    int radius) {
  std::vector<cv::Mat> weights(ids.size());
  cv::Mat sum = cv::Mat::zeros(inner.size(), CV_32F);
  for (size_t i = 0; i < ids.size(); ++i) {
    cv::Mat own = labels == ids[i];
    if (radius > 0 && cv::countNonZero(own) != static_cast<int>(own.total())) {
      // Whole counts: the same weights whatever rectangle the labels were cut from.
      const int side = 2 * radius + 1;
      cv::Mat count;
      cv::boxFilter(own / 255, count, CV_32S, cv::Size(side, side), cv::Point(-1, -1), false,
                    cv::BORDER_REPLICATE);
      count(inner).convertTo(weights[i], CV_32F, 1.0 / (side * side));
    } else {
      own(inner).convertTo(weights[i], CV_32F, 1.0 / 255.0);
    }
    weights[i].setTo(0.0f, valid[i] == 0);
    sum += weights[i];
  }
  cv::Mat none = sum <= 0.0f;
  sum.setTo(1.0f, none);
  for (cv::Mat& w : weights) cv::divide(w, sum, w);
  return weights;
}

void Composite(const std::vector<cv::Mat>& weights, const std::vector<cv::Mat>& values,
               cv::Mat& out, cv::Mat& covered) {
  if (weights.empty()) return;
  const int bands = values[0].channels();
  out = cv::Mat::zeros(weights[0].size(), CV_32FC(bands));
  cv::Mat sum = cv::Mat::zeros(weights[0].size(), CV_32F);
  std::vector<cv::Mat> spread(bands);
  cv::Mat w;
  for (size_t i = 0; i < weights.size(); ++i) {
    if (bands == 1) {
      w = weights[i];
    } else {
      std::fill(spread.begin(), spread.end(), weights[i]);
      cv::merge(spread, w);
    }
    cv::accumulateProduct(values[i], w, out);
    sum += weights[i];
  }
  covered = sum > 0.0f;
}

}  // namespace ortavia
