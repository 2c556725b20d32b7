// Compilation: the parsing errors with their positions, folding, variables and evaluation.
#include <cmath>
#include <string>

#include "tests/parser/parser_test_util.h"

namespace ortavia {
namespace {

using test::CaughtError;
using test::CompileError;

void ExpectParseError(const std::string& text, const char* id, int pos,
                      const char* item = nullptr) {
  SCOPED_TRACE(text);
  const auto e = CompileError(text);
  EXPECT_EQ(e.id, id);
  EXPECT_EQ(e.param("pos"), std::to_string(pos));
  if (item) {
    EXPECT_EQ(e.param("itemName"), item);
  }
}

TEST(FormulaCompiler, ParsingErrorsAndPositions) {
  ExpectParseError("2+", "MTPARSINGEXCEP_UnexpectedOp", 1);
  ExpectParseError("-", "MTPARSINGEXCEP_UnexpectedOp", 0);
  ExpectParseError("*2", "MTPARSINGEXCEP_InvalidOpSyntax", 0, "*");
  ExpectParseError("1 + * 2", "MTPARSINGEXCEP_InvalidOpSyntax", 4, "*");
  ExpectParseError("(1+2", "MTPARSINGEXCEP_MissingCloseBracket", 0);
  ExpectParseError("1+(2*(3)", "MTPARSINGEXCEP_MissingCloseBracket", 2);
  ExpectParseError("sin(1", "MTPARSINGEXCEP_MissingCloseBracket", 0);
  ExpectParseError("1+2)", "MTPARSINGEXCEP_MissingOpenBracket", 3);
  ExpectParseError("1 + 2 )", "MTPARSINGEXCEP_MissingOpenBracket", 6);
  ExpectParseError("min(1,)", "MTPARSINGEXCEP_UselessArgSeparator", 5);
  ExpectParseError("min(,1)", "MTPARSINGEXCEP_UselessArgSeparator", 4);
  ExpectParseError("min(1,,2)", "MTPARSINGEXCEP_UselessArgSeparator", 6);
  ExpectParseError("1,2", "MTPARSINGEXCEP_InvalidArgSeparator", 1);
  ExpectParseError("sum()", "MTPARSINGEXCEP_OverloadedFuncNotFound", 0, "sum");
  ExpectParseError("sin(1,2)", "MTPARSINGEXCEP_OverloadedFuncNotFound", 0, "sin");
  ExpectParseError("()", "MTPARSINGEXCEP_InvalidSyntax", 0);
  ExpectParseError("2*()", "MTPARSINGEXCEP_InvalidSyntax", 2);
  ExpectParseError("x y", "MTPARSINGEXCEP_UndefinedVar", 0, "xy");
  ExpectParseError("1+q", "MTPARSINGEXCEP_UndefinedVar", 2, "q");
  ExpectParseError("foo(1)", "MTPARSINGEXCEP_UndefinedFunc", 0, "foo");
  ExpectParseError("(1)2", "MTPARSINGEXCEP_MissingOp", 3, "2");
  ExpectParseError("(1)sin(2)", "MTPARSINGEXCEP_MissingOp", 3, "sin");
  ExpectParseError("(1)(2)", "MTPARSINGEXCEP_MissingOp", 3, "(");
  ExpectParseError("sin(0)(1)", "MTPARSINGEXCEP_MissingOp", 6, "(");
  ExpectParseError("1+)", "MTPARSINGEXCEP_UnexpectedOp", 1);
  ExpectParseError("min(1+,2)", "MTPARSINGEXCEP_UnexpectedOp", 5);
  ExpectParseError("q+", "MTPARSINGEXCEP_UndefinedVar", 0, "q");  // the word comes first
  ExpectParseError("2!", "MTPARSINGEXCEP_InvalidOpSyntax", 1, "!");
  ExpectParseError("1!=", "MTPARSINGEXCEP_UnexpectedOp", 1);
  ExpectParseError(")", "MTPARSINGEXCEP_MissingOpenBracket", 0);
}

TEST(FormulaCompiler, DescriptionsOfParsingErrors) {
  EXPECT_EQ(CompileError("q").description, "Undefined variable: 'q'");
  EXPECT_EQ(CompileError("sum()").description, "Invalid number of arguments for function 'sum'");
  EXPECT_EQ(CompileError("foo(1)").description, "Undefined function: 'foo'");
  EXPECT_EQ(CompileError("1+2)").description, "Missing opening bracket to macth closing bracket");
  EXPECT_EQ(CompileError("(1").description, "Missing closing bracket to match opening bracket");
  EXPECT_EQ(CompileError("1,2").description,
            "Invalid use of an argument separator outside a function");
  EXPECT_EQ(CompileError("min(1,)").description, "Invalid use of an argument separator");
  EXPECT_EQ(CompileError("2+").description, "Unexpected operator");
  EXPECT_EQ(CompileError("*2").description, "Invalid operator syntax: '*'");
  EXPECT_EQ(CompileError("()").description, "Invalid syntax");
  EXPECT_EQ(CompileError("(1)2").description, "Missing operator before: '2'");
  // The record names no argument, so that placeholder stays as written.
  EXPECT_EQ(CompileError("bin(2)").description,
            "Invalid function argument syntax. Function name: 'bin', argument %param1");
  EXPECT_FALSE(CompileError("(1").sourceFile.empty());
  EXPECT_GT(CompileError("(1").sourceLine, 0);
}

TEST(FormulaCompiler, RandIsAcceptedWithoutArguments) {
  MTParser p;
  EXPECT_NO_THROW(p.compileAndEvaluate("rand()"));
  EXPECT_EQ(p.compiledSize(), 1u);  // never folded
}

TEST(FormulaCompiler, ConstantSubExpressionsAreFolded) {
  MTParser p;
  double x = 2;
  p.registerVariable("x", &x);
  p.compile("1+2*sin(0)+max(3,4,5,6)");
  EXPECT_EQ(p.compiledSize(), 0u);
  EXPECT_EQ(p.evaluateCompiled(), 7);
  p.compile("x*2+3*4");
  EXPECT_EQ(p.compiledSize(), 3u);  // x, "*", "+"; 3*4 is folded into "+"
  EXPECT_EQ(p.evaluateCompiled(), 16);
  p.compile("sin(x)+rand(1,1)");
  EXPECT_EQ(p.compiledSize(), 4u);
  EXPECT_DOUBLE_EQ(p.evaluateCompiled(), std::sin(2.0) + 1);
}

TEST(FormulaCompiler, VariablesAreReadAtEvaluation) {
  MTParser p;
  double x = 2, y = 3;
  p.registerVariable("x", &x);
  p.registerVariable("y", &y);
  EXPECT_EQ(p.compileAndEvaluate("x*10+y"), 23);
  x = 5;
  EXPECT_EQ(p.evaluateCompiled(), 53);
  y = -1;
  EXPECT_EQ(p.evaluateCompiled(), 49);
  EXPECT_EQ(p.compileAndEvaluate("x"), 5);
  x = 6;
  EXPECT_EQ(p.evaluateCompiled(), 6);
}

TEST(FormulaCompiler, LongProgramsRunInALoop) {
  MTParser p;
  double x = 1;
  p.registerVariable("x", &x);
  for (int n : {1, 2, 15, 29, 30, 31, 32, 200}) {
    std::string text = "x";
    for (int i = 1; i < n; ++i) text += "+x";
    p.compile(text);
    EXPECT_EQ(p.evaluateCompiled(), n) << n;
    x = 2;
    EXPECT_EQ(p.evaluateCompiled(), 2 * n) << n;
    x = 1;
  }
}

TEST(FormulaCompiler, RemovingVariablesBindsTheProgramAgain) {
  MTParser p;
  double x = 4, other = 9;
  p.registerVariable("x", &x);
  p.compile("x+1");
  p.removeAllVariables();
  p.registerVariable("x", &other);
  EXPECT_EQ(p.evaluateCompiled(), 10);  // bound to the new x, never to the removed one
  p.removeAllVariables();
  EXPECT_EQ(CaughtError([&] { p.evaluateCompiled(); }).id, "MTPARSINGEXCEP_UndefinedVar");
  EXPECT_TRUE(std::isnan(p.evaluateCompiled()));
}

TEST(FormulaCompiler, FailedCompilationLeavesNoProgram) {
  MTParser p;
  EXPECT_EQ(p.compileAndEvaluate("2*3"), 6);
  EXPECT_THROW(p.compile("2*"), MTChainedExceptions);
  EXPECT_TRUE(std::isnan(p.evaluateCompiled()));
}

TEST(FormulaCompiler, AutomaticVariableDefinition) {
  MTParser p;
  EXPECT_FALSE(p.isAutoVarDefinitionEnabled());
  p.enableAutoVarDefinition(true);
  EXPECT_EQ(p.compileAndEvaluate("a+b+1"), 1);
  EXPECT_EQ(p.variableCount(), 2u);
}

TEST(FormulaCompiler, ChainedExceptionsKeepAtMostOneHundredRecords) {
  MTExcepData d;
  d.id = "MTPARSINGEXCEP_InternalError";
  MTChainedExceptions e(d);
  for (int i = 0; i < 150; ++i) e.add(d);
  EXPECT_EQ(e.size(), MTChainedExceptions::kMaxChain);
}

}  // namespace
}  // namespace ortavia
