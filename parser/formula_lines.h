#pragma once
// The line checker behind ortavia-formula: one expression per line in, one value or error out.
#include <iosfwd>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ortavia {

class MTParser;

struct FormulaToolOptions {
  std::vector<std::pair<std::string, double>> variables;  // --var name=value, in order
  bool help = false;
};

// Reads the command line; returns false with a message on anything it does not understand.
bool ParseFormulaToolArgs(const std::vector<std::string>& args, FormulaToolOptions& options,
                          std::string& error);

std::string FormulaToolUsage();

// A parser with the constants "pi" and "e" of the passport dialog.
void RegisterFormulaConstants(MTParser& parser);

// "%.17g" of the value (NaN always reads "nan"), or "error: ID: description (pos N)".
std::string EvaluateFormulaLine(MTParser& parser, std::string_view line);

// Evaluates every line of in; returns the process exit code (2 on a bad variable definition).
int RunFormulaLines(std::istream& in, std::ostream& out, std::ostream& err,
                    const FormulaToolOptions& options);

}  // namespace ortavia
