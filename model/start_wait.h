#pragma once
// What Start waits for, in the order the operator works through the steps: the reason the project
// cannot run yet, for the window to show beside Start.
#include <string>

#include "model/project.h"

namespace ortavia {

// Empty when the project can run; otherwise one line naming the first missing input (the DEM, a
// DEM in degrees, the passport, images, orientations with the first few image names).
std::string StartWaitsFor(const WarpProject& project);

}  // namespace ortavia
