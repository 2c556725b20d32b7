// The line checker behind ortavia-formula.
#include <sstream>

#include "parser/compiler.h"
#include "parser/formula_lines.h"
#include "tests/parser/parser_test_util.h"

namespace ortavia {
namespace {

std::string RunLines(const std::string& input, const std::vector<std::string>& args, int* rc = nullptr,
                std::string* errText = nullptr) {
  FormulaToolOptions options;
  std::string error;
  EXPECT_TRUE(ParseFormulaToolArgs(args, options, error)) << error;
  std::istringstream in(input);
  std::ostringstream out, err;
  const int code = RunFormulaLines(in, out, err, options);
  if (rc) *rc = code;
  if (errText) *errText = err.str();
  return out.str();
}

TEST(FormulaLines, OneResultPerLine) {
  EXPECT_EQ(RunLines("1+2\n0.1\n\n1/0\n-1/0\nq\npi\ne\n", {}),
            "3\n0.10000000000000001\nnan\ninf\n-inf\n"
            "error: MTPARSINGEXCEP_UndefinedVar: Undefined variable: 'q' (pos 0)\n"
            "3.1415926535900001\n2.7182818284590451\n");
}

TEST(FormulaLines, VariablesFromTheCommandLine) {
  EXPECT_EQ(RunLines("k1*r^3+k2*r^5\nr\n", {"--var", "k1=0.5", "--var=k2=-2e-1", "--var", "r=2"}),
            "-2.4000000000000004\n2\n");
}

TEST(FormulaLines, NaNIsAlwaysWrittenTheSameWay) {
  EXPECT_EQ(RunLines("NaN\n-NaN\n0/0\nsqrt(-1)\n", {}), "nan\nnan\nnan\nnan\n");
}

TEST(FormulaLines, WindowsLineEndsAndLastLineWithoutEnd) {
  EXPECT_EQ(RunLines("1+1\r\n2*3", {}), "2\n6\n");
}

TEST(FormulaLines, OverlongLineIsRefusedAndReadingGoesOn) {
  const std::string longLine(MTParserCompiler::kMaxWrittenLength + 100, ' ');
  EXPECT_EQ(RunLines(longLine + "\n1+1\n", {}),
            "error: MTEXCEP_OutOfMemory: Out of memory\n2\n");
}

TEST(FormulaLines, BadVariableDefinitions) {
  FormulaToolOptions options;
  std::string error;
  EXPECT_FALSE(ParseFormulaToolArgs({"--var", "x"}, options, error));
  EXPECT_FALSE(ParseFormulaToolArgs({"--var", "x=abc"}, options, error));
  EXPECT_FALSE(ParseFormulaToolArgs({"--var", "=1"}, options, error));
  EXPECT_FALSE(ParseFormulaToolArgs({"--var"}, options, error));
  EXPECT_FALSE(ParseFormulaToolArgs({"--frobnicate"}, options, error));
  int rc = 0;
  std::string err;
  EXPECT_EQ(RunLines("1\n", {"--var", "pi=3"}, &rc, &err), "");
  EXPECT_EQ(rc, 2);
  EXPECT_EQ(err,
            "error: MTDEFEXCEP_VarNameConstConflict: Variable name 'pi' conflicts with the "
            "constant of the same name.\n");
  RunLines("1\n", {"--var", "a+b=3"}, &rc, &err);
  EXPECT_EQ(rc, 2);
  EXPECT_NE(err.find("MTDEFEXCEP_VarNameDelimConflict"), std::string::npos);
}

}  // namespace
}  // namespace ortavia
