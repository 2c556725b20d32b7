#include "model/start_wait.h"

#include <vector>

namespace ortavia {

namespace {

constexpr std::size_t kNamesShown = 3;

std::string SomeNames(const std::vector<std::string>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size() && i < kNamesShown; ++i) text += (i ? ", " : "") + names[i];
  if (names.size() > kNamesShown) text += ", ...";
  return text;
}

}  // namespace

std::string StartWaitsFor(const WarpProject& project) {
  if (!project.dem.dataset) return "a DEM";
  if (!project.dem.geographicAdvice.empty()) return "a projected DEM: " + project.dem.geographicAdvice;
  if (!project.passport) return "a camera passport";
  if (project.images.empty()) return "images to project";
  std::vector<std::string> unoriented;
  for (const auto& [name, o] : project.orientations)
    if (!HasExteriorOrientation(o)) unoriented.push_back(name);
  if (!unoriented.empty())
    return "exterior orientations of " + std::to_string(unoriented.size()) + " of " +
           std::to_string(project.orientations.size()) + " images (" + SomeNames(unoriented) + ")";
  return CanStart(project) ? std::string() : std::string("the missing input data");
}

}  // namespace ortavia
