#pragma once
// Multi-band blending across seams: a Laplacian pyramid per ortho, each level blended with the
// Gaussian pyramid of the ortho's label mask, so that coarse detail (exposure) blends over wide
// strips and fine detail (edges, texture) over narrow ones. Written as a correction of the
// mosaic taken by labels alone: base H (each pixel from its label's ortho), and per ortho the
// difference E_k = ortho k - H where k has the pixel, 0 elsewhere. Since the level weights of all
// orthos sum to 1, blending the orthos' pyramids equals H plus the blended pyramids of the E_k:
// pixels far from any seam stay exactly H, and pixels no ortho has never darken a neighbour.
#include <vector>

#include <opencv2/core/mat.hpp>

namespace ortavia {

inline constexpr int kMultibandLevels = 5;

// How far a pixel's result reaches into the window around it, enough for kMultibandLevels.
inline constexpr int kMultibandMargin = 4 << kMultibandLevels;

// base: CV_32FC(bands); differences[k]: the same type and size; masks[k]: CV_8U, not 0 where
// ortho k is the label. Returns base plus the blended differences.
cv::Mat MultibandBlend(const cv::Mat& base, const std::vector<cv::Mat>& differences,
                       const std::vector<cv::Mat>& masks, int levels = kMultibandLevels);

}  // namespace ortavia
