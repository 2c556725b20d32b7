#include "external/geo/camera_passport.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <string_view>

#include "external/geo/passport_text.h"
#include "external/geo/string_to_dbl.h"

namespace geo {
namespace {

constexpr std::string_view kBccSection = "BCC Camera Passport";
constexpr std::string_view kCvcSection = "CVC Camera Passport";
constexpr std::string_view kRdrSection = "RDR Camera Passport";
constexpr std::string_view kCcbSection = "Calibration Certificate";
constexpr std::string_view kDistortionSection = "Distortion";

// Raster sizes beyond this are no camera of ours and would overflow pixel counts.
constexpr double kMaxRasterSide = 1000000.0;

enum class Kind { kNone, kBcc, kCvc, kRdr };

Kind KindOfPath(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (ext == ".bcc") return Kind::kBcc;
  if (ext == ".cvc" || ext == ".cvcc") return Kind::kCvc;
  if (ext == ".rdr") return Kind::kRdr;
  return Kind::kNone;
}

Kind KindOfTypeCode(int typeCode) {
  switch (typeCode) {
    case 0: return Kind::kBcc;
    case 1: return Kind::kCvc;
    case 3: return Kind::kRdr;
    default: return Kind::kNone;
  }
}

// Reads the keys of one section; every Get* answers false when the key is missing or malformed.
class SectionReader {
 public:
  SectionReader(const PassportText& text, std::string_view section)
      : text_(text), section_(section) {}

  bool GetText(std::string_view key, std::string* out) const {
    const std::string* v = text_.Find(section_, key);
    if (v == nullptr) return false;
    *out = *v;
    return true;
  }
  bool GetNumber(std::string_view key, double* out) const {
    const std::string* v = text_.Find(section_, key);
    return v != nullptr && StringToDbl(*v, out) != 0;
  }
  bool GetPositive(std::string_view key, double* out) const {
    double v = 0.0;
    if (!GetNumber(key, &v) || !(v > 0.0)) return false;
    *out = v;
    return true;
  }
  // A whole number of pixels in 1 .. kMaxRasterSide.
  bool GetSide(std::string_view key, int* out) const {
    double v = 0.0;
    if (!GetNumber(key, &v) || v < 1.0 || v > kMaxRasterSide || v != std::floor(v)) return false;
    *out = static_cast<int>(v);
    return true;
  }
  // An optional number: absent keeps *out, present must be a number.
  bool GetOptional(std::string_view key, double* out) const {
    return text_.Find(section_, key) == nullptr || GetNumber(key, out);
  }

