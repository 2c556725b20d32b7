#pragma once
// Camera passports made by the tests themselves.
#include <memory>
#include <string>

#include "external/geo/camera_passport.h"

namespace ortavia::test {

// A BCC passport with no file behind it: principal point at the image centre (centre of the
// top-left pixel at (0, 0)), no distortion.
std::unique_ptr<geo::CBCCCameraPassport> MakeTestPassport(int width, int height, double focalMm,
                                                          double pixelMm,
                                                          const std::string& model = "TestCam",
                                                          const std::string& serial = "42");

}  // namespace ortavia::test
