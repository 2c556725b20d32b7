#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "parser/constant_text.h"
#include "support/comma_locale.h"

namespace ortavia {
namespace {

TEST(ConstantTextTest, IntegerPartPointLeadingZerosThenSevenFractionDigits) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<std::pair<double, std::string>> cases = {
      {3.14159265359, "3.1415926"},
      {2.718281828459045, "2.7182818"},
      {0.05, "0.0500000"},      // one leading zero, then 5 x 10^5
      {0.5, "0.5000000"},
      {5.0, "5.000000"},        // five zeros and the empty rest
      {0.0000152587890625, "0.0000152"},  // 2^-16: four zeros, then 1.52587890625 x 10^2
      {-2.5, "-2.5000000"},
      {-0.25, "-0.2500000"},    // the sign of a value between -1 and 0 stays
      {-0.0, "0.000000"},
      {123456.75, "123456.7500000"},
      {1e20, "100000000000000000000.000000"},
      {std::numeric_limits<double>::quiet_NaN(), "NaN"},
      {inf, "Infinity"},
      {-inf, "-Infinity"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(ConstantValueText(value, '.'), text) << value;
  EXPECT_EQ(ConstantValueText(3.14159265359, ','), "3,1415926");
}

TEST(ConstantTextTest, TheDesktopLocaleDoesNotChangeIt) {
  if (!test::UseCommaDecimalNumbers()) GTEST_SKIP() << "no de_DE locale on this machine";
  const std::string text = ConstantValueText(1234.5, '.');
  test::UseCNumbers();
  EXPECT_EQ(text, "1234.5000000");
}

}  // namespace
}  // namespace ortavia
