// Definitions: the naming checks in their order, operator buckets, overloads and the syntax.
#include <cmath>
#include <memory>
#include <string>

#include "tests/parser/parser_test_util.h"

namespace ortavia {
namespace {

using test::CaughtError;

class TestOperator final : public MTOperatorI {
 public:
  TestOperator(std::string symbol, int precedence, bool unary, double result = 0)
      : symbol_(std::move(symbol)), precedence_(precedence), unary_(unary), result_(result) {}
  std::string_view symbol() const override { return symbol_; }
  std::string_view usage() const override { return ""; }
  std::string_view description() const override { return ""; }
  bool isConstant() const override { return true; }
  double evaluate(unsigned int n, const double* a) const override {
    if (result_ != 0) return result_;
    return n == 2 ? std::pow(a[0], a[1]) : -a[0] * 10;
  }
  int precedence() const override { return precedence_; }
  bool isUnary() const override { return unary_; }
  std::unique_ptr<MTOperatorI> clone() const override {
    return std::make_unique<TestOperator>(*this);
  }

 private:
  std::string symbol_;
  int precedence_;
  bool unary_;
  double result_;
};

// Returns its tag, so a test can see which overload was chosen.
class TestFunction final : public MTFunctionI {
 public:
  TestFunction(std::string symbol, int args, double tag)
      : symbol_(std::move(symbol)), args_(args), tag_(tag) {}
  std::string_view symbol() const override { return symbol_; }
  std::string_view usage() const override { return ""; }
  std::string_view description() const override { return ""; }
  bool isConstant() const override { return true; }
  double evaluate(unsigned int, const double*) const override { return tag_; }
  int argCount() const override { return args_; }
  std::unique_ptr<MTFunctionI> clone() const override {
    return std::make_unique<TestFunction>(*this);
  }

