#include "parser/registrar.h"

#include <algorithm>

#include "parser/exceptions.h"

namespace ortavia {

namespace {

bool HasSpace(std::string_view name) { return name.find(' ') != std::string_view::npos; }

// The syntax character a name contains (argument separator, then the brackets), or 0.
char SyntaxConflict(std::string_view name, const ParserSyntax& syntax) {
  for (const char c : {syntax.argSeparator, kOpenBracket, kCloseBracket})
    if (name.find(c) != std::string_view::npos) return c;
  return 0;
}

std::string Str(std::string_view s) { return std::string(s); }

}  // namespace

MTParserRegistrar::MTParserRegistrar() = default;
MTParserRegistrar::~MTParserRegistrar() = default;

bool MTParserRegistrar::IsNumber(std::string_view name, char decimalPoint) {
  bool digit = false;
  int points = 0;
  for (const char c : name) {
    if (c == decimalPoint) ++points;
    else if (c >= '0' && c <= '9') digit = true;
    else return false;
  }
  return digit && points <= 1;
}

std::string_view MTParserRegistrar::operatorConflict(std::string_view name) const {
  for (const auto& op : operators_)
    if (name.find(op->symbol()) != std::string_view::npos) return op->symbol();
  return {};
}

void MTParserRegistrar::registerOperator(std::unique_ptr<MTOperatorI> op) {
  const std::string_view sym = op->symbol();
  if (sym.empty()) MT_THROW("MTDEFEXCEP_OpNameNull");
  if (HasSpace(sym)) MT_THROW("MTDEFEXCEP_OpNameSpace", {"itemName", Str(sym)});
  if (op->precedence() < 0 || op->precedence() > 9999)
    MT_THROW("MTDEFEXCEP_OpPrecedence", {"itemName", Str(sym)});
  if (findOperator(sym, op->isUnary()))
    MT_THROW("MTDEFEXCEP_OpAlreadyDefined", {"itemName", Str(sym)});
  if (const char c = SyntaxConflict(sym, syntax_))
    MT_THROW("MTDEFEXCEP_OpNameSyntaxConflict", {"itemName", Str(sym)},
             {"conflictItemName", std::string(1, c)});
  for (const auto& f : functions_)
    if (f->symbol().find(sym) != std::string_view::npos)
      MT_THROW("MTDEFEXCEP_FuncNameOpConflict", {"itemName", Str(f->symbol())},
               {"conflictItemName", Str(sym)});
  for (const auto& c : constants_)
    if (c.name.find(sym) != std::string::npos)
      MT_THROW("MTDEFEXCEP_ConstNameOpConflict", {"itemName", c.name},
               {"conflictItemName", Str(sym)});

  auto& bucket = buckets_[BucketOf(sym.front())];
  const auto shorter = std::find_if(bucket.begin(), bucket.end(), [&](std::size_t k) {
    return operators_[k]->symbol().size() < sym.size();
  });
  bucket.insert(shorter, operators_.size());
  operators_.push_back(std::move(op));
}

void MTParserRegistrar::registerFunction(std::unique_ptr<MTFunctionI> fct) {
  const std::string_view sym = fct->symbol();
  if (sym.empty()) MT_THROW("MTDEFEXCEP_FuncNameNull");
  if (HasSpace(sym)) MT_THROW("MTDEFEXCEP_FuncNameSpace", {"itemName", Str(sym)});
  for (const MTFunctionI* f : functionsNamed(sym))
    if (f->argCount() == fct->argCount())
      MT_THROW("MTDEFEXCEP_FuncAlreadyDefined", {"itemName", Str(sym)});
  if (const char c = SyntaxConflict(sym, syntax_))
    MT_THROW("MTDEFEXCEP_FuncNameSyntaxConflict", {"itemName", Str(sym)},
             {"conflictItemName", std::string(1, c)});
  if (const auto op = operatorConflict(sym); !op.empty())
    MT_THROW("MTDEFEXCEP_FuncNameOpConflict", {"itemName", Str(sym)},
             {"conflictItemName", Str(op)});
  functionIndex_.emplace(Str(sym), functions_.size());
  functions_.push_back(std::move(fct));
}

void MTParserRegistrar::registerConstant(std::string_view name, double value) {
  if (name.empty()) MT_THROW("MTDEFEXCEP_ConstNameNull");
  if (HasSpace(name)) MT_THROW("MTDEFEXCEP_ConstNameSpace", {"itemName", Str(name)});
  if (findConstant(name)) MT_THROW("MTDEFEXCEP_ConstAlreadyDefined", {"itemName", Str(name)});
  if (IsNumber(name, syntax_.decimalPoint))
    MT_THROW("MTDEFEXCEP_ConstNameOnlyNum", {"itemName", Str(name)});
  if (const char c = SyntaxConflict(name, syntax_))
    MT_THROW("MTDEFEXCEP_ConstNameSyntaxConflict", {"itemName", Str(name)},
             {"conflictItemName", std::string(1, c)});
  if (const auto op = operatorConflict(name); !op.empty())
    MT_THROW("MTDEFEXCEP_ConstNameOpConflict", {"itemName", Str(name)},
             {"conflictItemName", Str(op)});
  if (findVariable(name)) MT_THROW("MTDEFEXCEP_ConstNameVarConflict", {"itemName", Str(name)});
  constants_.push_back({Str(name), value});
}

void MTParserRegistrar::registerVariable(std::unique_ptr<MTVariableI> var) {
  const std::string_view name = var->symbol();
  if (name.empty()) MT_THROW("MTDEFEXCEP_VarNameNull");
  if (HasSpace(name)) MT_THROW("MTDEFEXCEP_VarNameSpace", {"itemName", Str(name)});
  if (findVariable(name)) MT_THROW("MTDEFEXCEP_VarAlreadyDefined", {"itemName", Str(name)});
  if (IsNumber(name, syntax_.decimalPoint))
    MT_THROW("MTDEFEXCEP_VarNameOnlyNum", {"itemName", Str(name)});
  if (findConstant(name)) MT_THROW("MTDEFEXCEP_VarNameConstConflict", {"itemName", Str(name)});
  if (const char c = SyntaxConflict(name, syntax_))
    MT_THROW("MTDEFEXCEP_VarNameSyntaxConflict", {"itemName", Str(name)},
             {"conflictItemName", std::string(1, c)});
  if (const auto op = operatorConflict(name); !op.empty())
    MT_THROW("MTDEFEXCEP_VarNameDelimConflict", {"itemName", Str(name)},
             {"conflictItemName", Str(op)});
  std::string key(name);
  variables_.emplace(std::move(key), std::move(var));
}

void MTParserRegistrar::removeAllVariables() {
  variables_.clear();
  ++variableChanges_;
}

void MTParserRegistrar::changeSyntax(const ParserSyntax& syntax) {
  if (syntax.decimalPoint == syntax.argSeparator) MT_THROW("MTDEFEXCEP_SyntaxArgDecConflict");
  for (const auto& op : operators_)
    if (const char c = SyntaxConflict(op->symbol(), syntax))
      MT_THROW("MTDEFEXCEP_OpNameSyntaxConflict", {"itemName", Str(op->symbol())},
               {"conflictItemName", std::string(1, c)});
  for (const auto& f : functions_)
    if (const char c = SyntaxConflict(f->symbol(), syntax))
      MT_THROW("MTDEFEXCEP_FuncNameSyntaxConflict", {"itemName", Str(f->symbol())},
               {"conflictItemName", std::string(1, c)});
  for (const auto& k : constants_)
    if (const char c = SyntaxConflict(k.name, syntax))
      MT_THROW("MTDEFEXCEP_ConstNameSyntaxConflict", {"itemName", k.name},
               {"conflictItemName", std::string(1, c)});
  syntax_ = syntax;
}

void MTParserRegistrar::setVariableFactory(std::unique_ptr<MTVariableFactoryI> factory) {
  if (factory) factory_ = std::move(factory);
}

const MTOperatorI& MTParserRegistrar::operatorAt(std::size_t index) const {
  if (index >= operators_.size())
    MT_THROW("MTDEFEXCEP_ItemNotFound", {"itemName", std::to_string(index)});
  return *operators_[index];
}

const MTFunctionI& MTParserRegistrar::functionAt(std::size_t index) const {
  if (index >= functions_.size())
    MT_THROW("MTDEFEXCEP_ItemNotFound", {"itemName", std::to_string(index)});
  return *functions_[index];
}

const MTConstant& MTParserRegistrar::constantAt(std::size_t index) const {
  if (index >= constants_.size())
    MT_THROW("MTDEFEXCEP_ItemNotFound", {"itemName", std::to_string(index)});
  return constants_[index];
}

const MTOperatorI& MTParserRegistrar::operatorById(std::string_view id) const {
  for (const auto& op : operators_)
    if (op->id() == id) return *op;
  MT_THROW("MTDEFEXCEP_ItemNotFound", {"itemName", Str(id)});
}

const MTFunctionI& MTParserRegistrar::functionById(std::string_view id) const {
  for (const auto& f : functions_)
    if (f->id() == id) return *f;
  MT_THROW("MTDEFEXCEP_ItemNotFound", {"itemName", Str(id)});
}

double MTParserRegistrar::constantValue(std::string_view name) const {
  if (const MTConstant* c = findConstant(name)) return c->value;
  MT_THROW("MTDEFEXCEP_ItemNotFound", {"itemName", Str(name)});
}

const MTOperatorI* MTParserRegistrar::matchOperator(std::string_view text,
                                                    std::size_t pos) const {
  if (pos >= text.size()) return nullptr;
  const std::string_view rest = text.substr(pos);
  for (const std::size_t k : buckets_[BucketOf(rest.front())]) {
    const std::string_view sym = operators_[k]->symbol();
    if (rest.substr(0, sym.size()) == sym) return operators_[k].get();
  }
  return nullptr;
}

const MTOperatorI* MTParserRegistrar::findOperator(std::string_view symbol, bool unary) const {
  for (const auto& op : operators_)
    if (op->symbol() == symbol && op->isUnary() == unary) return op.get();
  return nullptr;
}

std::vector<const MTFunctionI*> MTParserRegistrar::functionsNamed(std::string_view symbol) const {
  std::vector<const MTFunctionI*> found;
  const auto [first, last] = functionIndex_.equal_range(symbol);
  for (auto it = first; it != last; ++it) found.push_back(functions_[it->second].get());
  return found;
}

const MTConstant* MTParserRegistrar::findConstant(std::string_view name) const {
  for (const auto& c : constants_)
    if (c.name == name) return &c;
  return nullptr;
}

const MTVariableI* MTParserRegistrar::findVariable(std::string_view name) const {
  const auto it = variables_.find(name);
  return it == variables_.end() ? nullptr : it->second.get();
}

}  // namespace ortavia
