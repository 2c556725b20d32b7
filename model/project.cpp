#include "model/project.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace ortavia {

WarpProject::WarpProject() {
  cad.AddLayer(kLayerDem, kAciWhite, true);
  cad.AddLayer(kLayerOrtho, kAciYellow, false);
}

std::string ImageNameFromPath(const std::string& path) {
  std::string name = std::filesystem::path(path).stem().string();
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return name;
}

bool HasExteriorOrientation(const geo::COrientation& o) {
  return o.N.x() != 0.0 || o.N.y() != 0.0 || o.N.z() != 0.0;
}

void ApplyExtOrientation(const ExtOrientation& eo, geo::COrientation& o) {
  o.N = Wml::Point3d(eo.x, eo.y, eo.z);
  o.SetRotMat(Wml::Matrix3d::FromEulerAnglesXYZ(eo.omega, eo.phi, eo.kappa));
}

bool CanStart(const WarpProject& project) {
  const auto oriented = std::count_if(project.orientations.begin(), project.orientations.end(),
                                      [](const auto& kv) { return HasExteriorOrientation(kv.second); });
  return project.passport && !project.images.empty() && project.dem.dataset &&
         static_cast<std::size_t>(oriented) == project.orientations.size();
}

int FindImage(const WarpProject& project, const std::string& name) {
  for (std::size_t i = 0; i < project.images.size(); ++i) {
    const std::string& n = project.images[i].name;
    if (n.size() == name.size() &&
        std::equal(n.begin(), n.end(), name.begin(), [](unsigned char a, unsigned char b) {
          return std::tolower(a) == std::tolower(b);
        }))
      return static_cast<int>(i);
  }
  return -1;
}

}  // namespace ortavia
