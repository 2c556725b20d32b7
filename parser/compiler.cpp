#include "parser/compiler.h"

#include <charconv>
#include <limits>
#include <new>

#include "parser/exceptions.h"

namespace ortavia {

namespace {

constexpr int kFunctionPrecedence = 10000;

// Digits with the given decimal point, read in the C locale whatever the process locale is.
double ParseNumber(std::string_view word, char decimalPoint) {
  std::string text(word);
  bool nonZeroBeforePoint = false, beforePoint = true;
  for (char& c : text) {
    if (c == decimalPoint) {
      c = '.';
      beforePoint = false;
    } else if (beforePoint && c != '0') {
      nonZeroBeforePoint = true;
    }
  }
  double value = 0.0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec == std::errc::result_out_of_range)
    return nonZeroBeforePoint ? std::numeric_limits<double>::infinity() : 0.0;
  if (ec != std::errc() || end != text.data() + text.size())
    return std::numeric_limits<double>::quiet_NaN();
  return value;
}

}  // namespace

MTParserCompiler::MTParserCompiler(MTParserRegistrar& registrar) : registrar_(registrar) {}

std::string MTParserCompiler::writtenPos(std::size_t i) const {
  return std::to_string(i < written_.size() ? written_[i] : expression_.size());
}

void MTParserCompiler::fail(const char* id, std::size_t i) const {
  MT_THROW(id, {"pos", writtenPos(i)});
}

void MTParserCompiler::fail(const char* id, std::size_t i, std::string_view itemName) const {
  MT_THROW(id, {"itemName", std::string(itemName)}, {"pos", writtenPos(i)});
}

void MTParserCompiler::reset(std::string_view expression) {
  program_ = MTProgram();
  expression_.assign(expression);
  text_.clear();
  written_.clear();
  for (std::size_t i = 0; i < expression.size(); ++i) {
    if (expression[i] == ' ') continue;
    text_ += expression[i];
    written_.push_back(i);
  }
  word_.clear();
  levels_.assign(1, TokenLevel{});
  stack_.clear();
  postfix_.clear();
}

void MTParserCompiler::compile(std::string_view expression) {
  if (expression.size() > kMaxWrittenLength) {
    reset({});
    MT_THROW("MTEXCEP_OutOfMemory");
  }
  try {
    reset(expression);
  } catch (const std::bad_alloc&) {
    MT_THROW("MTEXCEP_OutOfMemory");
  }
  boundVariables_ = registrar_.variableChangeCount();
  if (text_.empty()) return;  // the NaN program
  if (text_.size() > kMaxKeptLength) MT_THROW("MTEXCEP_OutOfMemory");
  MTProgram built;
  try {
    run();
    finish();
    if (!MTProgram::Build(postfix_, built)) fail("MTPARSINGEXCEP_InternalError", 0);
  } catch (const std::bad_alloc&) {
    MT_THROW("MTEXCEP_OutOfMemory");
  }
  program_ = std::move(built);
  // The scratch space of a long expression is not kept past its compilation.
  std::vector<PostfixItem>().swap(postfix_);
  std::vector<OperatorStackEntry>().swap(stack_);
  std::vector<TokenLevel>().swap(levels_);
}

double MTParserCompiler::evaluateCompiled() {
  // Variables removed since compiling: bind the program again instead of reading freed ones.
  if (boundVariables_ != registrar_.variableChangeCount()) compile(std::string(expression_));
  return program_.evaluate();
}

double MTParserCompiler::compileAndEvaluate(std::string_view expression) {
  compile(expression);
  return program_.evaluate();
}

void MTParserCompiler::run() {
  const char separator = registrar_.syntax().argSeparator;
  std::size_t i = 0;
  while (i < text_.size()) {
    const char c = text_[i];
    if (const MTOperatorI* op = registrar_.matchOperator(text_, i)) {
      handleOperator(*op, i);
      i += op->symbol().size();
      continue;
    }
    if (c == separator) {
      handleSeparator(i);
    } else if (c == kOpenBracket) {
      i = handleOpenBracket(i);
      continue;
    } else if (c == kCloseBracket) {
      handleCloseBracket(i);
    } else {
      if (word_.empty()) wordPos_ = i;
      word_ += c;
    }
    ++i;
  }
}

