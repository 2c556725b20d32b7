#include "passport/distortion_formula.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <vector>

namespace ortavia::passport {
namespace {

struct Coefficient {
  const char* name;     // as it is searched in the lower-cased formula
  const char* missing;  // the formula lacks it
  int row;              // -1: a variable, nothing to put in
  const char* undefined;
};

const std::vector<Coefficient>& CoefficientsOf(CurveKind kind) {
  static const std::vector<Coefficient> radial = {
      {"k1", "Formula doesn't contain K1", kRowK1, "K1 not defined!"},
      {"k2", "Formula doesn't contain K2", kRowK2, "K2 not defined!"},
      {"k3", "Formula doesn't contain K3", kRowK3, "K3 not defined!"},
      {"r", "Formula doesn't contain r (radius)", -1, nullptr},
  };
  static const std::vector<Coefficient> tangential = {
      {"p1", "Formula doesn't contain P1", kRowP1, "P1 not defined!"},
      {"p2", "Formula doesn't contain P2", kRowP2, "P2 not defined!"},
  };
  return kind == CurveKind::kRadial ? radial : tangential;
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

std::string MessageOf(const MTChainedExceptions& e) { return e.description(); }

}  // namespace

std::optional<ParserFailure> FormulaParser::Create() {
  parser_.reset();
  try {
    parser_ = std::make_unique<MTParser>();
    parser_->registerConstant("pi", 3.14159265359);
    parser_->registerConstant("e", 2.718281828459045);
  } catch (const MTChainedExceptions& e) {
    parser_.reset();
    return ParserFailure{kParserCreationCaption, MessageOf(e)};
  }
  try {
    ParserSyntax syntax = parser_->readSyntax();
    syntax.decimalPoint = '.';
    syntax.argSeparator = ',';
    parser_->changeSyntax(syntax);
    parser_->removeAllVariables();
    parser_->registerVariable("x", &x);
    parser_->registerVariable("y", &y);
    parser_->registerVariable("r", &r);
  } catch (const MTChainedExceptions& e) {
    parser_.reset();
    return ParserFailure{kParserInitializeCaption, MessageOf(e)};
  }
  return std::nullopt;
}

std::string ReplaceAll(std::string text, const std::string& name, const std::string& value) {
  if (name.empty()) return text;
  for (std::size_t at = text.find(name); at != std::string::npos;
       at = text.find(name, at + value.size()))
    text.replace(at, name.size(), value);
  return text;
}

CurveOutcome SampleDistortionCurve(FormulaParser& fp, CurveKind kind, const PassportTable& table) {
  using Status = CurveOutcome::Status;
  CurveOutcome out;
  MTParser* parser = fp.Parser();
  if (parser == nullptr) {
    out.status = Status::kFormulaError;
    out.message = kParserNotCreatedText;
    return out;
  }
  const int formulaRow = kind == CurveKind::kRadial ? kRowRadialFormula : kRowTangentialDx;
  std::string formula = table[formulaRow].value;
  if (formula.empty()) {
    out.status = Status::kNoFormula;
    out.message = kNoFormulaText;
    return out;
  }
  formula = Lower(formula);
  const auto& coefficients = CoefficientsOf(kind);
  for (const Coefficient& c : coefficients) {
    if (formula.find(c.name) == std::string::npos) {
      out.status = Status::kMissingName;
      out.message = c.missing;
      return out;
    }
  }
  for (const Coefficient& c : coefficients) {
    if (c.row < 0) continue;
    const std::string& value = table[c.row].value;
    if (value.empty()) {
      out.status = Status::kMissingValue;
      out.message = c.undefined;
      return out;
    }
    formula = ReplaceAll(formula, c.name, value);
  }
  out.substituted = formula;

  std::array<double, kCurvePoints> values{};
  try {
    for (int i = 0; i < kCurvePoints; ++i) {
      fp.r = i;
      values[i] = parser->compileAndEvaluate(formula);
      if (!std::isfinite(values[i])) {
        out.status = Status::kNotFinite;
        out.message = "The formula has no finite value at r = " + std::to_string(i);
        return out;
      }
    }
  } catch (const MTChainedExceptions& e) {
    out.status = Status::kFormulaError;
    out.message = MessageOf(e);
    return out;
  }
  out.status = Status::kDrawn;
  out.values = values;
  return out;
}

}  // namespace ortavia::passport
