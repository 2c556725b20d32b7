#pragma once
// Camera passports: the interior orientation of a camera, read from the passport text files
// (.bcc, .cvc/.cvcc, .rdr, and .ccb through CCBtoBCC). See docs/formats.md.
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace geo {

class CCameraPassport {
 public:
  virtual ~CCameraPassport() = default;

  // The passport of a .bcc, .cvc, .cvcc or .rdr file (kind by extension, without case), or null
  // when the file is missing, damaged or not a passport.
  static std::unique_ptr<CCameraPassport> New(const std::string& path);
  // A copy of the same kind; null for null.
  static std::unique_ptr<CCameraPassport> New(const CCameraPassport* other);
  // A passport stored inside a bundle file: type code 0 BCC, 1 CVC, 3 RDR; text = a whole passport
  // file of that kind. Null when the text is not a passport of that kind.
  static std::unique_ptr<CCameraPassport> ArchiveLoad(int typeCode, std::string_view text);

  virtual std::unique_ptr<CCameraPassport> Clone() const = 0;
  // True when the camera's images must be undistorted (any non-zero distortion value).
  virtual bool MustUndistort() const = 0;

  std::string model;
  std::string serialNumber;
  double focalLength = 0.0;      // mm
  double pixelSize = 0.0;        // mm
  int width = 0;                 // pixels
  int height = 0;                // pixels
  double principalPointX = 0.0;  // pixel coordinates, centre of the top-left pixel at (0, 0)
  double principalPointY = 0.0;
};

class CBCCCameraPassport : public CCameraPassport {
 public:
  std::unique_ptr<CCameraPassport> Clone() const override;
  bool MustUndistort() const override;
  double K1 = 0.0, K2 = 0.0, K3 = 0.0, P1 = 0.0, P2 = 0.0;  // millimetre based
};

class CCVCCameraPassport : public CCameraPassport {
 public:
  std::unique_ptr<CCameraPassport> Clone() const override;
  bool MustUndistort() const override;
  // K1, K2, P1, P2, K3 (pixel based); empty when the passport has no distortion record.
  std::optional<std::array<double, 5>> distortion;
};

class CRDRCameraPassport : public CCameraPassport {
 public:
  std::unique_ptr<CCameraPassport> Clone() const override;
  bool MustUndistort() const override;
  std::vector<std::pair<double, double>> radialTable;  // (radius mm, distortion mm)
};

// Reads a .ccb calibration certificate into a BCC passport; 0 = failure (out left unchanged).
int CCBtoBCC(const std::string& path, CBCCCameraPassport* out);

}  // namespace geo
