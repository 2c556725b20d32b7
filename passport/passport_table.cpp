#include "passport/passport_table.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace ortavia::passport {
namespace {

constexpr std::array<const char*, kTableRows> kLabels = {
    "Camera Model",
    "Camera Serial Number",
    "Focal Length",
    "Pixel Size (mm)",
    "K1",
    "K2",
    "K3",
    "P1",
    "P2",
    "Raster Dimension X",
    "Raster Dimension Y",
    "Principal Point Coordinates X (pix)",
    "Principal Point Coordinates Y",
    "Radial Distortion Formula, dr =",
    "Tangential Distortion Formula, dx =",
    "Tangential Distortion Formula, dy =",
};

constexpr int kSignificantDigits = 6;

// Decimal exponent of |value| as it reads with six significant digits (so 9.999999e-3 counts as
// 1e-2, the power it rounds to).
int DecimalExponent(double value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, std::fabs(value),
                                    std::chars_format::scientific, kSignificantDigits - 1);
  const char* e = std::find(text, result.ptr, 'e');
  int exponent = 0;
  if (e != result.ptr) std::from_chars(e + (e[1] == '+' ? 2 : 1), result.ptr, exponent);
  return exponent;
}

void TrimFraction(std::string& s) {
  if (s.find('.') == std::string::npos) return;
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
}

// The coefficients in row order K1, K2, K3, P1, P2, with their exponents.
constexpr std::array<int, 5> kCoefficientPower = {2, 4, 6, 2, 2};

void ShowCoefficients(const geo::CCameraPassport& p, PassportTable& table) {
  std::array<double, 5> value{}, other{};
  const double s = p.focalLength / p.pixelSize;
  const double q = p.pixelSize / 1000.0;
  auto factor = [&](int i) { return std::pow(s, kCoefficientPower[i]) * std::pow(q, kCoefficientPower[i]); };
  if (const auto* bcc = dynamic_cast<const geo::CBCCCameraPassport*>(&p)) {
    const std::array<double, 5> stored = {bcc->K1, bcc->K2, bcc->K3, bcc->P1, bcc->P2};
    for (int i = 0; i < 5; ++i) {
      other[i] = stored[i];
      value[i] = stored[i] * factor(i);
    }
  } else if (const auto* cvc = dynamic_cast<const geo::CCVCCameraPassport*>(&p)) {
    // The record is ordered K1, K2, P1, P2, K3.
    if (cvc->distortion) {
      const auto& d = *cvc->distortion;
      value = {d[0], d[1], d[4], d[2], d[3]};
    }
    for (int i = 0; i < 5; ++i) other[i] = value[i] / factor(i);
  } else if (dynamic_cast<const geo::CRDRCameraPassport*>(&p) == nullptr) {
    return;  // a kind without coefficients the table knows of
  }
  for (int i = 0; i < 5; ++i) {
    table[kRowK1 + i].value = FormatTableNumber(value[i]);
    table[kRowK1 + i].other = FormatTableNumber(other[i]);
  }
}

}  // namespace

std::string FormatTableNumber(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  int decimals = 6;
  if (value != 0.0) decimals = std::max(decimals, kSignificantDigits - 1 - DecimalExponent(value));
  // 309 integer digits at most, and the decimals of the smallest subnormal.
  char text[768];
  const auto result =
      std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  std::string s(text, result.ptr);
  TrimFraction(s);
  if (s == "-0") s = "0";
  return s;
}

bool RowHasOtherValue(int row) {
  return row == kRowFocal || row == kRowPixelSize || (row >= kRowK1 && row <= kRowP2) ||
         row == kRowPrincipalX || row == kRowPrincipalY;
}

PassportTable InitialPassportTable() {
  PassportTable table;
  for (int i = 0; i < kTableRows; ++i) table[i].label = kLabels[i];
  table[kRowModel].value = kNewPassportText;
  table[kRowRadialFormula].value = "(K1*r^3)+(K2*r^5)+(K3*r^7)";
  table[kRowTangentialDx].value = "(P1*x*y)+(P2*r^2*x^2)";
  table[kRowTangentialDy].value = "(P2*x*y)+(P1*r^2*y^2)";
  return table;
}

void ShowPassportValues(const geo::CCameraPassport* passport, PassportTable& table) {
  if (passport == nullptr) {
    for (int row = kRowModel; row <= kRowPrincipalY; ++row) {
      table[row].value.clear();
      if (RowHasOtherValue(row)) table[row].other.clear();
    }
    return;
  }
  const auto& p = *passport;
  table[kRowModel].value = p.model;
  table[kRowSerial].value = p.serialNumber;
  table[kRowFocal].value = FormatTableNumber(p.focalLength / p.pixelSize);
  table[kRowFocal].other = FormatTableNumber(p.focalLength);
  table[kRowPixelSize].other = FormatTableNumber(p.pixelSize);
  ShowCoefficients(p, table);
  table[kRowWidth].value = std::to_string(p.width);
  table[kRowHeight].value = std::to_string(p.height);
  table[kRowPrincipalX].value = FormatTableNumber(p.principalPointX);
  table[kRowPrincipalX].other = FormatTableNumber(p.principalPointX * p.pixelSize);
  table[kRowPrincipalY].value = FormatTableNumber(p.principalPointY);
  table[kRowPrincipalY].other = FormatTableNumber(p.principalPointY * p.pixelSize);
}

}  // namespace ortavia::passport