 private:
  std::string symbol_;
  int args_;
  double tag_;
};

MTExcepData AddOperator(MTParser& p, const std::string& symbol, int precedence = 500,
                        bool unary = false) {
  return CaughtError(
      [&] { p.registerOperator(std::make_unique<TestOperator>(symbol, precedence, unary)); });
}

MTExcepData AddFunction(MTParser& p, const std::string& symbol, int args = 1) {
  return CaughtError([&] { p.registerFunction(std::make_unique<TestFunction>(symbol, args, 0)); });
}

MTExcepData AddConstant(MTParser& p, const std::string& name) {
  return CaughtError([&] { p.registerConstant(name, 1.0); });
}

double slot = 0;
MTExcepData AddVariable(MTParser& p, const std::string& name) {
  return CaughtError([&] { p.registerVariable(name, &slot); });
}

void ExpectError(const MTExcepData& e, const char* id, const char* item = nullptr,
                 const char* conflict = nullptr) {
  EXPECT_EQ(e.id, id);
  if (item) {
    EXPECT_EQ(e.param("itemName"), item);
  }
  if (conflict) {
    EXPECT_EQ(e.param("conflictItemName"), conflict);
  }
}

TEST(FormulaRegistrar, OperatorChecksInOrder) {
  MTParser p;
  const auto count = p.operatorCount();
  ExpectError(AddOperator(p, ""), "MTDEFEXCEP_OpNameNull");
  EXPECT_EQ(AddOperator(p, "").description, "Operator name cannot be null");
  ExpectError(AddOperator(p, "a b"), "MTDEFEXCEP_OpNameSpace", "a b");
  ExpectError(AddOperator(p, " ", -1), "MTDEFEXCEP_OpNameSpace");  // space before precedence
  ExpectError(AddOperator(p, "@", -1), "MTDEFEXCEP_OpPrecedence", "@");
  ExpectError(AddOperator(p, "@", 10000), "MTDEFEXCEP_OpPrecedence", "@");
  ExpectError(AddOperator(p, "+", 500, false), "MTDEFEXCEP_OpAlreadyDefined", "+");
  ExpectError(AddOperator(p, "!", 800, true), "MTDEFEXCEP_OpAlreadyDefined", "!");
  ExpectError(AddOperator(p, "@,"), "MTDEFEXCEP_OpNameSyntaxConflict", "@,", ",");
  ExpectError(AddOperator(p, "@("), "MTDEFEXCEP_OpNameSyntaxConflict", "@(", "(");
  ExpectError(AddOperator(p, ")"), "MTDEFEXCEP_OpNameSyntaxConflict", ")", ")");
  ExpectError(AddOperator(p, "in"), "MTDEFEXCEP_FuncNameOpConflict", "sin", "in");
  ExpectError(AddOperator(p, "a"), "MTDEFEXCEP_FuncNameOpConflict", "asin", "a");
  p.registerConstant("kappa", 2);
  ExpectError(AddOperator(p, "pp"), "MTDEFEXCEP_ConstNameOpConflict", "kappa", "pp");
  EXPECT_EQ(p.operatorCount(), count);  // a failed definition changes nothing
  // An infix operator may share its symbol with a prefix one.
  EXPECT_EQ(AddOperator(p, "!", 300, false).id, "none");
  EXPECT_EQ(AddOperator(p, "*", 800, true).id, "none");
  EXPECT_EQ(p.operatorCount(), count + 2);
}

TEST(FormulaRegistrar, FunctionChecksInOrder) {
  MTParser p;
  const auto count = p.functionCount();
  ExpectError(AddFunction(p, ""), "MTDEFEXCEP_FuncNameNull");
  ExpectError(AddFunction(p, "f g"), "MTDEFEXCEP_FuncNameSpace", "f g");
  ExpectError(AddFunction(p, "sin", 1), "MTDEFEXCEP_FuncAlreadyDefined", "sin");
  ExpectError(AddFunction(p, "min", -1), "MTDEFEXCEP_FuncAlreadyDefined", "min");
  ExpectError(AddFunction(p, "f,g"), "MTDEFEXCEP_FuncNameSyntaxConflict", "f,g", ",");
  ExpectError(AddFunction(p, "f)"), "MTDEFEXCEP_FuncNameSyntaxConflict", "f)", ")");
  ExpectError(AddFunction(p, "a+b"), "MTDEFEXCEP_FuncNameOpConflict", "a+b", "+");
  ExpectError(AddFunction(p, "a<=b"), "MTDEFEXCEP_FuncNameOpConflict", "a<=b", "<");
  EXPECT_EQ(p.functionCount(), count);
  EXPECT_EQ(AddFunction(p, "sin", 2).id, "none");  // another argument count is an overload
  EXPECT_EQ(p.functionCount(), count + 1);
}

TEST(FormulaRegistrar, ConstantChecksInOrder) {
  MTParser p;
  p.registerVariable("v", &slot);
  ExpectError(AddConstant(p, ""), "MTDEFEXCEP_ConstNameNull");
  ExpectError(AddConstant(p, "a b"), "MTDEFEXCEP_ConstNameSpace", "a b");
  ExpectError(AddConstant(p, "NaN"), "MTDEFEXCEP_ConstAlreadyDefined", "NaN");
  ExpectError(AddConstant(p, "12"), "MTDEFEXCEP_ConstNameOnlyNum", "12");
  ExpectError(AddConstant(p, "1.5"), "MTDEFEXCEP_ConstNameOnlyNum", "1.5");
  ExpectError(AddConstant(p, "c,d"), "MTDEFEXCEP_ConstNameSyntaxConflict", "c,d", ",");
  ExpectError(AddConstant(p, "c-d"), "MTDEFEXCEP_ConstNameOpConflict", "c-d", "-");
  ExpectError(AddConstant(p, "v"), "MTDEFEXCEP_ConstNameVarConflict", "v");
  EXPECT_EQ(p.constantCount(), 1u);
  EXPECT_EQ(AddConstant(p, "1.5.2").id, "none");  // two decimal points: not a number
  EXPECT_EQ(p.constantValue("1.5.2"), 1.0);
}

TEST(FormulaRegistrar, VariableChecksInOrder) {
  MTParser p;
  p.registerVariable("x", &slot);
  ExpectError(AddVariable(p, ""), "MTDEFEXCEP_VarNameNull");
  ExpectError(AddVariable(p, "a b"), "MTDEFEXCEP_VarNameSpace", "a b");
  ExpectError(AddVariable(p, "x"), "MTDEFEXCEP_VarAlreadyDefined", "x");
  ExpectError(AddVariable(p, "12"), "MTDEFEXCEP_VarNameOnlyNum", "12");
  ExpectError(AddVariable(p, "NaN"), "MTDEFEXCEP_VarNameConstConflict", "NaN");
  ExpectError(AddVariable(p, "a,b"), "MTDEFEXCEP_VarNameSyntaxConflict", "a,b", ",");
  ExpectError(AddVariable(p, "a+b"), "MTDEFEXCEP_VarNameDelimConflict", "a+b", "+");
  EXPECT_EQ(p.variableCount(), 1u);
  const auto e = AddVariable(p, "a+b");
  EXPECT_EQ(e.description, "Variable name 'a+b' conflicts with the operator: '+'");
}

TEST(FormulaRegistrar, SyntaxChange) {
  MTParser p;
  const auto e = CaughtError([&] { p.changeSyntax({'.', '.'}); });
  EXPECT_EQ(e.id, "MTDEFEXCEP_SyntaxArgDecConflict");
  EXPECT_EQ(e.description, "Unknown exception: MTDEFEXCEP_SyntaxArgDecConflict");
  EXPECT_EQ(p.readSyntax().argSeparator, ',');

  p.registerConstant("a;b", 1);
  ExpectError(CaughtError([&] { p.changeSyntax({'.', ';'}); }),
              "MTDEFEXCEP_ConstNameSyntaxConflict", "a;b", ";");
  EXPECT_EQ(p.readSyntax().argSeparator, ',');  // unchanged after a refusal

  p.registerFunction(std::make_unique<TestFunction>("f:g", 1, 0));
  ExpectError(CaughtError([&] { p.changeSyntax({'.', ':'}); }),
              "MTDEFEXCEP_FuncNameSyntaxConflict", "f:g", ":");
  p.registerOperator(std::make_unique<TestOperator>("#", 500, false));
  ExpectError(CaughtError([&] { p.changeSyntax({'.', '#'}); }),
              "MTDEFEXCEP_OpNameSyntaxConflict", "#", "#");
  p.changeSyntax({',', '$'});
  EXPECT_EQ(p.readSyntax().decimalPoint, ',');
}

TEST(FormulaRegistrar, LongerOperatorDefinedLaterStillWins) {
  MTParser p;
  p.registerOperator(std::make_unique<TestOperator>("**", 700, false));
  EXPECT_EQ(p.compileAndEvaluate("2**3"), 8);
  EXPECT_EQ(p.compileAndEvaluate("2*3"), 6);
}

TEST(FormulaRegistrar, FunctionChosenByArgumentCount) {
  MTParser p;
  p.registerFunction(std::make_unique<TestFunction>("pick", 2, 2));
  p.registerFunction(std::make_unique<TestFunction>("pick", -1, -1));
  p.registerFunction(std::make_unique<TestFunction>("pick", 0, 100));
  EXPECT_EQ(p.compileAndEvaluate("pick(1,1)"), 2);
  EXPECT_EQ(p.compileAndEvaluate("pick(1)"), -1);
  EXPECT_EQ(p.compileAndEvaluate("pick(1,2,3,4)"), -1);
  EXPECT_EQ(p.compileAndEvaluate("pick()"), 100);

  p.registerFunction(std::make_unique<TestFunction>("two", 2, 2));
  const auto e = CaughtError([&] { p.compileAndEvaluate("two(1)"); });
  ExpectError(e, "MTPARSINGEXCEP_OverloadedFuncNotFound", "two");
}

TEST(FormulaRegistrar, LastAnyCountFallbackWins) {
  MTParser p;
  p.registerFunction(std::make_unique<TestFunction>("g", -1, 1));
  // Same symbol and argument count is refused, so the second any-count needs another symbol.
  EXPECT_EQ(AddFunction(p, "g", -1).id, "MTDEFEXCEP_FuncAlreadyDefined");
  EXPECT_EQ(p.compileAndEvaluate("g(1,2)"), 1);
}

TEST(FormulaRegistrar, UnaryOperatorOfLowPrecedenceStillTakesItsOperand) {
  MTParser p;
  // -a[0] * 10 for one operand
  p.registerOperator(std::make_unique<TestOperator>("~", 100, true));
  EXPECT_EQ(p.compileAndEvaluate("2^~1"), 1.0 / 1024);
  EXPECT_EQ(p.compileAndEvaluate("~1+1"), -20);  // binds looser than "+"
}

TEST(FormulaRegistrar, LookupsById) {
  MTParser p;
  EXPECT_EQ(p.operatorById("unaryMinus").symbol(), "-");
  EXPECT_EQ(p.functionById("minUndef").argCount(), -1);
  const auto e = CaughtError([&] { p.operatorById("nothing"); });
  ExpectError(e, "MTDEFEXCEP_ItemNotFound", "nothing");
  EXPECT_EQ(e.description, "Cannot find the specified item: id = nothing");
  EXPECT_EQ(CaughtError([&] { p.functionById("nothing"); }).id, "MTDEFEXCEP_ItemNotFound");
  EXPECT_EQ(CaughtError([&] { p.constantValue("pi"); }).id, "MTDEFEXCEP_ItemNotFound");
  EXPECT_EQ(CaughtError([&] { p.operatorAt(99); }).id, "MTDEFEXCEP_ItemNotFound");
}

}  // namespace
}  // namespace ortavia
