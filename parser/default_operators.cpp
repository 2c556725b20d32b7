#include "parser/default_operators.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace ortavia {

namespace {

template <class Self>
class DefaultOperator : public MTOperatorI {
 public:
  std::string_view id() const override { return Self::kId; }
  std::string_view symbol() const override { return Self::kSymbol; }
  std::string_view usage() const override { return Self::kUsage; }
  std::string_view description() const override { return Self::kDescription; }
  bool isConstant() const override { return true; }
  int precedence() const override { return Self::kPrecedence; }
  bool isUnary() const override { return Self::kUnary; }
  std::unique_ptr<MTOperatorI> clone() const override { return std::make_unique<Self>(); }
};

#define ORTAVIA_OPERATOR(Class, sym, ident, unary, prec, use, desc, expr)              \
  class Class final : public DefaultOperator<Class> {                                  \
   public:                                                                             \
    static constexpr std::string_view kSymbol = sym, kId = ident, kUsage = use,        \
                                      kDescription = desc;                             \
    static constexpr bool kUnary = unary;                                              \
    static constexpr int kPrecedence = prec;                                           \
    double evaluate(unsigned int, const double* a) const override { return expr; }     \
  };

constexpr double B(bool b) { return b ? 1.0 : 0.0; }

ORTAVIA_OPERATOR(AddOp, "+", "+", false, 500, "x + y", "Addition operator", a[0] + a[1])
ORTAVIA_OPERATOR(UnaryAddOp, "+", "unaryAdd", true, 800, "+x", "Unary addition operator", a[0])
ORTAVIA_OPERATOR(MinusOp, "-", "minus", false, 500, "x - y", "Minus operator", a[0] - a[1])
ORTAVIA_OPERATOR(MultOp, "*", "*", false, 600, "x * y", "Multiplication operator", a[0] * a[1])
ORTAVIA_OPERATOR(DivOp, "/", "/", false, 600, "x / y", "Division operator", a[0] / a[1])
ORTAVIA_OPERATOR(PowOp, "^", "^", false, 700, "x ^ y",
                 "Power operator. Calculates x raised to the power of y", MTPower(a[0], a[1]))
ORTAVIA_OPERATOR(UnaryMinusOp, "-", "unaryMinus", true, 800, "-x", "Unary minus operator", -a[0])
ORTAVIA_OPERATOR(ModOp, "%", "%", false, 600, "x % y",
                 "Modulo; find remainder of the division of x by y", std::fmod(a[0], a[1]))
ORTAVIA_OPERATOR(GtOp, ">", ">", false, 400, "x > y",
                 "Greater than logical operator.  Returns 1 if true, 0 if false.",
                 B(a[0] > a[1]))
ORTAVIA_OPERATOR(LtOp, "<", "<", false, 400, "x < y",
                 "Lesser than logical operator.  Returns 1 if true, 0 if false.", B(a[0] < a[1]))
ORTAVIA_OPERATOR(GeOp, ">=", ">=", false, 400, "x >= y",
                 "Greater than or equal logical operator.  Returns 1 if true, 0 if false.",
                 B(a[0] >= a[1]))
ORTAVIA_OPERATOR(LeOp, "<=", "<=", false, 400, "x <= y",
                 "Lesser than or equal logical operator.  Returns 1 if true, 0 if false.",
                 B(a[0] <= a[1]))
ORTAVIA_OPERATOR(NeOp, "!=", "!=", false, 300, "x != y",
                 "Not equal logical operator.  Returns 1 if true, 0 if false.", B(a[0] != a[1]))
ORTAVIA_OPERATOR(EqOp, "==", "==", false, 300, "x == y",
                 "Equal logical operator.  Returns 1 if true, 0 if false.", B(a[0] == a[1]))
ORTAVIA_OPERATOR(AndOp, "&", "&", false, 200, "x & y",
                 "And logical operator.  Returns 1 if true, 0 if false.",
                 B(a[0] != 0.0 && a[1] != 0.0))
ORTAVIA_OPERATOR(OrOp, "|", "|", false, 100, "x | y",
                 "Or logical operator.  Returns 1 if true, 0 if false.",
                 B(a[0] != 0.0 || a[1] != 0.0))
ORTAVIA_OPERATOR(NotOp, "!", "!", true, 800, "!x",
                 "Not logical operator. Returns 1 if x is 0, else returns 1", B(a[0] == 0.0))

#undef ORTAVIA_OPERATOR

template <class... Ops>
std::vector<std::unique_ptr<MTOperatorI>> Make() {
  std::vector<std::unique_ptr<MTOperatorI>> ops;
  (ops.push_back(std::make_unique<Ops>()), ...);
  return ops;
}

}  // namespace

double MTPower(double x, double y) {
  constexpr double lo = std::numeric_limits<std::int32_t>::min();
  constexpr double hi = std::numeric_limits<std::int32_t>::max();
  if (!(y >= lo && y <= hi) || y != std::trunc(y)) return std::pow(x, y);
  const auto n = static_cast<std::int64_t>(y);
  std::uint64_t e = static_cast<std::uint64_t>(n < 0 ? -n : n);
  double result = 1.0;
  double base = x;
  while (e) {
    if (e & 1u) result *= base;
    e >>= 1;
    if (e) base *= base;
  }
  return n < 0 ? 1.0 / result : result;
}

std::vector<std::unique_ptr<MTOperatorI>> MakeDefaultOperators() {
  return Make<AddOp, UnaryAddOp, MinusOp, MultOp, DivOp, PowOp, UnaryMinusOp, ModOp, GtOp, LtOp,
              GeOp, LeOp, NeOp, EqOp, AndOp, OrOp, NotOp>();
}

}  // namespace ortavia