 private:
  const PassportText& text_;
  std::string_view section_;
};

bool ReadCommon(const SectionReader& s, CCameraPassport* p) {
  return s.GetText("Model", &p->model) && s.GetText("SerialNumber", &p->serialNumber) &&
         s.GetPositive("FocalLength", &p->focalLength) && s.GetPositive("PixelSize", &p->pixelSize) &&
         s.GetSide("Width", &p->width) && s.GetSide("Height", &p->height) &&
         s.GetNumber("PrincipalPointX", &p->principalPointX) &&
         s.GetNumber("PrincipalPointY", &p->principalPointY);
}

bool ReadBccCoefficients(const SectionReader& s, CBCCCameraPassport* p) {
  return s.GetOptional("K1", &p->K1) && s.GetOptional("K2", &p->K2) && s.GetOptional("K3", &p->K3) &&
         s.GetOptional("P1", &p->P1) && s.GetOptional("P2", &p->P2);
}

std::unique_ptr<CCameraPassport> ReadBcc(const PassportText& text) {
  auto p = std::make_unique<CBCCCameraPassport>();
  const SectionReader s(text, kBccSection);
  if (!ReadCommon(s, p.get()) || !ReadBccCoefficients(s, p.get())) return nullptr;
  return p;
}

std::unique_ptr<CCameraPassport> ReadCvc(const PassportText& text) {
  auto p = std::make_unique<CCVCCameraPassport>();
  if (!ReadCommon(SectionReader(text, kCvcSection), p.get())) return nullptr;
  if (text.HasSection(kDistortionSection)) {
    const SectionReader d(text, kDistortionSection);
    std::array<double, 5> k{};  // K1, K2, P1, P2, K3
    if (!d.GetOptional("K1", &k[0]) || !d.GetOptional("K2", &k[1]) || !d.GetOptional("P1", &k[2]) ||
        !d.GetOptional("P2", &k[3]) || !d.GetOptional("K3", &k[4]))
      return nullptr;
    p->distortion = k;
  }
  return p;
}

// "r:d, r:d, ..." in millimetres; an empty text is an empty table.
bool ParseRadialTable(std::string_view text, std::vector<std::pair<double, double>>* table) {
  table->clear();
  if (text.find_first_not_of(" \t") == std::string_view::npos) return true;
  while (true) {
    const std::size_t comma = text.find(',');
    const std::string_view entry = text.substr(0, comma);
    const std::size_t colon = entry.find(':');
    if (colon == std::string_view::npos) return false;
    double radius = 0.0, distortion = 0.0;
    if (!StringToDbl(entry.substr(0, colon), &radius) || radius < 0.0 ||
        !StringToDbl(entry.substr(colon + 1), &distortion))
      return false;
    table->emplace_back(radius, distortion);
    if (comma == std::string_view::npos) return true;
    text.remove_prefix(comma + 1);
  }
}

std::unique_ptr<CCameraPassport> ReadRdr(const PassportText& text) {
  auto p = std::make_unique<CRDRCameraPassport>();
  if (!ReadCommon(SectionReader(text, kRdrSection), p.get())) return nullptr;
  const std::string* table = text.Find(kRdrSection, "RadialTable");
  if (table != nullptr && !ParseRadialTable(*table, &p->radialTable)) return nullptr;
  return p;
}

std::unique_ptr<CCameraPassport> ReadKind(Kind kind, std::string_view raw) {
  const auto text = PassportText::Parse(raw);
  if (!text) return nullptr;
  switch (kind) {
    case Kind::kBcc: return ReadBcc(*text);
    case Kind::kCvc: return ReadCvc(*text);
    case Kind::kRdr: return ReadRdr(*text);
    case Kind::kNone: break;
  }
  return nullptr;
}

template <class T>
std::unique_ptr<CCameraPassport> CloneAs(const T& self) {
  return std::make_unique<T>(self);
}

}  // namespace

std::unique_ptr<CCameraPassport> CCameraPassport::New(const std::string& path) {
  const Kind kind = KindOfPath(path);
  if (kind == Kind::kNone) return nullptr;
  const auto text = ReadPassportFile(path);
  if (!text) return nullptr;
  return ReadKind(kind, *text);
}

std::unique_ptr<CCameraPassport> CCameraPassport::New(const CCameraPassport* other) {
  return other == nullptr ? nullptr : other->Clone();
}

std::unique_ptr<CCameraPassport> CCameraPassport::ArchiveLoad(int typeCode, std::string_view text) {
  const Kind kind = KindOfTypeCode(typeCode);
  return kind == Kind::kNone ? nullptr : ReadKind(kind, text);
}

std::unique_ptr<CCameraPassport> CBCCCameraPassport::Clone() const { return CloneAs(*this); }
std::unique_ptr<CCameraPassport> CCVCCameraPassport::Clone() const { return CloneAs(*this); }
std::unique_ptr<CCameraPassport> CRDRCameraPassport::Clone() const { return CloneAs(*this); }

bool CBCCCameraPassport::MustUndistort() const {
  return K1 != 0.0 || K2 != 0.0 || K3 != 0.0 || P1 != 0.0 || P2 != 0.0;
}

bool CCVCCameraPassport::MustUndistort() const {
  return distortion && std::any_of(distortion->begin(), distortion->end(),
                                   [](double k) { return k != 0.0; });
}

bool CRDRCameraPassport::MustUndistort() const {
  return std::any_of(radialTable.begin(), radialTable.end(),
                     [](const auto& entry) { return entry.second != 0.0; });
}

int CCBtoBCC(const std::string& path, CBCCCameraPassport* out) {
  if (out == nullptr) return 0;
  const auto raw = ReadPassportFile(path);
  if (!raw) return 0;
  const auto text = PassportText::Parse(*raw);
  if (!text) return 0;

  const SectionReader s(*text, kCcbSection);
  CBCCCameraPassport p;
  double microns = 0.0, columns = 0.0, rows = 0.0, ppx = 0.0, ppy = 0.0;
  if (!s.GetText("Camera", &p.model) || !s.GetText("Serial", &p.serialNumber) ||
      !s.GetPositive("FocalLengthMM", &p.focalLength) ||
      !s.GetPositive("PixelSizeMicrons", &microns) || !s.GetSide("Columns", &p.width) ||
      !s.GetSide("Rows", &p.height) || !s.GetNumber("PPAxMM", &ppx) ||
      !s.GetNumber("PPAyMM", &ppy) || !ReadBccCoefficients(s, &p))
    return 0;
  columns = p.width;
  rows = p.height;
  p.pixelSize = microns / 1000.0;
  // The certificate gives the principal point from the image centre in mm, y up.
  p.principalPointX = (columns - 1.0) / 2.0 + ppx / p.pixelSize;
  p.principalPointY = (rows - 1.0) / 2.0 - ppy / p.pixelSize;
  if (!std::isfinite(p.principalPointX) || !std::isfinite(p.principalPointY)) return 0;
  *out = p;
  return 1;
}

}  // namespace geo
