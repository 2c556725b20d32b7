#include "parser/default_functions.h"

#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include "parser/exceptions.h"

namespace ortavia {

namespace {

template <class Self, class Base = MTFunctionI>
class DefaultFunction : public Base {
 public:
  std::string_view id() const override { return Self::kId; }
  std::string_view symbol() const override { return Self::kSymbol; }
  std::string_view usage() const override { return Self::kUsage; }
  std::string_view description() const override { return Self::kDescription; }
  bool isConstant() const override { return Self::kConstant; }
  int argCount() const override { return Self::kArgs; }
  std::unique_ptr<MTFunctionI> clone() const override { return std::make_unique<Self>(); }
};

#define ORTAVIA_FUNCTION(Class, sym, ident, args, constant, use, desc, expr)          \
  class Class final : public DefaultFunction<Class> {                                 \
   public:                                                                            \
    static constexpr std::string_view kSymbol = sym, kId = ident, kUsage = use,       \
                                      kDescription = desc;                            \
    static constexpr int kArgs = args;                                                \
    static constexpr bool kConstant = constant;                                       \
    double evaluate([[maybe_unused]] unsigned int n,                                \
                    [[maybe_unused]] const double* a) const override {          \
      return expr;                                                                    \
    }                                                                                 \
  };

constexpr int kAny = MTFunctionI::kAnyArgCount;

// The smaller (larger) of a set; of two equal values the later one, as for min(x,y).
double MinOf(unsigned int n, const double* a) {
  double r = a[0];
  for (unsigned int i = 1; i < n; ++i) r = r < a[i] ? r : a[i];
  return r;
}
double MaxOf(unsigned int n, const double* a) {
  double r = a[0];
  for (unsigned int i = 1; i < n; ++i) r = r > a[i] ? r : a[i];
  return r;
}
double SumOf(unsigned int n, const double* a) {
  double s = 0.0;
  for (unsigned int i = 0; i < n; ++i) s += a[i];
  return s;
}
// r in 0..32767 whatever the library's RAND_MAX, so r / 32767 stays between 0 and 1.
double RandUnit() { return static_cast<double>(std::rand() % 32768) / 32767.0; }
double B(bool b) { return b ? 1.0 : 0.0; }

ORTAVIA_FUNCTION(RoundFct, "round", "round", 1, true, "round(x)",
                 "Round the fractional part of a number", MTRound(a[0]))
ORTAVIA_FUNCTION(SinFct, "sin", "sin", 1, true, "sin(rad)", "Sine", std::sin(a[0]))
ORTAVIA_FUNCTION(ASinFct, "asin", "asin", 1, true, "asin(rad)", "Arcsine", std::asin(a[0]))
ORTAVIA_FUNCTION(SinhFct, "sinh", "sinh", 1, true, "sinh(rad)", "Hyperbolic sine",
                 std::sinh(a[0]))
ORTAVIA_FUNCTION(CosFct, "cos", "cos", 1, true, "cos(rad)", "Cosine", std::cos(a[0]))
ORTAVIA_FUNCTION(ACosFct, "acos", "acos", 1, true, "acos(rad)", "Arccosine", std::acos(a[0]))
ORTAVIA_FUNCTION(CoshFct, "cosh", "cosh", 1, true, "cosh(rad)", "Hyperbolic cosine",
                 std::cosh(a[0]))
ORTAVIA_FUNCTION(TanFct, "tan", "tan", 1, true, "tan(rad)", "Tangent", std::tan(a[0]))
ORTAVIA_FUNCTION(ATanFct, "atan", "atan", 1, true, "atan(rad)", "Arctangent", std::atan(a[0]))
ORTAVIA_FUNCTION(TanhFct, "tanh", "tanh", 1, true, "tanh(rad)", "Hyperbolic tangent",
                 std::tanh(a[0]))
ORTAVIA_FUNCTION(SqrtFct, "sqrt", "sqrt", 1, true, "sqrt(x)", "Square root", std::sqrt(a[0]))
ORTAVIA_FUNCTION(Min2Fct, "min", "min2", 2, true, "min(x,y)", "Returns smaller of two values",
                 MinOf(2, a))
ORTAVIA_FUNCTION(Min3Fct, "min", "min3", 3, true, "min(x,y,z)", "Returns smaller of three values",
                 MinOf(3, a))
ORTAVIA_FUNCTION(MinUndefFct, "min", "minUndef", kAny, true, "min(v1,v2,v3,...)",
                 "Returns smaller of a set of values", MinOf(n, a))
ORTAVIA_FUNCTION(Max2Fct, "max", "max2", 2, true, "max(x,y)", "Returns larger of two values",
                 MaxOf(2, a))
ORTAVIA_FUNCTION(Max3Fct, "max", "max3", 3, true, "max(x,y,z)", "Returns larger of three values",
                 MaxOf(3, a))
ORTAVIA_FUNCTION(MaxUndefFct, "max", "maxUndef", kAny, true, "max(v1,v2,v3,...)",
                 "Returns larger of a set of values", MaxOf(n, a))
ORTAVIA_FUNCTION(AbsFct, "abs", "abs", 1, true, "abs(x)", "Absolute value", std::fabs(a[0]))
ORTAVIA_FUNCTION(Rand0Fct, "rand", "rand0", 0, false, "rand()", "Random value between 0 and 1",
                 RandUnit())
ORTAVIA_FUNCTION(Rand2Fct, "rand", "rand2", 2, false, "rand(min, max)",
                 "Random value between min and max", a[0] + RandUnit() * (a[1] - a[0]))
ORTAVIA_FUNCTION(CeilFct, "ceil", "ceil", 1, true, "ceil(x)", "Ceiling", std::ceil(a[0]))
ORTAVIA_FUNCTION(FloorFct, "floor", "floor", 1, true, "floor(x)", "Floor", std::floor(a[0]))
ORTAVIA_FUNCTION(LogFct, "log", "log", 1, true, "log(x)", "Natural logarithm", std::log(a[0]))
ORTAVIA_FUNCTION(Log10Fct, "log10", "log10", 1, true, "log10(x)", "Base-10 logarithm",
                 std::log10(a[0]))
ORTAVIA_FUNCTION(AvgFct, "avg", "avg", kAny, true, "avg(v1,v2,v3,...)",
                 "Returns the average of a set of values", SumOf(n, a) / n)
ORTAVIA_FUNCTION(SumFct, "sum", "sum", kAny, true, "sum(v1,v2,v3,...)",
                 "Returns the sum of a set of values", SumOf(n, a))
ORTAVIA_FUNCTION(FactFct, "fact", "fact", 1, true, "fact(x)",
                 "Returns the factorial of x: x*(x-1)*(x-2)*...(x-x+1)", MTFactorial(a[0]))
ORTAVIA_FUNCTION(IfFct, "if", "if", 3, true, "if(condition, val1, val2)",
                 "If the condition is true, returns val1 else returns val2.",
                 a[0] == 0.0 ? a[2] : a[1])
ORTAVIA_FUNCTION(IsNaNFct, "isNaN", "isNaN", 1, true, "isNan(value)",
                 "Returns 1 if the number is a NaN value.", B(std::isnan(a[0])))
ORTAVIA_FUNCTION(IsFiniteFct, "isFinite", "isFinite", 1, true, "isFinite(value)",
                 "Returns 1 if the number is finite.", B(std::isfinite(a[0])))

#undef ORTAVIA_FUNCTION

template <class Self>
class ConvFunction : public DefaultFunction<Self, MTConvFunctionI> {
 public:
  int argCount() const override { return 1; }
  double convert(std::string_view text) const override {
    return MTConvertDigits(text, Self::kBase, Self::kSymbol);
  }
};

class HexFct final : public ConvFunction<HexFct> {
 public:
  static constexpr std::string_view kSymbol = "hex", kId = "hex", kUsage = "hex(hexNumber)",
                                    kDescription =
                                        "Converts an hexadecimal number to a decimal number";
  static constexpr int kArgs = 1, kBase = 16;
  static constexpr bool kConstant = true;
};

class BinFct final : public ConvFunction<BinFct> {
 public:
  static constexpr std::string_view kSymbol = "bin", kId = "bin", kUsage = "bin(binNumber)",
                                    kDescription = "Converts a binary number to a decimal number";
  static constexpr int kArgs = 1, kBase = 2;
  static constexpr bool kConstant = true;
};

template <class... Fcts>
std::vector<std::unique_ptr<MTFunctionI>> Make() {
  std::vector<std::unique_ptr<MTFunctionI>> fcts;
  (fcts.push_back(std::make_unique<Fcts>()), ...);
  return fcts;
}

}  // namespace

double MTRound(double x) {
  const double t = x > 0 ? x + 0.5 : x - 0.5;
  if (t > -2147483649.0 && t < 2147483648.0) return static_cast<std::int32_t>(t);
  // Beyond the 32-bit range the rounded value itself, never a wrapped integer; from 2^52 on
  // every double is whole and adding 0.5 could round up.
  if (std::fabs(x) >= 4503599627370496.0 || std::isnan(x)) return x;
  return std::trunc(t);
}

double MTFactorial(double x) {
  if (std::isnan(x)) return x;
  const double n = std::trunc(x);
  if (n <= 0) return 1.0;
  if (n > 170) return std::numeric_limits<double>::infinity();  // beyond the double range
  const auto k = static_cast<int>(n);
  // Exact in 64 bits up to 20!, the double nearest the product above.
  if (k <= 20) {
    std::uint64_t f = 1;
    for (int i = 2; i <= k; ++i) f *= static_cast<std::uint64_t>(i);
    return static_cast<double>(f);
  }
  long double f = 1;
  for (int i = 2; i <= k; ++i) f *= i;
  return static_cast<double>(f);
}

double MTConvertDigits(std::string_view text, int base, std::string_view symbol) {
  double value = 0.0;
  for (const char c : text) {
    const int u = std::toupper(static_cast<unsigned char>(c));
    int digit = base;
    if (u >= '0' && u <= '9') digit = u - '0';
    else if (u >= 'A' && u <= 'F') digit = u - 'A' + 10;
    if (digit >= base)
      MT_THROW("MTPARSINGEXCEP_InvalidFuncSyntax", {"itemName", std::string(symbol)});
    value = value * base + digit;
  }
  return value;
}

std::vector<std::unique_ptr<MTFunctionI>> MakeDefaultFunctions() {
  return Make<RoundFct, SinFct, ASinFct, SinhFct, CosFct, ACosFct, CoshFct, TanFct, ATanFct,
              TanhFct, SqrtFct, Min2Fct, Min3Fct, MinUndefFct, Max2Fct, Max3Fct, MaxUndefFct,
              AbsFct, Rand0Fct, Rand2Fct, CeilFct, FloorFct, LogFct, Log10Fct, AvgFct, SumFct,
              FactFct, IfFct, IsNaNFct, IsFiniteFct, HexFct, BinFct>();
}

}  // namespace ortavia
