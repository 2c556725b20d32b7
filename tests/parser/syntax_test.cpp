// Reading expressions: spaces, words, numbers, names, precedence and the empty expression.
#include <cmath>
#include <limits>

#include "tests/parser/parser_test_util.h"

namespace ortavia {
namespace {

using test::CompileError;
using test::Eval;

TEST(FormulaSyntax, SpacesAreRemovedBeforeReading) {
  EXPECT_EQ(Eval("2 3"), 23);
  EXPECT_EQ(Eval("s in(0)"), 0);
  EXPECT_EQ(Eval(" 1 +  2 "), 3);
  // Other white space stays part of a word.
  EXPECT_EQ(CompileError("1+\t2").id, "MTPARSINGEXCEP_UndefinedVar");
}

TEST(FormulaSyntax, NumbersHaveDigitsAndOneDecimalPointOnly) {
  EXPECT_EQ(Eval("5"), 5);
  EXPECT_EQ(Eval("5."), 5);
  EXPECT_EQ(Eval(".5"), 0.5);
  EXPECT_EQ(Eval("0.1"), 0.1);
  EXPECT_EQ(Eval("-5"), -5);
  const auto e = CompileError("1e3");
  EXPECT_EQ(e.id, "MTPARSINGEXCEP_UndefinedVar");
  EXPECT_EQ(e.param("itemName"), "1e3");
  EXPECT_EQ(CompileError("1.2.3").id, "MTPARSINGEXCEP_UndefinedVar");
  EXPECT_EQ(CompileError(".").id, "MTPARSINGEXCEP_UndefinedVar");
}

TEST(FormulaSyntax, NumbersOutsideTheDoubleRange) {
  EXPECT_EQ(Eval(std::string(400, '9')), std::numeric_limits<double>::infinity());
  EXPECT_EQ(Eval("0." + std::string(400, '0') + "1"), 0.0);
}

TEST(FormulaSyntax, WordThatLooksLikeANumberCanBeAVariable) {
  MTParser p;
  double v = 7;
  p.registerVariable("1e3", &v);
  EXPECT_EQ(p.compileAndEvaluate("1e3*2"), 14);
}

TEST(FormulaSyntax, ArgumentSeparatorOutsideAFunctionIsAnError) {
  EXPECT_EQ(CompileError("3,5").id, "MTPARSINGEXCEP_InvalidArgSeparator");
  EXPECT_EQ(CompileError("(3,5)").id, "MTPARSINGEXCEP_InvalidArgSeparator");
}

TEST(FormulaSyntax, NamesAreCaseSensitive) {
  EXPECT_TRUE(std::isnan(Eval("NaN")));
  EXPECT_EQ(CompileError("nan").id, "MTPARSINGEXCEP_UndefinedVar");
  EXPECT_EQ(CompileError("SIN(0)").id, "MTPARSINGEXCEP_UndefinedFunc");
}

TEST(FormulaSyntax, EmptyExpressionIsNaN) {
  EXPECT_TRUE(std::isnan(Eval("")));
  EXPECT_TRUE(std::isnan(Eval("     ")));
}

TEST(FormulaSyntax, PrecedenceAndAssociativity) {
  EXPECT_EQ(Eval("-2^2"), 4);
  EXPECT_EQ(Eval("2^3^2"), 64);
  EXPECT_EQ(Eval("1<2==1"), 1);
  EXPECT_EQ(Eval("!0+1"), 2);
  EXPECT_EQ(Eval("1+2*3"), 7);
  EXPECT_EQ(Eval("10-4-3"), 3);
  EXPECT_EQ(Eval("64/4/2"), 8);
  EXPECT_EQ(Eval("7%4*2"), 6);
  EXPECT_EQ(Eval("2*3^2"), 18);
  EXPECT_EQ(Eval("1|0&0"), 1);  // "&" before "|"
  EXPECT_EQ(Eval("0&1|1"), 1);
  EXPECT_EQ(Eval("1+1==2"), 1);
  EXPECT_EQ(Eval("2^-2"), 0.25);
  EXPECT_EQ(Eval("2*-3"), -6);
  EXPECT_EQ(Eval("--3"), 3);
  EXPECT_EQ(Eval("-+-3"), 3);
  EXPECT_EQ(Eval("!!5"), 1);
  EXPECT_EQ(Eval("1--2"), 3);
  EXPECT_EQ(Eval("-2^-3^2"), 1.0 / 64);  // ((-2)^(-3))^2
  EXPECT_EQ(Eval("(1+2)*3"), 9);
  EXPECT_EQ(Eval("-(2+3)"), -5);
}

TEST(FormulaSyntax, LongestOperatorSymbolWins) {
  EXPECT_EQ(Eval("1<=1"), 1);
  EXPECT_EQ(Eval("2>=3"), 0);
  EXPECT_EQ(Eval("1!=1"), 0);
  EXPECT_EQ(Eval("1==1"), 1);
  // "!" is only a prefix operator, so "1!" alone has no meaning.
  EXPECT_EQ(CompileError("1!2").id, "MTPARSINGEXCEP_InvalidOpSyntax");
}

TEST(FormulaSyntax, WordBeforeABracketIsAFunctionName) {
  const auto e = CompileError("2(3)");
  EXPECT_EQ(e.id, "MTPARSINGEXCEP_UndefinedFunc");
  EXPECT_EQ(e.param("itemName"), "2");
  EXPECT_EQ(CompileError("pi(2)").id, "MTPARSINGEXCEP_UndefinedFunc");
}

TEST(FormulaSyntax, DecimalPointFollowsTheSyntax) {
  MTParser p;
  p.changeSyntax({',', ';'});
  EXPECT_EQ(p.compileAndEvaluate("3,5"), 3.5);
  EXPECT_EQ(p.compileAndEvaluate("min(1,5;2)"), 1.5);
  EXPECT_EQ(test::CaughtError([&] { p.compileAndEvaluate("1.5"); }).id,
            "MTPARSINGEXCEP_UndefinedVar");
}

}  // namespace
}  // namespace ortavia
