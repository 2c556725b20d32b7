#pragma once
// The formula parser as the rest of the system holds it: a registry of definitions with the
// default operators, functions and the constant "NaN", and a compiler over it. Every failure throws
// MTChainedExceptions. One parser is used from one thread.
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "parser/compiler.h"
#include "parser/exceptions.h"
#include "parser/items.h"
#include "parser/registrar.h"
#include "parser/syntax.h"

namespace ortavia {

class MTParser final : public MTRegistrarPublicI, public MTCompilerPublicI {
 public:
  // A variable bound to a double the caller keeps alive; read at each evaluation.
  class MemVariableEvaluator final : public MTVariableI {
   public:
    MemVariableEvaluator(std::string name, double* address);
    // A variable holding its own value, as the factory makes them.
    explicit MemVariableEvaluator(std::string name);
    std::string_view symbol() const override { return name_; }
    std::string_view usage() const override { return {}; }
    std::string_view description() const override { return {}; }
    bool isConstant() const override { return false; }
    double evaluate(unsigned int, const double*) const override { return *address_; }
    std::unique_ptr<MTVariableI> clone() const override;
    double* address() const { return address_; }

   private:
    std::string name_;
    double own_ = 0.0;
    double* address_;
  };

  class MemVariableFactory final : public MTVariableFactoryI {
   public:
    std::unique_ptr<MTVariableI> create(std::string_view name) override;
    std::unique_ptr<MTVariableFactoryI> clone() const override;
  };

  MTParser();
  ~MTParser() override;
  MTParser(const MTParser&) = delete;
  MTParser& operator=(const MTParser&) = delete;

  void registerOperator(std::unique_ptr<MTOperatorI> op) override;
  void registerFunction(std::unique_ptr<MTFunctionI> fct) override;
  void registerConstant(std::string_view name, double value) override;
  void registerVariable(std::unique_ptr<MTVariableI> var) override;
  void registerVariable(std::string_view name, double* address);
  void removeAllVariables() override;
  ParserSyntax readSyntax() const override;
  void changeSyntax(const ParserSyntax& syntax) override;

  std::size_t operatorCount() const override;
  const MTOperatorI& operatorAt(std::size_t index) const override;
  std::size_t functionCount() const override;
  const MTFunctionI& functionAt(std::size_t index) const override;
  std::size_t constantCount() const override;
  const MTConstant& constantAt(std::size_t index) const override;
  std::size_t variableCount() const override;
  const MTOperatorI& operatorById(std::string_view id) const override;
  const MTFunctionI& functionById(std::string_view id) const override;
  double constantValue(std::string_view name) const override;

  void compile(std::string_view expression) override;
  double evaluateCompiled() override;
  double compileAndEvaluate(std::string_view expression) override;
  void enableAutoVarDefinition(bool enable) override;
  bool isAutoVarDefinitionEnabled() const override;

  // The items left to run after folding; 0 when the expression folded to a constant.
  std::size_t compiledSize() const;

 private:
  std::unique_ptr<MTParserRegistrar> registrar_;
  std::unique_ptr<MTParserCompiler> compiler_;
};

}  // namespace ortavia
