#pragma once
// Feathering across seams. Each pixel of the mosaic has a label: the ortho it is taken from. The
// weight of ortho k at a pixel is the share of pixels labelled k in the (2r + 1) x (2r + 1)
// square around it, times whether ortho k has the pixel; the weights are then divided by their
// sum. Across a straight seam the weight thus ramps linearly over 2r + 1 pixels, 1/2 on the seam.
#include <vector>

#include <opencv2/core/mat.hpp>

namespace ortavia {

// labels: CV_32S over the tile grown by radius on each side (as far as the mosaic goes); inner:
// the tile inside labels. valid[i] (CV_8U, inner size): where ortho ids[i] has pixels. Returns
// one CV_32F weight image per id (inner size), summing to 1 wherever any weight is above 0 and 0
// elsewhere. radius 0: the label alone decides.
std::vector<cv::Mat> FeatherWeights(const cv::Mat& labels, const cv::Rect& inner,
                                    const std::vector<int>& ids, const std::vector<cv::Mat>& valid,
                                    int radius);

// sum of weights[i] * values[i] (CV_32FC(bands) each); covered (CV_8U) is 255 where the weights
// reach the pixel.
void Composite(const std::vector<cv::Mat>& weights, const std::vector<cv::Mat>& values,
               cv::Mat& out, cv::Mat& covered);

}  // namespace ortavia
