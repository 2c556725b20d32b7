#include "parser/exceptions.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace ortavia {

namespace {

struct MessageTemplate {
  const char* id;
  const char* text;
};

// The wording is the parser's own, typing slips included, since callers show it as it stands.
constexpr std::array kMessages = {
    MessageTemplate{"MTDEFEXCEP_OpAlreadyDefined", "Operator already defined: '%itemName'"},
    MessageTemplate{"MTDEFEXCEP_OpNameNull", "Operator name cannot be null"},
    MessageTemplate{"MTDEFEXCEP_OpNameSpace",
                    "This operator name contains space characters: '%itemName'"},
    MessageTemplate{"MTDEFEXCEP_OpNameSyntaxConflict",
                    "Operator name '%itemName' conflicts with the syntax element character: "
                    "'%conflictItemName'."},
    MessageTemplate{"MTDEFEXCEP_OpPrecedence", "Operator: '%itemName'; invalid precedence."},
    MessageTemplate{"MTDEFEXCEP_FuncAlreadyDefined", "Function already defined: '%itemName'"},
    MessageTemplate{"MTDEFEXCEP_FuncNameNull", "Function name cannot be null"},
    MessageTemplate{"MTDEFEXCEP_FuncNameSpace",
                    "This function name contains space characters: '%itemName'"},
    MessageTemplate{"MTDEFEXCEP_FuncNameSyntaxConflict",
                    "Function name '%itemName' conflicts with the syntax element character: "
                    "'%conflictItemName'"},
    MessageTemplate{"MTDEFEXCEP_FuncNameOpConflict",
                    "Function name '%itemName' conflicts with the operator '%conflictItemName'"},
    MessageTemplate{"MTDEFEXCEP_ItemNotFound", "Cannot find the specified item: id = %itemName"},
    MessageTemplate{"MTDEFEXCEP_VarAlreadyDefined", "Variable already defined: '%itemName'"},
    MessageTemplate{"MTDEFEXCEP_VarNameNull", "Variable name cannot be null"},
    MessageTemplate{"MTDEFEXCEP_VarNameSpace",
                    "This variable name contains space characters: '%itemName'"},
    MessageTemplate{"MTDEFEXCEP_VarNameOnlyNum",
                    "Invalid variable name: '%itemName'.  Cannot be composed only of numbers"},
    MessageTemplate{"MTDEFEXCEP_VarNameConstConflict",
                    "Variable name '%itemName' conflicts with the constant of the same name."},
    MessageTemplate{"MTDEFEXCEP_VarNameSyntaxConflict",
                    "Variable name '%itemName'  conflicts with the syntax element character: "
                    "'%conflictItemName'"},
    MessageTemplate{"MTDEFEXCEP_VarNameDelimConflict",
                    "Variable name '%itemName' conflicts with the operator: '%conflictItemName'"},
    MessageTemplate{"MTDEFEXCEP_ConstAlreadyDefined", "Constant already defined: '%itemName'"},
    MessageTemplate{"MTDEFEXCEP_ConstNameNull", "Constant name cannot be null"},
    MessageTemplate{"MTDEFEXCEP_ConstNameSpace",
                    "This constant name contains space characters: '%itemName'"},
    MessageTemplate{"MTDEFEXCEP_ConstNameOnlyNum",
                    "Invalid constant name: '%itemName'.  Cannot be composed only of numbers."},
    MessageTemplate{"MTDEFEXCEP_ConstNameSyntaxConflict",
                    "Constant name '%itemName' conflicts with the syntax element character: "
                    "'%conflictItemName'"},
    MessageTemplate{"MTDEFEXCEP_ConstNameOpConflict",
                    "Constant name '%itemName' conflicts with the operator '%conflictItemName'"},
    MessageTemplate{"MTDEFEXCEP_ConstNameVarConflict",
                    "Constant name '%itemName' conflicts with the variable of the same name"},
    MessageTemplate{"MTDEFEXCEP_MacroProtoSyntax",
                    "Invalid macro prototype syntax: '%itemName'"},
    MessageTemplate{"MTDEFEXCEP_PluginVersion",
                    "Incompatible plug-in version: '%itemName'"},
    MessageTemplate{"MTDEFEXCEP_PluginNotFound", "Plug-in not found: '%itemName'"},
    MessageTemplate{"MTDEFEXCEP_PluginTypeLibNotFound",
                    "Plug-in type library not found: '%itemName'"},
    MessageTemplate{"MTDEFEXCEP_PluginDefConflict",
                    "Plug-in definition conflict: '%itemName'"},
    MessageTemplate{"MTPARSINGEXCEP_InvalidOpSyntax", "Invalid operator syntax: '%itemName'"},
    MessageTemplate{"MTPARSINGEXCEP_InvalidFuncSyntax",
                    "Invalid function argument syntax. Function name: '%itemName', argument "
                    "%param1"},
    MessageTemplate{"MTPARSINGEXCEP_UnexpectedBeginVarName",
                    "Unexpected begin variable name character"},
    MessageTemplate{"MTPARSINGEXCEP_UnexpectedEndVarName",
                    "Unexpected end variable name character"},
    MessageTemplate{"MTPARSINGEXCEP_UnexpectedOp", "Unexpected operator"},
    MessageTemplate{"MTPARSINGEXCEP_MissingOpenBracket",
                    "Missing opening bracket to macth closing bracket"},
    MessageTemplate{"MTPARSINGEXCEP_InvalidArgSeparator",
                    "Invalid use of an argument separator outside a function"},
    MessageTemplate{"MTPARSINGEXCEP_MissingCloseBracket",
                    "Missing closing bracket to match opening bracket"},
    MessageTemplate{"MTPARSINGEXCEP_OverloadedFuncNotFound",
                    "Invalid number of arguments for function '%itemName'"},
    MessageTemplate{"MTPARSINGEXCEP_InvalidSyntax", "Invalid syntax"},
    MessageTemplate{"MTPARSINGEXCEP_MissingOp", "Missing operator before: '%itemName'"},
    MessageTemplate{"MTPARSINGEXCEP_UndefinedFunc", "Undefined function: '%itemName'"},
    MessageTemplate{"MTPARSINGEXCEP_UndefinedVar", "Undefined variable: '%itemName'"},
    MessageTemplate{"MTPARSINGEXCEP_UselessArgSeparator", "Invalid use of an argument separator"},
    MessageTemplate{"MTPARSINGEXCEP_InternalError", "Internal error"},
    MessageTemplate{"MTEXCEP_OutOfMemory", "Out of memory"},
    MessageTemplate{"MTLOCEXCEP_MTParserInfoObjectNotFound",
                    "Cannot find the parser information object"},
    MessageTemplate{"MTLOCEXCEP_InfoFileOpenFailed",
                    "Cannot open the information file: '%itemName'"},
    MessageTemplate{"MTLOCEXCEP_InfoFileLoadFailed",
                    "Cannot load the information file: '%itemName'"},
    MessageTemplate{"MTLOCEXCEP_InfoFileLocaleFailed",
                    "Cannot find the locale in the information file: '%itemName'"},
    MessageTemplate{"MTLOCEXCEP_InfoFileBadVersion",
                    "Bad version of the information file: '%itemName'"},
};

}  // namespace

