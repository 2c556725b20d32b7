#include "parser/parser.h"

#include <limits>

#include "parser/default_functions.h"
#include "parser/default_operators.h"

namespace ortavia {

MTParser::MTParser()
    : registrar_(std::make_unique<MTParserRegistrar>()),
      compiler_(std::make_unique<MTParserCompiler>(*registrar_)) {
  registrar_->changeSyntax(ParserSyntax{'.', ','});
  registrar_->setVariableFactory(std::make_unique<MemVariableFactory>());
  compiler_->enableAutoVarDefinition(false);
  for (auto& op : MakeDefaultOperators()) registerOperator(std::move(op));
  for (auto& fct : MakeDefaultFunctions()) registerFunction(std::move(fct));
  registerConstant("NaN", std::numeric_limits<double>::quiet_NaN());
}

// The compiler refers to the registrar, so it goes first.
MTParser::~MTParser() { compiler_.reset(); }

void MTParser::registerOperator(std::unique_ptr<MTOperatorI> op) {
  registrar_->registerOperator(std::move(op));
}

void MTParser::registerFunction(std::unique_ptr<MTFunctionI> fct) {
  MTFunctionI& added = *fct;
  registrar_->registerFunction(std::move(fct));
  added.attach(registrar_.get(), compiler_.get());
}

void MTParser::registerConstant(std::string_view name, double value) {
  registrar_->registerConstant(name, value);
}

void MTParser::registerVariable(std::unique_ptr<MTVariableI> var) {
  registrar_->registerVariable(std::move(var));
}

void MTParser::registerVariable(std::string_view name, double* address) {
  registrar_->registerVariable(std::make_unique<MemVariableEvaluator>(std::string(name), address));
}

void MTParser::removeAllVariables() { registrar_->removeAllVariables(); }
ParserSyntax MTParser::readSyntax() const { return registrar_->readSyntax(); }
void MTParser::changeSyntax(const ParserSyntax& syntax) { registrar_->changeSyntax(syntax); }

std::size_t MTParser::operatorCount() const { return registrar_->operatorCount(); }
const MTOperatorI& MTParser::operatorAt(std::size_t index) const {
  return registrar_->operatorAt(index);
}
std::size_t MTParser::functionCount() const { return registrar_->functionCount(); }
const MTFunctionI& MTParser::functionAt(std::size_t index) const {
  return registrar_->functionAt(index);
}
std::size_t MTParser::constantCount() const { return registrar_->constantCount(); }
const MTConstant& MTParser::constantAt(std::size_t index) const {
  return registrar_->constantAt(index);
}
std::size_t MTParser::variableCount() const { return registrar_->variableCount(); }
const MTOperatorI& MTParser::operatorById(std::string_view id) const {
  return registrar_->operatorById(id);
}
const MTFunctionI& MTParser::functionById(std::string_view id) const {
  return registrar_->functionById(id);
}
double MTParser::constantValue(std::string_view name) const {
  return registrar_->constantValue(name);
}

void MTParser::compile(std::string_view expression) { compiler_->compile(expression); }
double MTParser::evaluateCompiled() { return compiler_->evaluateCompiled(); }
double MTParser::compileAndEvaluate(std::string_view expression) {
  return compiler_->compileAndEvaluate(expression);
}
void MTParser::enableAutoVarDefinition(bool enable) { compiler_->enableAutoVarDefinition(enable); }
bool MTParser::isAutoVarDefinitionEnabled() const {
  return compiler_->isAutoVarDefinitionEnabled();
}
std::size_t MTParser::compiledSize() const { return compiler_->program().size(); }

}  // namespace ortavia
