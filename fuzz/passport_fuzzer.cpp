// Every passport kind: the .bcc, .cvc, .cvcc and .rdr files, the .ccb calibration certificate and
// the passport text embedded in a bundle. The first byte chooses the kind and the way in; the rest
// is the text.
//
// Invariants: a file and the same text embedded in a bundle give the same passport, an accepted
// passport has a usable interior orientation, and its copy equals it.
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>

#include "external/geo/camera_passport.h"
#include "external/geo/orientation.h"
#include "fuzz/fuzz_support.h"

namespace {

using geo::CCameraPassport;
using ortavia::fuzz::Check;

struct Kind {
  const char* extension;
  int typeCode;  // in a bundle; -1: no embedded form
};
constexpr Kind kKinds[] = {{".bcc", 0}, {".cvc", 1}, {".cvcc", 1}, {".rdr", 3}, {".BCC", 0}};

bool Usable(const CCameraPassport& p) {
  return p.focalLength > 0 && std::isfinite(p.focalLength) && p.pixelSize > 0 &&
         std::isfinite(p.pixelSize) && p.width >= 1 && p.height >= 1 &&
         std::isfinite(p.principalPointX) && std::isfinite(p.principalPointY);
}

bool Equal(const CCameraPassport* a, const CCameraPassport* b) {
  if (!a || !b) return a == b;
  return typeid(*a) == typeid(*b) && a->model == b->model && a->serialNumber == b->serialNumber &&
         a->focalLength == b->focalLength && a->pixelSize == b->pixelSize && a->width == b->width &&
         a->height == b->height && a->principalPointX == b->principalPointX &&
         a->principalPointY == b->principalPointY && a->MustUndistort() == b->MustUndistort();
}

void CheckAccepted(const CCameraPassport& p) {
  Check(Usable(p), "an accepted passport has no usable interior orientation");
  const auto copy = CCameraPassport::New(&p);
  Check(Equal(&p, copy.get()), "a passport's copy differs from it");
  geo::COrientation o;
  Check(o.BuildINTWithoutDistortion(&p, 0.0) == 1, "an accepted passport builds no orientation");
}

ortavia::fuzz::ScratchFile& FileFor(std::size_t kind) {
  static ortavia::fuzz::ScratchFile files[] = {
      ortavia::fuzz::ScratchFile(".bcc"), ortavia::fuzz::ScratchFile(".cvc"),
      ortavia::fuzz::ScratchFile(".cvcc"), ortavia::fuzz::ScratchFile(".rdr"),
      ortavia::fuzz::ScratchFile(".BCC")};
  return files[kind];
}

void Certificate(std::string_view text) {
  static ortavia::fuzz::ScratchFile file(".ccb");
  geo::CBCCCameraPassport p;
  p.model = "untouched";
  const int ok = geo::CCBtoBCC(file.Write(text), &p);
  if (!ok) {
    Check(p.model == "untouched", "a refused certificate changed the passport");
    return;
  }
  CheckAccepted(p);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ortavia::fuzz::Input input(data, size);
  const std::uint8_t choice = input.Byte();
  const std::string_view text = input.Rest();
  const std::size_t kindCount = sizeof kKinds / sizeof kKinds[0];
  if (choice % (kindCount + 2) == kindCount) {
    Certificate(text);
    return 0;
  }
  if (choice % (kindCount + 2) == kindCount + 1) {
    // Type codes that name no passport kind carry none.
    const int code = static_cast<int>(choice / (kindCount + 2)) * 7 % 256 - 128;
    if (code != 0 && code != 1 && code != 3)
      Check(CCameraPassport::ArchiveLoad(code, text) == nullptr, "an unknown type code was read");
    return 0;
  }
  const std::size_t k = choice % (kindCount + 2);
  const auto fromFile = CCameraPassport::New(FileFor(k).Write(text));
  const auto embedded = CCameraPassport::ArchiveLoad(kKinds[k].typeCode, text);
  Check(Equal(fromFile.get(), embedded.get()), "file and embedded text give different passports");
  if (fromFile) CheckAccepted(*fromFile);
  return 0;
}
