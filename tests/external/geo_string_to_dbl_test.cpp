#include <gtest/gtest.h>

#include <clocale>

#include "external/geo/pump.h"
#include "external/geo/string_to_dbl.h"

namespace {

TEST(StringToDbl, AcceptsWholeNumbersWithBlanks) {
  double v = 0.0;
  EXPECT_EQ(geo::StringToDbl("12.5", &v), 1);
  EXPECT_EQ(v, 12.5);
  EXPECT_EQ(geo::StringToDbl("  -3e2\t\r\n", &v), 1);
  EXPECT_EQ(v, -300.0);
  EXPECT_EQ(geo::StringToDbl("+7", &v), 1);
  EXPECT_EQ(v, 7.0);
  EXPECT_EQ(geo::StringToDbl(".5", &v), 1);
  EXPECT_EQ(v, 0.5);
  EXPECT_EQ(geo::StringToDbl("4500123.125", &v), 1);
  EXPECT_EQ(v, 4500123.125);
}

TEST(StringToDbl, RefusesNonNumbersAndLeavesValue) {
  for (const char* bad : {"", "   ", "abc", "1.5x", "1,5", "12 3", "--1", "+-1", "++1", "nan",
                          "inf", "1e999", "0x10", "-", "."}) {
    double v = 99.0;
    EXPECT_EQ(geo::StringToDbl(bad, &v), 0) << bad;
    EXPECT_EQ(v, 99.0) << bad;
  }
  EXPECT_EQ(geo::StringToDbl("1", nullptr), 0);
}

TEST(StringToDbl, IgnoresTheProcessLocale) {
  const char* german = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
  double v = 0.0;
  EXPECT_EQ(geo::StringToDbl("2.25", &v), 1);
  EXPECT_EQ(v, 2.25);
  EXPECT_EQ(geo::StringToDbl("2,25", &v), 0);
  if (german != nullptr) std::setlocale(LC_NUMERIC, "C");
}

TEST(PumpMsgs, RunsTheInstalledHookOnly) {
  geo::PumpMsgs();  // no hook: nothing happens
  int calls = 0;
  geo::SetPumpHook([&calls] { ++calls; });
  geo::PumpMsgs();
  geo::PumpMsgs();
  EXPECT_EQ(calls, 2);
  geo::SetPumpHook(nullptr);
  geo::PumpMsgs();
  EXPECT_EQ(calls, 2);
}

}  // namespace
