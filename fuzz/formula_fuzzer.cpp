// The formula parser: compile and evaluate an expression typed by hand. The first byte chooses the
// parser's setup; the rest is the expression.
//
// Invariants: compiling then evaluating gives the same value as compileAndEvaluate (or the same
// error), evaluating a program twice gives the same value, and a failed compilation leaves a
// program that evaluates to NaN.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <sstream>
#include <string>

#include "fuzz/fuzz_support.h"
#include "parser/formula_lines.h"
#include "parser/parser.h"

namespace {

using ortavia::MTChainedExceptions;
using ortavia::MTParser;
using ortavia::fuzz::Check;

enum Setup : std::uint8_t {
  kAutoVariables = 1,    // unknown names become variables
  kOtherSyntax = 2,      // decimal comma, ';' between arguments
  kBoundVariables = 4,   // x, y, r, k1, k2 bound to doubles
  kThroughTool = 8,      // the whole text through the line checker of ortavia-formula
};

struct Outcome {
  std::optional<double> value;
  std::string error;  // identifier of the first record
};

bool Same(const Outcome& a, const Outcome& b) {
  if (a.value.has_value() != b.value.has_value()) return false;
  if (!a.value) return a.error == b.error;
  return *a.value == *b.value || (std::isnan(*a.value) && std::isnan(*b.value));
}

// rand() gives another value each time; its programs are only run, not compared. The parser
// drops every space before reading a name, so "r and()" calls it too.
bool Deterministic(std::string_view text) {
  std::string packed(text);
  std::erase(packed, ' ');
  for (std::size_t i = 0; i + 4 <= packed.size(); ++i)
    if (strncasecmp(packed.data() + i, "rand", 4) == 0) return false;
  return true;
}

struct Bound {
  double x = 0.25, y = -1.5, r = 2.0, k1 = 1e-3, k2 = -2e-7;
};

// The parsers are made once (registering the vocabulary costs far more than a compilation) and
// brought back to the same state for every input: no variables, the syntax of the setup.
MTParser& Prepared(int which, std::uint8_t setup, Bound& bound) {
  static MTParser* parsers[2] = {nullptr, nullptr};
  if (!parsers[which]) {
    parsers[which] = new MTParser;
    ortavia::RegisterFormulaConstants(*parsers[which]);
  }
  MTParser& parser = *parsers[which];
  parser.removeAllVariables();
  parser.changeSyntax(setup & kOtherSyntax ? ortavia::ParserSyntax{',', ';'} : ortavia::ParserSyntax{});
  if (setup & kBoundVariables) {
    parser.registerVariable("x", &bound.x);
    parser.registerVariable("y", &bound.y);
    parser.registerVariable("r", &bound.r);
    parser.registerVariable("k1", &bound.k1);
    parser.registerVariable("k2", &bound.k2);
  }
  parser.enableAutoVarDefinition((setup & kAutoVariables) != 0);
  return parser;
}

Outcome CompileThenEvaluate(MTParser& parser, std::string_view text, bool deterministic) {
  Outcome out;
  try {
    parser.compile(text);
  } catch (const MTChainedExceptions& e) {
    Check(e.size() >= 1 && !e.id().empty(), "an error without identifier");
    out.error = e.id();
    Check(std::isnan(parser.evaluateCompiled()), "a failed compilation left a program");
    return out;
  }
  const double first = parser.evaluateCompiled();
  const double second = parser.evaluateCompiled();
  if (deterministic)
    Check(first == second || (std::isnan(first) && std::isnan(second)),
          "a program gives two values");
  out.value = first;
  return out;
}

Outcome CompileAndEvaluate(MTParser& parser, std::string_view text) {
  Outcome out;
  try {
    out.value = parser.compileAndEvaluate(text);
  } catch (const MTChainedExceptions& e) {
    out.error = e.id();
  }
  return out;
}

void ThroughTool(std::string_view text) {
  std::istringstream in{std::string(text)};
  std::ostringstream out, err;
  ortavia::FormulaToolOptions options;
  options.variables = {{"x", 0.5}, {"r", 3.0}};
  Check(ortavia::RunFormulaLines(in, out, err, options) == 0, "the line checker failed");
  // One answer per line read.
  std::size_t lines = 0, answers = 0;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (text[i] == '\n' || i + 1 == text.size()) ++lines;
  for (const char c : out.str()) answers += c == '\n';
  Check(lines == answers, "the line checker skipped or added an answer");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ortavia::fuzz::Input input(data, size);
  const std::uint8_t setup = input.Byte();
  const std::string_view text = input.Rest();
  if (setup & kThroughTool) {
    ThroughTool(text);
    return 0;
  }
  const bool deterministic = Deterministic(text);
  try {
    // Auto variables are defined by the first compilation; the second parser sees the same text
    // from the same start.
    Bound bound, otherBound;
    const Outcome stepwise = CompileThenEvaluate(Prepared(0, setup, bound), text, deterministic);
    const Outcome direct = CompileAndEvaluate(Prepared(1, setup, otherBound), text);
    if (deterministic)
      Check(Same(stepwise, direct), "compile + evaluate differs from compileAndEvaluate");
  } catch (const MTChainedExceptions&) {
    Check(false, "the parser's setup was refused");
  }
  return 0;
}
