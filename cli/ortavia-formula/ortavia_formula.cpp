// ortavia-formula: checks formulas by hand, one expression per line on standard input.
#include <iostream>
#include <string>
#include <vector>

#include "parser/formula_lines.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  ortavia::FormulaToolOptions options;
  std::string error;
  if (!ortavia::ParseFormulaToolArgs(std::vector<std::string>(argv + 1, argv + argc), options,
                                     error)) {
    std::cerr << "ortavia-formula: " << error << '\n' << ortavia::FormulaToolUsage();
    return 2;
  }
  if (options.help) {
    std::cout << ortavia::FormulaToolUsage();
    return 0;
  }
  return ortavia::RunFormulaLines(std::cin, std::cout, std::cerr, options);
}