std::string MTExcepData::param(std::string_view name) const {
  for (const auto& p : params)
    if (p.name == name) return p.value;
  return {};
}

bool MTExcepData::hasParam(std::string_view name) const {
  return std::any_of(params.begin(), params.end(),
                     [&](const MTExcepParam& p) { return p.name == name; });
}

MTChainedExceptions::MTChainedExceptions(MTExcepData data) { chain_.push_back(std::move(data)); }

void MTChainedExceptions::add(MTExcepData data) {
  if (chain_.size() < kMaxChain) chain_.push_back(std::move(data));
}

const char* MTMessageTemplate(std::string_view id) {
  for (const auto& m : kMessages)
    if (id == m.id) return m.text;
  return nullptr;
}

std::string MTFormatDescription(std::string_view id, const std::vector<MTExcepParam>& params) {
  const char* tmpl = MTMessageTemplate(id);
  if (!tmpl) return "Unknown exception: " + std::string(id);
  // One pass over the template, so a value that itself contains "%name" is never expanded again.
  std::string out;
  std::vector<bool> used(params.size(), false);
  const std::string_view text(tmpl);
  for (std::size_t i = 0; i < text.size();) {
    std::size_t best = params.size();
    if (text[i] == '%') {
      for (std::size_t k = 0; k < params.size(); ++k) {
        const auto& name = params[k].name;
        if (used[k] || name.empty() || text.compare(i + 1, name.size(), name) != 0) continue;
        if (best == params.size() || name.size() > params[best].name.size()) best = k;
      }
    }
    if (best < params.size()) {
      used[best] = true;
      out += params[best].value;
      i += 1 + params[best].name.size();
    } else {
      out += text[i++];
    }
  }
  return out;
}

void MTThrow(std::string id, std::vector<MTExcepParam> params, const char* file, int line) {
  MTExcepData data;
  if (params.size() > MTExcepData::kMaxParams) params.resize(MTExcepData::kMaxParams);
  data.description = MTFormatDescription(id, params);
  data.id = std::move(id);
  data.params = std::move(params);
  data.sourceLine = line;
  const char* slash = std::strrchr(file, '/');
  data.sourceFile = slash ? slash + 1 : file;
  throw MTChainedExceptions(std::move(data));
}

}  // namespace ortavia
