#pragma once
// Box buildings for the sample project: flat roofs and vertical walls standing on the terrain,
// for a surface model (the DEM carries the roofs) and for images that show roofs and walls as a
// camera sees them, hidden ground included.
#include <functional>
#include <vector>

#include <opencv2/core/types.hpp>

namespace ortavia {

struct SampleBuilding {
  double x0 = 0.0, y0 = 0.0, x1 = 0.0, y1 = 0.0;  // ground extent
  double roof = 0.0;                              // height of the flat roof
};

class SampleBuildings {
 public:
  SampleBuildings() = default;
  // `count` boxes 10 to 30 m wide and 15 to 45 m high inside the area, at least 8 m apart (fewer
  // when the area is full), each standing on the highest terrain under its corners and centre.
  SampleBuildings(int count, unsigned seed, const cv::Rect2d& area,
                  const std::function<double(double, double)>& terrain);

  // The building whose extent holds (x, y), edges included; null where none stands.
  const SampleBuilding* At(double x, double y) const;

  // The first building the ray origin + t * direction meets for 0 < t < tMax (t in units of
  // direction); false when it meets none.
  bool Hit(const cv::Point3d& origin, const cv::Point3d& direction, double tMax, double* t) const;

  const std::vector<SampleBuilding>& All() const { return all_; }
  double Highest() const { return highest_; }

 private:
  void Index();
  std::vector<int> Cell(int cx, int cy) const;
  std::vector<SampleBuilding> all_;
  double highest_ = -1e300;
  // Buildings by cells of kCell metres, so a ray looks at the few near it.
  static constexpr double kCell = 32.0;
  double gx0_ = 0.0, gy0_ = 0.0;
  int cols_ = 0, rows_ = 0;
  std::vector<std::vector<int>> cells_;
};

}  // namespace ortavia