void MTParserCompiler::pushValue(double value) {
  postfix_.push_back({nullptr, 0, value});
}

void MTParserCompiler::flushWord(bool beforeOpenBracket) {
  if (word_.empty()) return;
  TokenLevel& level = levels_.back();
  if (level.current == kValue) fail("MTPARSINGEXCEP_MissingOp", wordPos_, word_);
  if (beforeOpenBracket) {
    if (registrar_.functionsNamed(word_).empty())
      fail("MTPARSINGEXCEP_UndefinedFunc", wordPos_, word_);
    return;  // the caller opens the call
  }
  const ParserSyntax& syntax = registrar_.syntax();
  if (MTParserRegistrar::IsNumber(word_, syntax.decimalPoint)) {
    pushValue(ParseNumber(word_, syntax.decimalPoint));
  } else if (const MTConstant* constant = registrar_.findConstant(word_)) {
    pushValue(constant->value);
  } else if (const MTVariableI* var = registrar_.findVariable(word_)) {
    postfix_.push_back({var, 0, 0.0});
  } else if (autoVarDefinition_ && registrar_.variableFactory()) {
    registrar_.registerVariable(registrar_.variableFactory()->create(word_));
    postfix_.push_back({registrar_.findVariable(word_), 0, 0.0});
  } else {
    fail("MTPARSINGEXCEP_UndefinedVar", wordPos_, word_);
  }
  level.record(kValue);
  word_.clear();
}

void MTParserCompiler::handleOperator(const MTOperatorI& matched, std::size_t i) {
  flushWord(false);
  TokenLevel& level = levels_.back();
  const bool unary = level.current == kNone || level.current == kOperator;
  level.record(kOperator);
  level.operatorPos = i;
  const std::string_view symbol = matched.symbol();
  const MTOperatorI* op = registrar_.findOperator(symbol, unary);
  if (!op) fail("MTPARSINGEXCEP_InvalidOpSyntax", i, symbol);
  if (i + symbol.size() >= text_.size()) fail("MTPARSINGEXCEP_UnexpectedOp", i);

  // A prefix operator has no operand yet, so nothing waiting on the stack can be complete.
  if (!unary) {
    int p = op->precedence();
    const OperatorStackEntry* top = stack_.empty() ? nullptr : &stack_.back();
    if (top && top->kind == kOperatorEntry && top->precedence == p &&
        static_cast<const MTOperatorI*>(top->item)->isUnary())
      ++p;
    while (!stack_.empty() && stack_.back().kind == kOperatorEntry &&
           stack_.back().precedence >= p) {
      postfix_.push_back({stack_.back().item, stack_.back().argCount, 0.0});
      stack_.pop_back();
    }
  }
  stack_.push_back({op->precedence(), kOperatorEntry, unary ? 1u : 2u, i, op, {}});
}

std::size_t MTParserCompiler::handleOpenBracket(std::size_t i) {
  TokenLevel& level = levels_.back();
  if (!word_.empty()) {
    flushWord(true);
    const std::vector<const MTFunctionI*> fcts = registrar_.functionsNamed(word_);
    if (fcts.front()->compilerState()) return convertRawArgument(*fcts.front(), i);
    level.record(kFunctionCall);
    OperatorStackEntry call{kFunctionPrecedence, kFunctionEntry, 0, wordPos_, nullptr, {}};
    call.name = fcts.front()->symbol();
    stack_.push_back(call);
    word_.clear();
  } else {
    // A bracket right after a value, as in (1)(2), has no operator to join them.
    if (level.current == kValue) fail("MTPARSINGEXCEP_MissingOp", i, "(");
    if (i + 1 < text_.size() && text_[i + 1] == kCloseBracket)
      fail("MTPARSINGEXCEP_InvalidSyntax", i);
    stack_.push_back({-1, kBracket, 0, i, nullptr, {}});
  }
  TokenLevel inner;
  inner.marker = stack_.size() - 1;
  levels_.push_back(inner);
  return i + 1;
}

