// The default operators, functions and constant: their order, texts and results.
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "parser/default_functions.h"
#include "parser/default_operators.h"
#include "tests/parser/parser_test_util.h"

namespace ortavia {
namespace {

using test::CompileError;
using test::Eval;

struct OperatorRow {
  const char* symbol;
  const char* id;
  bool unary;
  int precedence;
  const char* usage;
  const char* description;
};

TEST(DefaultVocabulary, OperatorsInOrderWithTheirTexts) {
  const std::vector<OperatorRow> rows = {
      {"+", "+", false, 500, "x + y", "Addition operator"},
      {"+", "unaryAdd", true, 800, "+x", "Unary addition operator"},
      {"-", "minus", false, 500, "x - y", "Minus operator"},
      {"*", "*", false, 600, "x * y", "Multiplication operator"},
      {"/", "/", false, 600, "x / y", "Division operator"},
      {"^", "^", false, 700, "x ^ y", "Power operator. Calculates x raised to the power of y"},
      {"-", "unaryMinus", true, 800, "-x", "Unary minus operator"},
      {"%", "%", false, 600, "x % y", "Modulo; find remainder of the division of x by y"},
      {">", ">", false, 400, "x > y",
       "Greater than logical operator.  Returns 1 if true, 0 if false."},
      {"<", "<", false, 400, "x < y",
       "Lesser than logical operator.  Returns 1 if true, 0 if false."},
      {">=", ">=", false, 400, "x >= y",
       "Greater than or equal logical operator.  Returns 1 if true, 0 if false."},
      {"<=", "<=", false, 400, "x <= y",
       "Lesser than or equal logical operator.  Returns 1 if true, 0 if false."},
      {"!=", "!=", false, 300, "x != y",
       "Not equal logical operator.  Returns 1 if true, 0 if false."},
      {"==", "==", false, 300, "x == y", "Equal logical operator.  Returns 1 if true, 0 if false."},
      {"&", "&", false, 200, "x & y", "And logical operator.  Returns 1 if true, 0 if false."},
      {"|", "|", false, 100, "x | y", "Or logical operator.  Returns 1 if true, 0 if false."},
      {"!", "!", true, 800, "!x", "Not logical operator. Returns 1 if x is 0, else returns 1"},
  };
  MTParser p;
  ASSERT_EQ(p.operatorCount(), rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const MTOperatorI& op = p.operatorAt(i);
    SCOPED_TRACE(rows[i].id);
    EXPECT_EQ(op.symbol(), rows[i].symbol);
    EXPECT_EQ(op.id(), rows[i].id);
    EXPECT_EQ(op.isUnary(), rows[i].unary);
    EXPECT_EQ(op.precedence(), rows[i].precedence);
    EXPECT_EQ(op.usage(), rows[i].usage);
    EXPECT_EQ(op.description(), rows[i].description);
    EXPECT_TRUE(op.isConstant());
    EXPECT_EQ(op.clone()->id(), op.id());
  }
}

struct FunctionRow {
  const char* symbol;
  const char* id;
  int args;
  const char* usage;
  const char* description;
};

TEST(DefaultVocabulary, FunctionsInOrderWithTheirTexts) {
  const std::vector<FunctionRow> rows = {
      {"round", "round", 1, "round(x)", "Round the fractional part of a number"},
      {"sin", "sin", 1, "sin(rad)", "Sine"},
      {"asin", "asin", 1, "asin(rad)", "Arcsine"},
      {"sinh", "sinh", 1, "sinh(rad)", "Hyperbolic sine"},
      {"cos", "cos", 1, "cos(rad)", "Cosine"},
      {"acos", "acos", 1, "acos(rad)", "Arccosine"},
      {"cosh", "cosh", 1, "cosh(rad)", "Hyperbolic cosine"},
      {"tan", "tan", 1, "tan(rad)", "Tangent"},
      {"atan", "atan", 1, "atan(rad)", "Arctangent"},
      {"tanh", "tanh", 1, "tanh(rad)", "Hyperbolic tangent"},
      {"sqrt", "sqrt", 1, "sqrt(x)", "Square root"},
      {"min", "min2", 2, "min(x,y)", "Returns smaller of two values"},
      {"min", "min3", 3, "min(x,y,z)", "Returns smaller of three values"},
      {"min", "minUndef", -1, "min(v1,v2,v3,...)", "Returns smaller of a set of values"},
      {"max", "max2", 2, "max(x,y)", "Returns larger of two values"},
      {"max", "max3", 3, "max(x,y,z)", "Returns larger of three values"},
      {"max", "maxUndef", -1, "max(v1,v2,v3,...)", "Returns larger of a set of values"},
      {"abs", "abs", 1, "abs(x)", "Absolute value"},
      {"rand", "rand0", 0, "rand()", "Random value between 0 and 1"},
      {"rand", "rand2", 2, "rand(min, max)", "Random value between min and max"},
      {"ceil", "ceil", 1, "ceil(x)", "Ceiling"},
      {"floor", "floor", 1, "floor(x)", "Floor"},
      {"log", "log", 1, "log(x)", "Natural logarithm"},
      {"log10", "log10", 1, "log10(x)", "Base-10 logarithm"},
      {"avg", "avg", -1, "avg(v1,v2,v3,...)", "Returns the average of a set of values"},
      {"sum", "sum", -1, "sum(v1,v2,v3,...)", "Returns the sum of a set of values"},
      {"fact", "fact", 1, "fact(x)", "Returns the factorial of x: x*(x-1)*(x-2)*...(x-x+1)"},
      {"if", "if", 3, "if(condition, val1, val2)",
       "If the condition is true, returns val1 else returns val2."},
      {"isNaN", "isNaN", 1, "isNan(value)", "Returns 1 if the number is a NaN value."},
      {"isFinite", "isFinite", 1, "isFinite(value)", "Returns 1 if the number is finite."},
      {"hex", "hex", 1, "hex(hexNumber)", "Converts an hexadecimal number to a decimal number"},
      {"bin", "bin", 1, "bin(binNumber)", "Converts a binary number to a decimal number"},
  };
  MTParser p;
  ASSERT_EQ(p.functionCount(), rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const MTFunctionI& f = p.functionAt(i);
    SCOPED_TRACE(rows[i].id);
    EXPECT_EQ(f.symbol(), rows[i].symbol);
    EXPECT_EQ(f.id(), rows[i].id);
    EXPECT_EQ(f.argCount(), rows[i].args);
    EXPECT_EQ(f.usage(), rows[i].usage);
    EXPECT_EQ(f.description(), rows[i].description);
    EXPECT_EQ(f.isConstant(), f.symbol() != "rand");
    EXPECT_EQ(f.compilerState() != nullptr, f.symbol() == "hex" || f.symbol() == "bin");
    EXPECT_EQ(f.clone()->id(), f.id());
  }
}

TEST(DefaultVocabulary, OnlyConstantIsNaN) {
  MTParser p;
  ASSERT_EQ(p.constantCount(), 1u);
  EXPECT_EQ(p.constantAt(0).name, "NaN");
  EXPECT_TRUE(std::isnan(p.constantAt(0).value));
}

TEST(DefaultVocabulary, OperatorResults) {
  EXPECT_EQ(Eval("+3"), 3);
  EXPECT_EQ(Eval("7-9"), -2);
  EXPECT_EQ(Eval("1/0"), std::numeric_limits<double>::infinity());
  EXPECT_EQ(Eval("-7%3"), -1);  // sign of x
  EXPECT_EQ(Eval("7%-3"), 1);
  EXPECT_EQ(Eval("5.5%2"), 1.5);
  EXPECT_EQ(Eval("3>2"), 1);
  EXPECT_EQ(Eval("2>2"), 0);
  EXPECT_EQ(Eval("2<3"), 1);
  EXPECT_EQ(Eval("2>=2"), 1);
  EXPECT_EQ(Eval("3<=2"), 0);
  EXPECT_EQ(Eval("2!=3"), 1);
  EXPECT_EQ(Eval("2==3"), 0);
  EXPECT_EQ(Eval("2&3"), 1);
  EXPECT_EQ(Eval("2&0"), 0);
  EXPECT_EQ(Eval("0|0"), 0);
  EXPECT_EQ(Eval("0|-2"), 1);
  EXPECT_EQ(Eval("!3"), 0);
  EXPECT_EQ(Eval("!0"), 1);
  EXPECT_EQ(Eval("NaN==NaN"), 0);
  EXPECT_EQ(Eval("NaN!=NaN"), 1);
}

TEST(DefaultVocabulary, PowerBySquaringForWholeExponents) {
  EXPECT_EQ(Eval("2^10"), 1024);
  EXPECT_EQ(Eval("2^-2"), 0.25);
  EXPECT_EQ(Eval("0^-1"), std::numeric_limits<double>::infinity());
  EXPECT_EQ(Eval("0^0"), 1);
  EXPECT_EQ(Eval("(-2)^3"), -8);
  EXPECT_TRUE(std::isnan(Eval("(-8)^(1/3)")));
  EXPECT_DOUBLE_EQ(Eval("2^0.5"), std::sqrt(2.0));
  EXPECT_EQ(MTPower(2, -2147483648.0), 0.0);  // the most negative 32-bit exponent, no overflow
  EXPECT_EQ(MTPower(1, 4294967296.0), 1.0);   // beyond 32 bits: the library pow
  EXPECT_TRUE(std::isnan(MTPower(2, std::nan(""))));
}

TEST(DefaultVocabulary, Round) {
  EXPECT_EQ(Eval("round(2.5)"), 3);
  EXPECT_EQ(Eval("round(-2.5)"), -3);
  EXPECT_EQ(Eval("round(0)"), 0);
  EXPECT_EQ(Eval("round(2.4)"), 2);
  EXPECT_EQ(Eval("round(-2.4)"), -2);
  // Beyond 32 bits the rounded value, not a wrapped integer.
  EXPECT_EQ(MTRound(3e9 + 0.5), 3000000001.0);
  EXPECT_EQ(MTRound(-3e9 - 0.6), -3000000001.0);
  EXPECT_EQ(MTRound(9007199254740993.0), 9007199254740993.0);
  EXPECT_EQ(MTRound(1e300), 1e300);
  EXPECT_EQ(MTRound(-std::numeric_limits<double>::infinity()),
            -std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::isnan(MTRound(std::nan(""))));
}

TEST(DefaultVocabulary, Factorial) {
  EXPECT_EQ(Eval("fact(5)"), 120);
  EXPECT_EQ(Eval("fact(0)"), 1);
  EXPECT_EQ(Eval("fact(-3)"), 1);
  EXPECT_EQ(Eval("fact(4.9)"), 24);
  EXPECT_EQ(Eval("fact(12)"), 479001600);
  // Above 12 the exact value where a double holds it, never a wrapped 32-bit product.
  EXPECT_EQ(Eval("fact(13)"), 6227020800.0);
  EXPECT_EQ(Eval("fact(20)"), 2432902008176640000.0);
  EXPECT_EQ(Eval("fact(22)"), 1124000727777607680000.0);
  EXPECT_NEAR(Eval("fact(170)") / 7.257415615307994e306, 1.0, 1e-14);
  EXPECT_EQ(Eval("fact(171)"), std::numeric_limits<double>::infinity());
  EXPECT_EQ(MTFactorial(1e300), std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::isnan(Eval("fact(NaN)")));
}

TEST(DefaultVocabulary, FunctionResults) {
  EXPECT_EQ(Eval("sin(0)"), 0);
  EXPECT_DOUBLE_EQ(Eval("asin(1)"), std::asin(1.0));
  EXPECT_DOUBLE_EQ(Eval("sinh(1)"), std::sinh(1.0));
  EXPECT_EQ(Eval("cos(0)"), 1);
  EXPECT_DOUBLE_EQ(Eval("acos(0)"), std::acos(0.0));
  EXPECT_DOUBLE_EQ(Eval("cosh(1)"), std::cosh(1.0));
  EXPECT_DOUBLE_EQ(Eval("tan(1)"), std::tan(1.0));
  EXPECT_DOUBLE_EQ(Eval("atan(1)"), std::atan(1.0));
  EXPECT_DOUBLE_EQ(Eval("tanh(1)"), std::tanh(1.0));
  EXPECT_EQ(Eval("sqrt(16)"), 4);
  EXPECT_TRUE(std::isnan(Eval("sqrt(-1)")));
  EXPECT_TRUE(std::isnan(Eval("log(-1)")));
  EXPECT_EQ(Eval("min(3,2)"), 2);
  EXPECT_EQ(Eval("min(3,2,1)"), 1);
  EXPECT_EQ(Eval("min(4,3,-2,1)"), -2);
  EXPECT_EQ(Eval("min(7)"), 7);
  EXPECT_EQ(Eval("max(3,2)"), 3);
  EXPECT_EQ(Eval("max(3,2,9)"), 9);
  EXPECT_EQ(Eval("max(4,3,-2,11,1)"), 11);
  EXPECT_EQ(Eval("abs(-3)"), 3);
  EXPECT_EQ(Eval("ceil(1.2)"), 2);
  EXPECT_EQ(Eval("floor(-1.2)"), -2);
  EXPECT_DOUBLE_EQ(Eval("log(10)"), std::log(10.0));
  EXPECT_EQ(Eval("log10(1000)"), 3);
  EXPECT_EQ(Eval("avg(1,2,3,4)"), 2.5);
  EXPECT_EQ(Eval("sum(1,2,3,4)"), 10);
  EXPECT_EQ(Eval("if(1,2,3)"), 2);
  EXPECT_EQ(Eval("if(0,2,3)"), 3);
  EXPECT_EQ(Eval("isNaN(NaN)"), 1);
  EXPECT_EQ(Eval("isNaN(1)"), 0);
  EXPECT_EQ(Eval("isFinite(1/0)"), 0);
  EXPECT_EQ(Eval("isFinite(1)"), 1);
}

TEST(DefaultVocabulary, MinOfTwoEqualValuesIsTheSecond) {
  EXPECT_TRUE(std::signbit(Eval("min(0,-0)")));
  EXPECT_FALSE(std::signbit(Eval("min(-0,0)")));
}

TEST(DefaultVocabulary, IfEvaluatesEveryArgument) {
  EXPECT_EQ(Eval("if(0, 1/0, 2)"), 2);
  EXPECT_EQ(Eval("if(1, 1/0, 2)"), std::numeric_limits<double>::infinity());
}

TEST(DefaultVocabulary, RandomValuesStayInTheirRange) {
  MTParser p;
  for (int i = 0; i < 2000; ++i) {
    const double r = p.compileAndEvaluate("rand()");
    ASSERT_GE(r, 0.0);
    ASSERT_LE(r, 1.0);
    const double s = p.compileAndEvaluate("rand(10, 20)");
    ASSERT_GE(s, 10.0);
    ASSERT_LE(s, 20.0);
  }
}

TEST(DefaultVocabulary, ConversionFunctions) {
  EXPECT_EQ(Eval("hex(ff)"), 255);
  EXPECT_EQ(Eval("hex(FF)"), 255);
  EXPECT_EQ(Eval("hex(1 0)"), 16);
  EXPECT_EQ(Eval("hex(ff)+1"), 256);
  EXPECT_EQ(Eval("bin(101)"), 5);
  EXPECT_EQ(Eval("-bin(11)*2"), -6);
  const auto e = CompileError("bin(102)");
  EXPECT_EQ(e.id, "MTPARSINGEXCEP_InvalidFuncSyntax");
  EXPECT_EQ(e.param("itemName"), "bin");
  EXPECT_EQ(CompileError("hex(fg)").id, "MTPARSINGEXCEP_InvalidFuncSyntax");
  EXPECT_EQ(CompileError("hex(-1)").id, "MTPARSINGEXCEP_InvalidFuncSyntax");
  EXPECT_EQ(CompileError("hex((f))").id, "MTPARSINGEXCEP_InvalidFuncSyntax");
  EXPECT_EQ(CompileError("hex(ff").id, "MTPARSINGEXCEP_MissingCloseBracket");
  EXPECT_EQ(CompileError("2hex(ff)").id, "MTPARSINGEXCEP_UndefinedFunc");
  EXPECT_EQ(CompileError("2+3 hex(ff)").id, "MTPARSINGEXCEP_UndefinedFunc");
  EXPECT_EQ(CompileError("(2)hex(ff)").id, "MTPARSINGEXCEP_MissingOp");
}

}  // namespace
}  // namespace ortavia
