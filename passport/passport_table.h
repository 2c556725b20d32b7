#pragma once
// The parameter table of the passport dialog: 16 rows of label, value and the value in the other
// convention, exactly as the dialog and `ortavia-batch passport show` print them.
#include <array>
#include <string>

#include "external/geo/camera_passport.h"

namespace ortavia::passport {

struct PassportTableRow {
  std::string label;
  std::string value;  // column 1
  std::string other;  // column 2: the other convention
};

inline constexpr int kTableRows = 16;
using PassportTable = std::array<PassportTableRow, kTableRows>;

enum TableRow : int {
  kRowModel = 0, kRowSerial, kRowFocal, kRowPixelSize, kRowK1, kRowK2, kRowK3, kRowP1, kRowP2,
  kRowWidth, kRowHeight, kRowPrincipalX, kRowPrincipalY, kRowRadialFormula, kRowTangentialDx,
  kRowTangentialDy
};

inline constexpr const char* kNewPassportText = "<new camera passport>";
inline constexpr const char* kTableHeader =
    "Camera parameters; values (double click to edit);different convention";

// The labels, "<new camera passport>" and the three default formulas; every value cell empty.
PassportTable InitialPassportTable();

// Rows 0 to 12 from the passport; without one, their value cells are emptied. Rows 13 to 15 stay.
void ShowPassportValues(const geo::CCameraPassport* passport, PassportTable& table);

// A table number: fixed notation, never an exponent, trailing zeros and a trailing point removed.
// Six decimals as a rule, more where a small value needs them to keep six significant digits; never
// "-0". Always in the C locale. NaN and infinities read "nan", "inf", "-inf".
std::string FormatTableNumber(double value);

// True when the table's cell has a value in the other convention column for this row.
bool RowHasOtherValue(int row);

}  // namespace ortavia::passport
