#pragma once
// Turns an expression text into a program of items in postfix order (shunting-yard with one
// token-kind record per bracket level), folds constant sub-expressions and binds variables.
// Iterative throughout, so nesting depth is bounded only by the length of the text.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "parser/program.h"
#include "parser/registrar.h"

namespace ortavia {

class MTCompilerPublicI {
 public:
  virtual ~MTCompilerPublicI() = default;
  // Replaces the current program by the compiled expression; on failure no program is left and
  // evaluation gives NaN until the next successful compilation.
  virtual void compile(std::string_view expression) = 0;
  virtual double evaluateCompiled() = 0;
  virtual double compileAndEvaluate(std::string_view expression) = 0;
  virtual void enableAutoVarDefinition(bool enable) = 0;
  virtual bool isAutoVarDefinitionEnabled() const = 0;
};

class MTCompilerI {
 public:
  virtual ~MTCompilerI() = default;
  virtual const MTProgram& program() const = 0;
};

class MTParserCompiler final : public MTCompilerI, public MTCompilerPublicI {
 public:
  // Longer texts are refused with MTEXCEP_OutOfMemory, so that memory stays bounded (about a
  // hundred bytes per kept character); formulas are a few hundred characters.
  static constexpr std::size_t kMaxWrittenLength = std::size_t{1} << 24;
  static constexpr std::size_t kMaxKeptLength = 1000000;  // characters other than spaces

  explicit MTParserCompiler(MTParserRegistrar& registrar);

  void compile(std::string_view expression) override;
  double evaluateCompiled() override;
  double compileAndEvaluate(std::string_view expression) override;
  void enableAutoVarDefinition(bool enable) override { autoVarDefinition_ = enable; }
  bool isAutoVarDefinitionEnabled() const override { return autoVarDefinition_; }
  const MTProgram& program() const override { return program_; }

  // The text of the last compilation, as written.
  const std::string& expression() const { return expression_; }

 private:
  enum TokenKind { kNone = 0, kValue = 1, kOperator = 2, kFunctionCall = 3 };
  enum EntryKind { kBracket = 1, kOperatorEntry = 2, kFunctionEntry = 3 };

  struct TokenLevel {
    int previous = kNone;
    int current = kNone;
    std::size_t operatorPos = 0;  // of the last operator in this level
    std::size_t marker = 0;       // operator-stack index of the level's bracket or call
    void record(int kind) {
      previous = current;
      current = kind;
    }
  };

  struct OperatorStackEntry {
    int precedence = 0;  // -1 for an open bracket, 10000 for a function call
    int kind = kBracket;
    unsigned int argCount = 0;
    std::size_t pos = 0;  // in the stripped text
    const MTParserItemI* item = nullptr;
    std::string_view name;  // a function call's symbol
  };

  void reset(std::string_view expression);
  void run();
  void handleOperator(const MTOperatorI& matched, std::size_t i);
  // Returns where scanning goes on: past a conversion function's argument, or i + 1.
  std::size_t handleOpenBracket(std::size_t i);
  void handleSeparator(std::size_t i);
  void handleCloseBracket(std::size_t i);
  void flushWord(bool beforeOpenBracket);
  std::size_t convertRawArgument(const MTFunctionI& fct, std::size_t open);
  void moveOperatorsToMarker();
  void pushValue(double value);
  void finish();

  [[noreturn]] void fail(const char* id, std::size_t i) const;
  [[noreturn]] void fail(const char* id, std::size_t i, std::string_view itemName) const;
  std::string writtenPos(std::size_t i) const;

  MTParserRegistrar& registrar_;
  std::string expression_;
  std::string text_;                  // without spaces
  std::vector<std::size_t> written_;  // position in expression_ of each character of text_
  std::string word_;
  std::size_t wordPos_ = 0;
  std::vector<TokenLevel> levels_;
  std::vector<OperatorStackEntry> stack_;
  std::vector<PostfixItem> postfix_;
  MTProgram program_;
  unsigned long boundVariables_ = 0;  // the registrar's variable change count when compiled
  bool autoVarDefinition_ = false;
};

}  // namespace ortavia
