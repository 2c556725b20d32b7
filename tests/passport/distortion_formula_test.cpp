#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "passport/distortion_formula.h"
#include "passport/passport_table.h"
#include "support/comma_locale.h"

namespace ortavia::passport {
namespace {
using Status = CurveOutcome::Status;

PassportTable TableWith(const std::string& k1, const std::string& k2, const std::string& k3,
                        const std::string& p1 = "0", const std::string& p2 = "0") {
  PassportTable t = InitialPassportTable();
  t[kRowK1].value = k1;
  t[kRowK2].value = k2;
  t[kRowK3].value = k3;
  t[kRowP1].value = p1;
  t[kRowP2].value = p2;
  return t;
}

class DistortionFormulaTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(parser.Create().has_value()); }
  CurveOutcome Radial(const std::string& formula, const PassportTable& base) {
    PassportTable t = base;
    t[kRowRadialFormula].value = formula;
    return SampleDistortionCurve(parser, CurveKind::kRadial, t);
  }
  FormulaParser parser;
};

TEST_F(DistortionFormulaTest, DefaultRadialFormulaWithK1OnePlotsTheCube) {
  const auto out = SampleDistortionCurve(parser, CurveKind::kRadial, TableWith("1", "0", "0"));
  ASSERT_EQ(out.status, Status::kDrawn) << out.message;
  for (int i = 0; i < kCurvePoints; ++i) EXPECT_DOUBLE_EQ(out.values[i], i * i * i) << i;
  EXPECT_EQ(out.values[14], 2744.0);
  EXPECT_EQ(out.substituted, "(1*r^3)+(0*r^5)+(0*r^7)");
}

TEST_F(DistortionFormulaTest, DefaultTangentialFormulaIsZeroSinceXAndYAre) {
  const auto out = SampleDistortionCurve(parser, CurveKind::kTangential, TableWith("0", "0", "0", "3", "-2"));
  ASSERT_EQ(out.status, Status::kDrawn) << out.message;
  for (double v : out.values) EXPECT_EQ(v, 0.0);
  EXPECT_EQ(out.substituted, "(3*x*y)+(-2*r^2*x^2)");
}

TEST_F(DistortionFormulaTest, ChecksFireInOrderOneRuleAtATime) {
  struct Case {
    std::string formula;
    PassportTable table;
    Status status;
    std::string message;
  };
  const PassportTable full = TableWith("1", "2", "3");
  const std::vector<Case> cases = {
      {"", full, Status::kNoFormula, "Please insert a formula into the related row"},
      {"k2*r+k3", full, Status::kMissingName, "Formula doesn't contain K1"},
      {"k1*r+k3", full, Status::kMissingName, "Formula doesn't contain K2"},
      // The names come before any value: K3 is missing although no value is defined at all.
      {"k1*r+k2", TableWith("", "", ""), Status::kMissingName, "Formula doesn't contain K3"},
      {"k1+k2+k3", full, Status::kMissingName, "Formula doesn't contain r (radius)"},
      {"k1*r+k2+k3", TableWith("", "2", "3"), Status::kMissingValue, "K1 not defined!"},
      {"k1*r+k2+k3", TableWith("1", "", "3"), Status::kMissingValue, "K2 not defined!"},
      {"k1*r+k2+k3", TableWith("1", "2", ""), Status::kMissingValue, "K3 not defined!"},
  };
  for (const auto& c : cases) {
    const auto out = Radial(c.formula, c.table);
    EXPECT_EQ(out.status, c.status) << c.formula;
    EXPECT_EQ(out.message, c.message) << c.formula;
  }
  PassportTable t = TableWith("1", "2", "3", "", "5");
  t[kRowTangentialDx].value = "p2*r";
  EXPECT_EQ(SampleDistortionCurve(parser, CurveKind::kTangential, t).message, "Formula doesn't contain P1");
  t[kRowTangentialDx].value = "p1*r";
  EXPECT_EQ(SampleDistortionCurve(parser, CurveKind::kTangential, t).message, "Formula doesn't contain P2");
  t[kRowTangentialDx].value = "P1*r+P2";
  EXPECT_EQ(SampleDistortionCurve(parser, CurveKind::kTangential, t).message, "P1 not defined!");
  t[kRowP1].value = "1";
  t[kRowP2].value = "";
  EXPECT_EQ(SampleDistortionCurve(parser, CurveKind::kTangential, t).message, "P2 not defined!");
}

