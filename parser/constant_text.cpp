#include "parser/constant_text.h"

#include <charconv>
#include <cmath>

namespace ortavia {

std::string ConstantValueText(double value, char decimalPoint) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "Infinity" : "-Infinity";
  const double whole = std::trunc(value);
  char digits[400];  // the integer part of the largest double has 309 digits
  const auto end = std::to_chars(digits, digits + sizeof digits, std::fabs(whole),
                                 std::chars_format::fixed, 0).ptr;
  std::string text = std::signbit(value) && value != 0.0 ? "-" : "";
  text.append(digits, end);
  text += decimalPoint;

  double fraction = std::fabs(value) - std::fabs(whole);
  int zeros = 0;
  for (int step = 0; step < 5; ++step) {
    fraction *= 10.0;
    if (std::trunc(fraction) > 0.0) break;
    text += '0';
    ++zeros;
  }
  const double tail = std::trunc(fraction * std::pow(10.0, 6 - zeros));
  text += std::to_string(static_cast<long long>(tail));
  return text;
}

}  // namespace ortavia
