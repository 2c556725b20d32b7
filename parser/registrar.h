#pragma once
// The registry of everything an expression may name: operators, functions, constants, variables,
// and the syntax. Every definition is checked against the naming rules first; a failed definition
// throws MTChainedExceptions and leaves the registry unchanged.
#include <array>
#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "parser/items.h"
#include "parser/syntax.h"

namespace ortavia {

struct MTConstant {
  std::string name;
  double value = 0.0;
};

// What the parser's owner may do with the registry.
class MTRegistrarPublicI {
 public:
  virtual ~MTRegistrarPublicI() = default;
  virtual void registerOperator(std::unique_ptr<MTOperatorI> op) = 0;
  virtual void registerFunction(std::unique_ptr<MTFunctionI> fct) = 0;
  virtual void registerConstant(std::string_view name, double value) = 0;
  virtual void registerVariable(std::unique_ptr<MTVariableI> var) = 0;
  virtual void removeAllVariables() = 0;
  virtual ParserSyntax readSyntax() const = 0;
  virtual void changeSyntax(const ParserSyntax& syntax) = 0;

  virtual std::size_t operatorCount() const = 0;
  virtual const MTOperatorI& operatorAt(std::size_t index) const = 0;
  virtual std::size_t functionCount() const = 0;
  virtual const MTFunctionI& functionAt(std::size_t index) const = 0;
  virtual std::size_t constantCount() const = 0;
  virtual const MTConstant& constantAt(std::size_t index) const = 0;
  virtual std::size_t variableCount() const = 0;

  // Lookups by identifier; an unknown one throws MTDEFEXCEP_ItemNotFound.
  virtual const MTOperatorI& operatorById(std::string_view id) const = 0;
  virtual const MTFunctionI& functionById(std::string_view id) const = 0;
  virtual double constantValue(std::string_view name) const = 0;
};

// What the compiler asks of the registry.
class MTRegistrarI {
 public:
  virtual ~MTRegistrarI() = default;
  // The operator whose symbol starts at text[pos], longest symbol first; nullptr when none does.
  virtual const MTOperatorI* matchOperator(std::string_view text, std::size_t pos) const = 0;
  virtual const MTOperatorI* findOperator(std::string_view symbol, bool unary) const = 0;
  // The functions of that symbol in definition order.
  virtual std::vector<const MTFunctionI*> functionsNamed(std::string_view symbol) const = 0;
  virtual const MTConstant* findConstant(std::string_view name) const = 0;
  virtual const MTVariableI* findVariable(std::string_view name) const = 0;
  virtual MTVariableFactoryI* variableFactory() = 0;  // null until one is installed
  virtual const ParserSyntax& syntax() const = 0;
  // Grows each time all variables are removed, so programs bound to the old ones can tell.
  virtual unsigned long variableChangeCount() const = 0;
};

class MTParserRegistrar final : public MTRegistrarI, public MTRegistrarPublicI {
 public:
  MTParserRegistrar();
  ~MTParserRegistrar() override;

  void registerOperator(std::unique_ptr<MTOperatorI> op) override;
  void registerFunction(std::unique_ptr<MTFunctionI> fct) override;
  void registerConstant(std::string_view name, double value) override;
  void registerVariable(std::unique_ptr<MTVariableI> var) override;
  void removeAllVariables() override;
  ParserSyntax readSyntax() const override { return syntax_; }
  void changeSyntax(const ParserSyntax& syntax) override;

  std::size_t operatorCount() const override { return operators_.size(); }
  const MTOperatorI& operatorAt(std::size_t index) const override;
  std::size_t functionCount() const override { return functions_.size(); }
  const MTFunctionI& functionAt(std::size_t index) const override;
  std::size_t constantCount() const override { return constants_.size(); }
  const MTConstant& constantAt(std::size_t index) const override;
  std::size_t variableCount() const override { return variables_.size(); }

  const MTOperatorI& operatorById(std::string_view id) const override;
  const MTFunctionI& functionById(std::string_view id) const override;
  double constantValue(std::string_view name) const override;

  const MTOperatorI* matchOperator(std::string_view text, std::size_t pos) const override;
  const MTOperatorI* findOperator(std::string_view symbol, bool unary) const override;
  std::vector<const MTFunctionI*> functionsNamed(std::string_view symbol) const override;
  const MTConstant* findConstant(std::string_view name) const override;
  const MTVariableI* findVariable(std::string_view name) const override;
  MTVariableFactoryI* variableFactory() override { return factory_.get(); }
  const ParserSyntax& syntax() const override { return syntax_; }
  unsigned long variableChangeCount() const override { return variableChanges_; }

  // Replaces the variable factory (the previous one is deleted); a null factory is ignored.
  void setVariableFactory(std::unique_ptr<MTVariableFactoryI> factory);

  // Names made only of decimal digits and at most one decimal point.
  static bool IsNumber(std::string_view name, char decimalPoint);

 private:
  static constexpr std::size_t kBuckets = 26;
  static std::size_t BucketOf(char c) { return static_cast<unsigned char>(c) % kBuckets; }

  // The first registered operator symbol that name contains, or an empty view.
  std::string_view operatorConflict(std::string_view name) const;

  std::vector<std::unique_ptr<MTOperatorI>> operators_;
  std::array<std::vector<std::size_t>, kBuckets> buckets_;  // longest symbol first
  std::vector<std::unique_ptr<MTFunctionI>> functions_;
  std::multimap<std::string, std::size_t, std::less<>> functionIndex_;
  std::vector<MTConstant> constants_;
  std::map<std::string, std::unique_ptr<MTVariableI>, std::less<>> variables_;
  ParserSyntax syntax_;
  std::unique_ptr<MTVariableFactoryI> factory_;
  unsigned long variableChanges_ = 0;
};

}  // namespace ortavia
