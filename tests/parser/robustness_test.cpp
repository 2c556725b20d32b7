// Any text gives a value or an MTChainedExceptions: random bytes, token soup, deep nesting.
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "tests/parser/parser_test_util.h"

namespace ortavia {
namespace {

// Compiles and evaluates; true when it gave a value, false on a parser error. Anything else
// escapes and fails the test.
bool Survives(MTParser& p, const std::string& text) {
  try {
    p.compileAndEvaluate(text);
    return true;
  } catch (const MTChainedExceptions& e) {
    EXPECT_FALSE(e.id().empty());
    EXPECT_FALSE(e.description().empty());
    return false;
  }
}

TEST(FormulaRobustness, RandomBytes) {
  std::mt19937 rng(1234);
  MTParser p;
  double x = 1.5;
  p.registerVariable("x", &x);
  for (int i = 0; i < 20000; ++i) {
    std::string text(rng() % 64, '\0');
    for (char& c : text) c = static_cast<char>(rng() & 0xFF);
    Survives(p, text);
  }
}

TEST(FormulaRobustness, RandomTokenSoup) {
  const std::vector<std::string> vocabulary = {
      "1", "2.5", ".5", "5.", "x", "NaN", "q", "+", "-", "*", "/", "^", "%", "<", ">", "<=", ">=",
      "==", "!=", "!", "&", "|", "(", ")", ",", " ", "sin", "min", "sum", "rand", "hex(ff)",
      "bin(", "hex", "if", "fact", "1e3", "..", "\t", "\xff"};
  std::mt19937 rng(99);
  MTParser p;
  double x = 0.25;
  p.registerVariable("x", &x);
  int values = 0;
  for (int i = 0; i < 50000; ++i) {
    std::string text;
    const int n = 1 + static_cast<int>(rng() % 12);
    for (int k = 0; k < n; ++k) text += vocabulary[rng() % vocabulary.size()];
    if (Survives(p, text)) {
      ++values;
      EXPECT_NO_THROW(p.evaluateCompiled());
    }
  }
  EXPECT_GT(values, 1000);  // the soup is not all errors
}

TEST(FormulaRobustness, DeeplyNestedBracketsEvaluate) {
  const int depth = 100000;
  MTParser p;
  EXPECT_EQ(p.compileAndEvaluate(std::string(depth, '(') + "1" + std::string(depth, ')')), 1);
  EXPECT_EQ(test::CaughtError([&] { p.compileAndEvaluate(std::string(depth, '(') + "1"); }).id,
            "MTPARSINGEXCEP_MissingCloseBracket");
  EXPECT_EQ(test::CaughtError([&] { p.compileAndEvaluate("1" + std::string(depth, ')')); }).id,
            "MTPARSINGEXCEP_MissingOpenBracket");
  std::string nested;
  for (int i = 0; i < depth; ++i) nested += "abs(";
  nested += "-2" + std::string(depth, ')');
  EXPECT_EQ(p.compileAndEvaluate(nested), 2);
}

TEST(FormulaRobustness, LongChainsWithVariables) {
  const int n = 100000;
  MTParser p;
  double x = 1;
  p.registerVariable("x", &x);
  EXPECT_EQ(p.compileAndEvaluate(std::string(n, '-') + "x"), 1);  // an even count
  std::string sum = "x";
  for (int i = 1; i < n; ++i) sum += "+x";
  EXPECT_EQ(p.compileAndEvaluate(sum), n);
  std::string right;
  for (int i = 1; i < n; ++i) right += "x+(";
  right += "x" + std::string(n - 1, ')');
  p.compile(right);
  x = 2;
  EXPECT_EQ(p.evaluateCompiled(), 2.0 * n);
}

TEST(FormulaRobustness, LongWordsAndLiterals) {
  MTParser p;
  EXPECT_EQ(test::CaughtError([&] { p.compileAndEvaluate(std::string(1000000, 'a')); }).id,
            "MTPARSINGEXCEP_UndefinedVar");
  EXPECT_EQ(p.compileAndEvaluate("hex(" + std::string(100000, 'f') + ")"), INFINITY);
  EXPECT_EQ(p.compileAndEvaluate(std::string(1000000, ' ') + "1"), 1);
}

TEST(FormulaRobustness, OverlongTextIsRefused) {
  MTParser p;
  const auto kept = test::CaughtError([&] {
    p.compileAndEvaluate(std::string(MTParserCompiler::kMaxKeptLength + 1, '1'));
  });
  EXPECT_EQ(kept.id, "MTEXCEP_OutOfMemory");
  EXPECT_EQ(kept.description, "Out of memory");
  EXPECT_EQ(test::CaughtError([&] {
              p.compileAndEvaluate(std::string(MTParserCompiler::kMaxWrittenLength + 1, ' '));
            }).id,
            "MTEXCEP_OutOfMemory");
  EXPECT_TRUE(std::isnan(p.evaluateCompiled()));
  EXPECT_EQ(p.compileAndEvaluate(std::string(MTParserCompiler::kMaxKeptLength, '1')), INFINITY);
}

}  // namespace
}  // namespace ortavia
