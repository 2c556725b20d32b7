#pragma once
// Tile mode of the warp: the block is cut into squares of s x s output pixels; a square is
// resampled with the one perspective transform of its four projected corners where that transform
// stays within `maxError` source pixels of the exact projection at every quarter point of the
// square (its centre, edge midpoints and the points between). Any other square is split in four
// (16, 8) and a square of 4 x 4, whose every pixel the quarter points of its parent already
// projected, is filled pixel by pixel as pixel mode fills it. Squares across the ortho's or the
// block's edge, a DEM hole or the source window's edge are split the same way, so tile mode fills
// every pixel pixel mode fills.
#include <opencv2/core/mat.hpp>

#include "model/run_context.h"
#include "process/image_warp.h"

namespace ortavia {

// s: a power of two from 4 to 64; maxError > 0 (infinity: no square is split for its shape).
// Squares are independent, so runs of neighbouring strips are shared among threads; the bytes do
// not depend on their number, nor on whether the source is streamed (FillInBands).
FillOutcome FillBlockTiles(ImageWarp& w, int bx, int by, int s, double maxError, cv::Mat& block,
                           cv::Mat& alphaBlock, cv::Mat& written, const RunContext& ctx);

}  // namespace ortavia
