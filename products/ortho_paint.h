#pragma once
// The ortho preview painting: the part of an ortho a view shows, read at screen resolution.
// Screen coordinates are device pixels, x right, y down.
#include <gdal_priv.h>
#include <opencv2/core/mat.hpp>
#include <opencv2/core/types.hpp>

namespace ortavia {

inline constexpr int kOrthoPictureCode = 200;  // draw code of the preview's image placement

// `picture` is the screen rectangle the whole ortho occupies, `redrawn` the part of the view being
// repainted. The result (CV_8UC3, blue-green-red) is copied 1:1 at `topLeft`. Zoomed in, screen
// pixel s shows ortho pixel floor((s + 0.5 - picture.x) * width / picture.width), likewise rows;
// zoomed out, the ortho is read at the screen's resolution (GDAL may use overviews). Bands are shown
// as they are (3, 2, 1 for colour, band 1 as grey otherwise), other than 8-bit stretched to their
// range. Empty when there is nothing to paint: no dataset, a sample type other than 8 to 64 bits,
// nothing visible, or a read failure.
struct OrthoPaint {
  cv::Mat bgr;
  cv::Point topLeft;
};
OrthoPaint PaintOrtho(GDALDataset* ortho, const cv::Rect2d& picture, const cv::Rect& redrawn);

}  // namespace ortavia
