#pragma once
// The distortion formulas of the passport table: the parser they are checked with, the check of a
// formula row, the substitution of the passport's coefficients and the curve at r = 0 .. 14.
#include <array>
#include <memory>
#include <optional>
#include <string>

#include "parser/parser.h"
#include "passport/passport_table.h"

namespace ortavia::passport {

inline constexpr const char* kParserCreationCaption = "Parser Creation Error";
inline constexpr const char* kParserInitializeCaption = "Parser Initialize Error";
inline constexpr const char* kParserNotCreatedText = "Unable to create the formula parser!";
inline constexpr const char* kFormulaErrorCaption = "Formula Error";
inline constexpr const char* kNoFormulaText = "Please insert a formula into the related row";
inline constexpr int kCurvePoints = 15;

// A failure the operator sees in an error box: caption and the parser's message.
struct ParserFailure {
  std::string caption;
  std::string text;
};

// The dialog's parser with the variables x, y and r it is bound to.
class FormulaParser {
 public:
  // Creates the parser with the constants pi and e, then sets the syntax ('.' and ',') and the
  // variables x, y, r. On a failure the parser is unusable (Parser() is null afterwards).
  std::optional<ParserFailure> Create();
  MTParser* Parser() { return parser_.get(); }

  double x = 0.0, y = 0.0, r = 0.0;

 private:
  std::unique_ptr<MTParser> parser_;
};

enum class CurveKind { kRadial = 0, kTangential = 1 };

struct CurveOutcome {
  enum class Status {
    kDrawn,
    kNoFormula,     // information: "Please insert a formula into the related row"
    kMissingName,   // information: "Formula doesn't contain K1" ...
    kMissingValue,  // exclamation: "K1 not defined!" ...
    kFormulaError,  // error box, caption kFormulaErrorCaption: the parser's message
    kNotFinite,     // warning: a sample is NaN or infinite
  };
  Status status = Status::kNoFormula;
  std::string message;
  std::string substituted;  // the formula with the coefficients put in (lower case)
  std::array<double, kCurvePoints> values{};  // at r = 0, 1, ..., 14
};

// Checks the formula row of the kind, puts in the coefficients of the table's value column and
// evaluates the result at r = 0 .. 14 with x = y = 0. Only kDrawn carries values: anything else
// leaves the caller's previous curve standing.
CurveOutcome SampleDistortionCurve(FormulaParser& parser, CurveKind kind, const PassportTable& table);

// Every occurrence of name in text replaced by value.
std::string ReplaceAll(std::string text, const std::string& name, const std::string& value);

}  // namespace ortavia::passport
