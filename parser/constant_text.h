#pragma once
// How the formula syntax listing writes a constant's value: the integer part, the decimal point,
// the leading zeros of the fraction (up to five) and then seven digits in all after the point.
// pi reads 3.1415926, 0.05 reads 0.0500000.
#include <string>

namespace ortavia {

// Values between -1 and 0 keep their sign ("-0.5000000"); NaN reads "NaN", infinities "Infinity"
// and "-Infinity". Never depends on the process locale.
std::string ConstantValueText(double value, char decimalPoint);

}  // namespace ortavia
