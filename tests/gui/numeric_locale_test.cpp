// Under a desktop with decimal commas the application keeps numbers in the C locale; texts keep
// the desktop's.
#include <clocale>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "external/geo/string_to_dbl.h"
#include "gui/numeric_locale.h"
#include "support/test_locale.h"

namespace ortavia::ui::test {
namespace {

std::string Format(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", v);
  return text;
}

TEST(NumericLocale, NumbersKeepTheDecimalPointUnderACommaDesktop) {
  if (!ortavia::test::UseCommaDecimalLocale()) GTEST_SKIP() << "no comma-decimal locale can be built here";
  EXPECT_EQ(Format(0.5), "0,50") << "the desktop's locale is in force";
  KeepNumbersInCLocale();
  EXPECT_EQ(Format(0.5), "0.50");
  EXPECT_STREQ(std::setlocale(LC_TIME, nullptr), "de_DE.UTF-8");
  double v = 0.0;
  EXPECT_TRUE(geo::StringToDbl("1234.5", &v));
  EXPECT_EQ(v, 1234.5);
  ortavia::test::UseCLocale();
}

}  // namespace
}  // namespace ortavia::ui::test