TEST_F(DistortionFormulaTest, RIsAPlainSubstringAndSubstitutionIsTextual) {
  // "sqrt" holds an r; "k12" holds k1 and becomes 0.022.
  const auto out = Radial("K1 + K12 + k2 + k3 + sqrt(4)", TableWith("0.02", "0", "0"));
  ASSERT_EQ(out.status, Status::kDrawn) << out.message;
  EXPECT_EQ(out.substituted, "0.02 + 0.022 + 0 + 0 + sqrt(4)");
  EXPECT_DOUBLE_EQ(out.values[7], 0.02 + 0.022 + 2.0);
}

TEST_F(DistortionFormulaTest, SmallAndNegativeCoefficientsReachTheParserAsNumbers) {
  const auto out = SampleDistortionCurve(parser, CurveKind::kRadial,
                                         TableWith("-0.5", FormatTableNumber(1e-8), FormatTableNumber(-2e-12)));
  ASSERT_EQ(out.status, Status::kDrawn) << out.message;
  for (int i = 0; i < kCurvePoints; ++i) {
    const double r = i;
    const double expected = -0.5 * r * r * r + 1e-8 * std::pow(r, 5) - 2e-12 * std::pow(r, 7);
    EXPECT_NEAR(out.values[i], expected, 1e-12 * (1.0 + std::fabs(expected))) << i;
  }
}

TEST_F(DistortionFormulaTest, FormulasThatDoNotCompileOrGiveNoNumberAreReportedNotDrawn) {
  const PassportTable t = TableWith("1", "2", "3");
  const auto broken = Radial("k1*r^3+k2+k3+(", t);
  EXPECT_EQ(broken.status, Status::kFormulaError);
  EXPECT_FALSE(broken.message.empty());
  const auto unknown = Radial("k1*r+k2+k3+zz", t);
  EXPECT_EQ(unknown.status, Status::kFormulaError);
  EXPECT_NE(unknown.message.find("zz"), std::string::npos) << unknown.message;

  const auto pole = Radial("k1/r+k2+k3", t);  // infinite at r = 0
  EXPECT_EQ(pole.status, Status::kNotFinite);
  EXPECT_EQ(pole.message, "The formula has no finite value at r = 0");
  const auto root = Radial("sqrt(k1-r)+k2+k3", t);  // NaN from r = 2 on
  EXPECT_EQ(root.status, Status::kNotFinite);
  EXPECT_EQ(root.message, "The formula has no finite value at r = 2");
  // A value the table shows as "inf" is no number for the parser either.
  EXPECT_EQ(Radial("k1*r+k2+k3", TableWith("inf", "0", "0")).status, Status::kFormulaError);
}

TEST_F(DistortionFormulaTest, ParserKnowsPiAndEAndReadsNumbersInTheCLocale) {
  const bool comma = test::UseCommaDecimalNumbers();
  const auto out = Radial("k1*r+k2+k3+pi+e", TableWith("0.5", "0.25", "0"));
  test::UseCNumbers();
  ASSERT_EQ(out.status, Status::kDrawn) << out.message;
  EXPECT_NEAR(out.values[2], 1.0 + 0.25 + 3.14159265359 + 2.718281828459045, 1e-12);
  if (!comma) GTEST_SKIP() << "checked in the C locale only: no de_DE locale here";
}

TEST(ReplaceAllTest, EveryOccurrenceEvenWhenTheValueHoldsTheName) {
  EXPECT_EQ(ReplaceAll("k1+k1*k1", "k1", "2"), "2+2*2");
  EXPECT_EQ(ReplaceAll("k1", "k1", "k1k1"), "k1k1");
  EXPECT_EQ(ReplaceAll("abc", "", "x"), "abc");
}

}  // namespace
}  // namespace ortavia::passport
