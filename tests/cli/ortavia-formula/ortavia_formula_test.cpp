// ortavia-formula as a user runs it: lines on standard input, results on standard output.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>

#include "support/test_env.h"

namespace {

struct ToolRun {
  int exitCode = -1;
  std::string out;
};

ToolRun RunTool(const std::string& input, const std::string& args = "") {
  const auto dir = ortavia::test::MakeTempDir("formula");
  const auto inPath = dir / "in.txt";
  std::ofstream(inPath, std::ios::binary) << input;
  const std::string cmd =
      std::string("'") + TOOL_PATH + "' " + args + " < '" + inPath.string() + "' 2>&1";
  ToolRun run;
  FILE* pipe = popen(cmd.c_str(), "r");
  if (!pipe) return run;
  std::array<char, 4096> buf{};
  std::size_t n = 0;
  while ((n = fread(buf.data(), 1, buf.size(), pipe)) > 0) run.out.append(buf.data(), n);
  const int status = pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

TEST(OrtaviaFormula, PrintsOneValueOrErrorPerLine) {
  const ToolRun r = RunTool("2^3^2\n-2^2\n2+\nx*2\nfact(13)\n", "--var x=1.5");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out,
            "64\n4\nerror: MTPARSINGEXCEP_UnexpectedOp: Unexpected operator (pos 1)\n3\n"
            "6227020800\n");
}

TEST(OrtaviaFormula, RefusesBadArguments) {
  const ToolRun r = RunTool("1\n", "--var x");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.out.find("Usage: ortavia-formula"), std::string::npos);
  EXPECT_EQ(RunTool("1\n", "--var 12=1").exitCode, 2);
  const ToolRun help = RunTool("", "--help");
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("--var name=value"), std::string::npos);
}

TEST(OrtaviaFormula, SurvivesRandomBytesAndDeepNesting) {
  std::mt19937 rng(7);
  std::string input;
  int lines = 0;
  for (int i = 0; i < 300; ++i, ++lines) {
    for (int k = rng() % 80; k > 0; --k) {
      const char c = static_cast<char>(rng() & 0xFF);
      input += c == '\n' ? ' ' : c;
    }
    input += '\n';
  }
  input += std::string(100000, '(') + "1" + std::string(100000, ')') + "\n";
  ++lines;
  const ToolRun r = RunTool(input);
  EXPECT_EQ(r.exitCode, 0);
  int outLines = 0;
  for (char c : r.out) outLines += c == '\n';
  EXPECT_EQ(outLines, lines);
  EXPECT_EQ(r.out.substr(r.out.size() - 2), "1\n");
}

}  // namespace
