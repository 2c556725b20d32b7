#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "passport/passport_database.h"
#include "passport/passport_table.h"
#include "support/comma_locale.h"
#include "support/passport_files.h"
#include "support/test_env.h"

namespace ortavia::passport {
namespace {
namespace fs = std::filesystem;
using test::CommonKeys;

using Cells = std::array<std::pair<std::string, std::string>, 13>;  // rows 0..12: value, other

void ExpectRows(const PassportTable& table, const Cells& expected, const std::string& what) {
  for (int row = 0; row < 13; ++row) {
    EXPECT_EQ(table[row].value, expected[row].first) << what << " row " << row << " column 1";
    EXPECT_EQ(table[row].other, expected[row].second) << what << " row " << row << " column 2";
  }
}

struct KindCase {
  std::string file;
  std::string text;
  Cells rows;
};

// Column 1 is the pixel-based convention: coefficient n of a BCC passport times (F/p)^n (p/1000)^n.
std::vector<KindCase> KindCases() {
  const std::string bccKeys = CommonKeys("RC30", "5001", "100", "0.01", "4000", "3000", "1999.5", "1499.5");
  const std::string cvcKeys = CommonKeys("Kesta V3", "77", "50", "0.005", "6000", "4000", "2999.5", "1999.5");
  return {
      // s q = 10000 * 1e-5 = 0.1: factors 0.01 (n = 2), 1e-4 (n = 4), 1e-6 (n = 6).
      {"cam.bcc", "[BCC Camera Passport]\n" + bccKeys + "K1 = 2\nK2 = 3\nK3 = 4\nP1 = 5\nP2 = -6\n",
       {{{"RC30", ""}, {"5001", ""}, {"10000", "100"}, {"", "0.01"}, {"0.02", "2"}, {"0.0003", "3"},
         {"0.000004", "4"}, {"0.05", "5"}, {"-0.06", "-6"}, {"4000", ""}, {"3000", ""},
         {"1999.5", "19.995"}, {"1499.5", "14.995"}}}},
      // s q = 10000 * 5e-6 = 0.05: factors 0.0025, 6.25e-6, 1.5625e-8. The record is K1 K2 P1 P2 K3.
      {"cam.cvcc", "[CVC Camera Passport]\n" + cvcKeys +
                       "[Distortion]\nK1 = 0.5\nK2 = -0.25\nP1 = 0.125\nP2 = 0\nK3 = 1e-8\n",
       {{{"Kesta V3", ""}, {"77", ""}, {"10000", "50"}, {"", "0.005"}, {"0.5", "200"}, {"-0.25", "-40000"},
         {"0.00000001", "0.64"}, {"0.125", "50"}, {"0", "0"}, {"6000", ""}, {"4000", ""},
         {"2999.5", "14.9975"}, {"1999.5", "9.9975"}}}},
      {"plain.cvc", "[CVC Camera Passport]\n" + cvcKeys,
       {{{"Kesta V3", ""}, {"77", ""}, {"10000", "50"}, {"", "0.005"}, {"0", "0"}, {"0", "0"}, {"0", "0"},
         {"0", "0"}, {"0", "0"}, {"6000", ""}, {"4000", ""}, {"2999.5", "14.9975"}, {"1999.5", "9.9975"}}}},
      {"film.rdr", "[RDR Camera Passport]\n" + bccKeys + "RadialTable = 10:0.002, 20:-0.004\n",
       {{{"RC30", ""}, {"5001", ""}, {"10000", "100"}, {"", "0.01"}, {"0", "0"}, {"0", "0"}, {"0", "0"},
         {"0", "0"}, {"0", "0"}, {"4000", ""}, {"3000", ""}, {"1999.5", "19.995"}, {"1499.5", "14.995"}}}},
      // Principal point 0.1 mm right of and 0.2 mm below the centre: 2009.5, 1519.5 pixels.
      {"Cert.CCB", test::SimpleCcb(),
       {{{"UltraCam", ""}, {"U-7", ""}, {"10000", "100"}, {"", "0.01"}, {"0.02", "2"}, {"0", "0"}, {"0", "0"},
         {"0", "0"}, {"0", "0"}, {"4000", ""}, {"3000", ""}, {"2009.5", "20.095"}, {"1519.5", "15.195"}}}},
  };
}

TEST(PassportTableTest, RowsOfEveryKindAsTheDialogFillsThem) {
  const fs::path dir = test::MakeTempDir("table");
  for (const auto& c : KindCases()) {
    test::WriteText(dir / c.file, c.text);
    const auto opened = OpenPassport((dir / c.file).string());
    ASSERT_TRUE(opened) << c.file;
    PassportTable table = InitialPassportTable();
    ShowPassportValues(opened.get(), table);
    ExpectRows(table, c.rows, c.file);
    EXPECT_EQ(table[kRowRadialFormula].value, "(K1*r^3)+(K2*r^5)+(K3*r^7)");
  }
}

TEST(PassportTableTest, InitialTableAndEmptyingWithoutAPassport) {
  PassportTable table = InitialPassportTable();
  const std::vector<std::string> labels = {
      "Camera Model", "Camera Serial Number", "Focal Length", "Pixel Size (mm)", "K1", "K2", "K3", "P1", "P2",
      "Raster Dimension X", "Raster Dimension Y", "Principal Point Coordinates X (pix)",
      "Principal Point Coordinates Y", "Radial Distortion Formula, dr =", "Tangential Distortion Formula, dx =",
      "Tangential Distortion Formula, dy ="};
  for (int row = 0; row < kTableRows; ++row) EXPECT_EQ(table[row].label, labels[row]);
  EXPECT_EQ(table[0].value, "<new camera passport>");
  EXPECT_EQ(table[13].value, "(K1*r^3)+(K2*r^5)+(K3*r^7)");
  EXPECT_EQ(table[14].value, "(P1*x*y)+(P2*r^2*x^2)");
  EXPECT_EQ(table[15].value, "(P2*x*y)+(P1*r^2*y^2)");

  // A passport shown, then one that failed to open: every value of rows 0..12 goes, formulas stay.
  const fs::path dir = test::MakeTempDir("empty");
  test::WriteText(dir / "a.bcc", test::SimpleBcc());
  const auto opened = OpenPassport((dir / "a.bcc").string());
  ShowPassportValues(opened.get(), table);
  table[kRowRadialFormula].value = "k1*k2*k3*r";
  ShowPassportValues(nullptr, table);
  for (int row = 0; row <= kRowPrincipalY; ++row) {
    EXPECT_EQ(table[row].value, "") << row;
    EXPECT_EQ(table[row].other, "") << row;
  }
  EXPECT_EQ(table[kRowRadialFormula].value, "k1*k2*k3*r");
}

TEST(PassportTableTest, NumbersKeepSixSignificantDigitsWithoutExponentOrMinusZero) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<std::pair<double, std::string>> cases = {
      {2.5, "2.5"},          {3.0, "3"},
      {0.0, "0"},            {-0.0, "0"},
      {-1e-7, "-0.0000001"}, {1e-8, "0.00000001"},
      {1.23456789e-8, "0.0000000123457"}, {0.0123456789, "0.0123457"},
      {0.123456789, "0.123457"},          {123.4567891, "123.456789"},
      {1e3, "1000"},         {-2.5e-7, "-0.00000025"},
      {0.0099999996, "0.01"}, {1e20, "100000000000000000000"},
      {-0.0000001234564, "-0.000000123456"}, {nan, "nan"},
      {inf, "inf"},          {-inf, "-inf"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(FormatTableNumber(value), text) << value;
  // The smallest number still has all its digits, and nothing in exponent form.
  const std::string tiny = FormatTableNumber(std::numeric_limits<double>::denorm_min());
  EXPECT_EQ(tiny.find_first_of("eE"), std::string::npos);
  EXPECT_EQ(tiny.rfind("0.000", 0), 0u);
  EXPECT_EQ(tiny.substr(tiny.size() - 7), "0494066");  // 4.94066e-324 at decimal 324
}

TEST(PassportTableTest, ADecimalCommaDesktopChangesNoCell) {
  if (!test::UseCommaDecimalNumbers()) GTEST_SKIP() << "no de_DE locale on this machine";
  const fs::path dir = test::MakeTempDir("locale");
  const auto c = KindCases()[1];
  test::WriteText(dir / c.file, c.text);
  const auto opened = OpenPassport((dir / c.file).string());
  PassportTable table = InitialPassportTable();
  ShowPassportValues(opened.get(), table);
  test::UseCNumbers();
  ASSERT_TRUE(opened) << "the passport is read in the C locale";
  ExpectRows(table, c.rows, "comma locale");
}

}  // namespace
}  // namespace ortavia::passport
