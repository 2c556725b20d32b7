#pragma once
// Who shows the mosaic pixels their Voronoi owner cannot see (true orthos): runs along the rows
// of the mosaic grid, each naming the image that shows its pixels instead, or none when no image
// sees them. Pixels outside every run are shown by their owner.
#include <optional>
#include <vector>

namespace ortavia {

struct FillRun {
  int x0 = 0, x1 = 0;  // mosaic columns [x0, x1)
  int row = -1;        // image-list row that shows them; -1: no image sees them
};

class HiddenFill {
 public:
  HiddenFill() = default;
  explicit HiddenFill(int mosaicHeight) : rows_(mosaicHeight > 0 ? mosaicHeight : 0) {}

  // Runs of one row are set together, in column order.
  void SetRow(int y, std::vector<FillRun> runs);
  const std::vector<FillRun>& Row(int y) const;

  // The image row that shows mosaic pixel (x, y) instead of its owner (-1: none sees it); empty
  // where the owner shows it.
  std::optional<int> At(int x, int y) const;

  long long Unseen() const;  // pixels no image sees
  long long Filled() const;  // pixels shown by another image than their owner
  int Height() const { return static_cast<int>(rows_.size()); }

 private:
  std::vector<std::vector<FillRun>> rows_;
};

}  // namespace ortavia
