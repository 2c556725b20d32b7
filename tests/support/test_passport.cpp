#include "support/test_passport.h"

namespace ortavia::test {

std::unique_ptr<geo::CBCCCameraPassport> MakeTestPassport(int width, int height, double focalMm,
                                                          double pixelMm, const std::string& model,
                                                          const std::string& serial) {
  auto p = std::make_unique<geo::CBCCCameraPassport>();
  p->model = model;
  p->serialNumber = serial;
  p->focalLength = focalMm;
  p->pixelSize = pixelMm;
  p->width = width;
  p->height = height;
  p->principalPointX = (width - 1) / 2.0;
  p->principalPointY = (height - 1) / 2.0;
  return p;
}

}  // namespace ortavia::test