std::size_t MTParserCompiler::convertRawArgument(const MTFunctionI& fct, std::size_t open) {
  int depth = 1;
  std::size_t close = open + 1;
  for (; close < text_.size(); ++close) {
    if (text_[close] == kOpenBracket) ++depth;
    if (text_[close] == kCloseBracket && --depth == 0) break;
  }
  if (close >= text_.size()) fail("MTPARSINGEXCEP_MissingCloseBracket", open);
  const std::string_view raw = std::string_view(text_).substr(open + 1, close - open - 1);
  double value = 0.0;
  try {
    value = fct.compilerState()->readRawArgument(raw);
  } catch (const MTChainedExceptions& e) {
    std::vector<MTExcepParam> params = e.data().params;
    if (!e.data().hasParam("pos") && params.size() < MTExcepData::kMaxParams)
      params.push_back({"pos", writtenPos(wordPos_)});
    MTThrow(e.id(), std::move(params), __FILE__, __LINE__);
  }
  pushValue(value);
  levels_.back().record(kValue);
  word_.clear();
  return close + 1;
}

void MTParserCompiler::moveOperatorsToMarker() {
  const std::size_t marker = levels_.back().marker;
  while (stack_.size() > marker + 1) {
    postfix_.push_back({stack_.back().item, stack_.back().argCount, 0.0});
    stack_.pop_back();
  }
}

void MTParserCompiler::handleSeparator(std::size_t i) {
  flushWord(false);
  TokenLevel& level = levels_.back();
  if (level.current == kOperator) fail("MTPARSINGEXCEP_UnexpectedOp", level.operatorPos);
  if (levels_.size() < 2 || stack_[level.marker].kind != kFunctionEntry)
    fail("MTPARSINGEXCEP_InvalidArgSeparator", i);
  if (i + 1 < text_.size() && text_[i + 1] == kCloseBracket)
    fail("MTPARSINGEXCEP_UselessArgSeparator", i);
  if (level.current == kNone) fail("MTPARSINGEXCEP_UselessArgSeparator", i);
  moveOperatorsToMarker();
  ++stack_[level.marker].argCount;
  const std::size_t marker = level.marker;
  level = TokenLevel{};
  level.marker = marker;
}

void MTParserCompiler::handleCloseBracket(std::size_t i) {
  flushWord(false);
  const TokenLevel level = levels_.back();
  if (level.current == kOperator) fail("MTPARSINGEXCEP_UnexpectedOp", level.operatorPos);
  if (levels_.size() < 2) fail("MTPARSINGEXCEP_MissingOpenBracket", i);
  moveOperatorsToMarker();
  const OperatorStackEntry open = stack_.back();
  stack_.pop_back();
  levels_.pop_back();
  if (open.kind == kFunctionEntry) {
    const unsigned int count = open.argCount + (level.current != kNone ? 1u : 0u);
    const MTFunctionI* chosen = nullptr;
    const MTFunctionI* anyCount = nullptr;
    for (const MTFunctionI* f : registrar_.functionsNamed(open.name)) {
      if (f->argCount() >= 0 && static_cast<unsigned int>(f->argCount()) == count) {
        chosen = f;
        break;
      }
      if (f->argCount() == MTFunctionI::kAnyArgCount && count >= 1) anyCount = f;
    }
    if (!chosen) chosen = anyCount;
    if (!chosen) fail("MTPARSINGEXCEP_OverloadedFuncNotFound", open.pos, open.name);
    postfix_.push_back({chosen, count, 0.0});
  } else if (level.current == kNone) {
    fail("MTPARSINGEXCEP_InvalidSyntax", open.pos);
  }
  levels_.back().record(kValue);
}

void MTParserCompiler::finish() {
  flushWord(false);
  if (levels_.back().current == kOperator)
    fail("MTPARSINGEXCEP_UnexpectedOp", levels_.back().operatorPos);
  while (!stack_.empty()) {
    const OperatorStackEntry& top = stack_.back();
    if (top.kind != kOperatorEntry) fail("MTPARSINGEXCEP_MissingCloseBracket", top.pos);
    postfix_.push_back({top.item, top.argCount, 0.0});
    stack_.pop_back();
  }
}

}  // namespace ortavia
