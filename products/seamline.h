#pragma once
// Seamlines of the mosaic. A seam starts on the Voronoi line between two orthos A and B and may
// move up to `band` pixels to either side of it. Across that band, on each row (or column, where
// the Voronoi line runs across the chunk), the seam lies between two neighbouring pixels p, q;
// lying there costs c(p) + c(q) + epsilon, where c is the difference of the two orthos plus
// their gradients, relative to the mean brightness, and epsilon (up to twice as much off the
// Voronoi line) the seam's length. From one line to the next the seam moves at most one pixel;
// the least-cost path along the band is found by dynamic programming. The seam thus runs through
// pixels where the orthos agree and the image is flat, and stays on the Voronoi line where all is
// alike. Band pixels that only one ortho has stay with it, so a seam never leaves the overlap.
//
// The mosaic is cut in chunks, solved in row order: a chunk's seams carry on from the labels
// already fixed above and to its left, so the seams run on across chunk edges.
#include <vector>

#include <opencv2/core/mat.hpp>

namespace ortavia {

struct SeamChunk {
  cv::Rect chunk;       // mosaic pixels to label
  cv::Mat owner;        // CV_32S over ownerRect: Voronoi owner (ortho index), -1 none
  cv::Rect ownerRect;   // chunk grown by band + 1 (clipped to the mosaic)
  cv::Rect workRect;    // chunk grown by 1 (clipped to the mosaic)
  std::vector<int> ids;            // orthos read for the chunk: every owner of ownerRect
  std::vector<cv::Mat> values;     // CV_32FC(bands) over workRect, balanced
  std::vector<cv::Mat> valid;      // CV_8U over workRect
  std::vector<int> above;          // labels of the row above the chunk (chunk width), -2 unknown
  std::vector<int> left;           // labels of the column left of it (chunk height), -2 unknown
  int band = 40;
  double level = 1.0;  // mean brightness, the unit of the costs
};

// The label (ortho index, -1 none) of every chunk pixel, CV_32S. Outside the bands: the Voronoi
// owner where it has data, else the first ortho of ids that has, else -1.
cv::Mat SeamLabels(const SeamChunk& in);

// The base labels alone (no seam search), CV_32S over rect (inside workRect).
cv::Mat BaseLabels(const SeamChunk& in, const cv::Rect& rect);

}  // namespace ortavia
