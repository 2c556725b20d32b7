#include "parser/formula_lines.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <deque>
#include <istream>
#include <ostream>

#include "parser/parser.h"

namespace ortavia {

namespace {

std::string FormatError(const MTChainedExceptions& e) {
  std::string text = "error: " + e.id() + ": " + e.description();
  if (e.data().hasParam("pos")) text += " (pos " + e.data().param("pos") + ")";
  return text;
}

bool ParseVariable(std::string_view text, std::pair<std::string, double>& var) {
  const auto eq = text.find('=');
  if (eq == std::string_view::npos || eq == 0) return false;
  std::string_view number = text.substr(eq + 1);
  if (!number.empty() && number.front() == '+') number.remove_prefix(1);
  double value = 0.0;
  const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
  if (number.empty() || ec != std::errc() || end != number.data() + number.size()) return false;
  var = {std::string(text.substr(0, eq)), value};
  return true;
}

// One line without its end, keeping at most limit + 1 characters so an endless line costs no
// more memory than that (the parser then refuses it as too long); false at the end of input.
bool ReadLine(std::istream& in, std::string& line, std::size_t limit) {
  line.clear();
  std::streambuf* buf = in.rdbuf();
  bool any = false;
  for (;;) {
    const int c = buf->sbumpc();
    if (c == std::char_traits<char>::eof()) return any;
    any = true;
    if (c == '\n') return true;
    if (line.size() <= limit) line += static_cast<char>(c);
  }
}

}  // namespace

std::string FormulaToolUsage() {
  return "Usage: ortavia-formula [--var name=value]...\n"
         "Reads one expression per line from standard input and prints its value, or\n"
         "\"error: IDENTIFIER: description (pos N)\" when the expression is not valid.\n"
         "The constants pi and e are defined; each --var defines a variable.\n"
         "\n"
         "Options:\n"
         "  --var name=value  define a variable (also --var=name=value); may be repeated\n"
         "  -h, --help        print this help and exit\n";
}

bool ParseFormulaToolArgs(const std::vector<std::string>& args, FormulaToolOptions& options,
                          std::string& error) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      options.help = true;
      continue;
    }
    std::string definition;
    if (a == "--var") {
      if (i + 1 >= args.size()) {
        error = "--var needs name=value";
        return false;
      }
      definition = args[++i];
    } else if (a.rfind("--var=", 0) == 0) {
      definition = a.substr(6);
    } else {
      error = "unknown argument: " + a;
      return false;
    }
    std::pair<std::string, double> var;
    if (!ParseVariable(definition, var)) {
      error = "bad variable definition (expected name=number): " + definition;
      return false;
    }
    options.variables.push_back(std::move(var));
  }
  return true;
}

void RegisterFormulaConstants(MTParser& parser) {
  parser.registerConstant("pi", 3.14159265359);
  parser.registerConstant("e", 2.718281828459045);
}

std::string EvaluateFormulaLine(MTParser& parser, std::string_view line) {
  try {
    const double v = parser.compileAndEvaluate(line);
    if (std::isnan(v)) return "nan";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
  } catch (const MTChainedExceptions& e) {
    return FormatError(e);
  }
}

int RunFormulaLines(std::istream& in, std::ostream& out, std::ostream& err,
                    const FormulaToolOptions& options) {
  MTParser parser;
  RegisterFormulaConstants(parser);
  std::deque<double> values;  // stable addresses for the bound variables
  try {
    for (const auto& [name, value] : options.variables) {
      values.push_back(value);
      parser.registerVariable(name, &values.back());
    }
  } catch (const MTChainedExceptions& e) {
    err << FormatError(e) << '\n';
    return 2;
  }
  std::string line;
  while (ReadLine(in, line, MTParserCompiler::kMaxWrittenLength)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out << EvaluateFormulaLine(parser, line) << '\n';
    out.flush();
  }
  return 0;
}

}  // namespace ortavia
