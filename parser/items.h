#pragma once
// The interfaces of everything an expression is made of: operators, functions, conversion
// functions and variables. Items hold no data of their own (variables excepted) and are owned by the
// registry once defined.
#include <memory>
#include <string_view>

namespace ortavia {

class MTParserItemI {
 public:
  // Items that share a symbol (the binary and the unary "-") are told apart by their ids.
  virtual std::string_view id() const { return symbol(); }
  virtual std::string_view symbol() const = 0;
  virtual std::string_view usage() const = 0;
  virtual std::string_view description() const = 0;
  // True when equal arguments always give equal results, so a call may be evaluated while compiling.
  virtual bool isConstant() const = 0;
  // args holds nbArgs values in written order.
  virtual double evaluate(unsigned int nbArgs, const double* args) const = 0;
  virtual ~MTParserItemI() = default;
};

class MTOperatorI : public MTParserItemI {
 public:
  virtual int precedence() const = 0;  // 0 to 9999, higher binds tighter
  virtual bool isUnary() const = 0;    // prefix operator of one operand
  virtual std::unique_ptr<MTOperatorI> clone() const = 0;
};

class MTRegistrarI;
class MTCompilerI;

// A state that takes over the compiler while the raw text of a call's argument is read.
class MTCompilerStateI {
 public:
  virtual ~MTCompilerStateI() = default;
  // Turns the raw argument text into the value the call stands for.
  virtual double readRawArgument(std::string_view text) const = 0;
};

class MTFunctionI : public MTParserItemI {
 public:
  static constexpr int kAnyArgCount = -1;  // any number of at least one

  virtual int argCount() const = 0;
  // None for ordinary functions; conversion functions return their raw-text state.
  virtual const MTCompilerStateI* compilerState() const { return nullptr; }
  // Hands the function the registry and compiler it was defined in; the default set ignores it.
  virtual void attach(MTRegistrarI* /*registrar*/, MTCompilerI* /*compiler*/) {}
  virtual std::unique_ptr<MTFunctionI> clone() const = 0;
};

// A function whose argument is raw text converted once, at compile time, into a constant.
class MTConvFunctionI : public MTFunctionI, public MTCompilerStateI {
 public:
  virtual double convert(std::string_view text) const = 0;

  int argCount() const override { return 1; }
  const MTCompilerStateI* compilerState() const override { return this; }
  double readRawArgument(std::string_view text) const override { return convert(text); }
  // The call is replaced by a constant while compiling, so this is never reached in a program.
  double evaluate(unsigned int, const double*) const override { return 0.0; }
};

// An item of no arguments whose symbol is its name.
class MTVariableI : public MTParserItemI {
 public:
  virtual std::unique_ptr<MTVariableI> clone() const = 0;
};

// Creates variables by name when automatic variable definition is on.
class MTVariableFactoryI {
 public:
  virtual ~MTVariableFactoryI() = default;
  virtual std::unique_ptr<MTVariableI> create(std::string_view name) = 0;
  virtual std::unique_ptr<MTVariableFactoryI> clone() const = 0;
};

}  // namespace ortavia
