// Random expressions compared with a small recursive-descent evaluator written here from the
// precedence table: unary "+ - !" bind tightest (800), then "^" (700), "* / %" (600), "+ -"
// (500), "< > <= >=" (400), "== !=" (300), "&" (200), "|" (100); infix operators of equal
// precedence associate to the left.
#include <cmath>
#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "tests/parser/parser_test_util.h"

namespace ortavia {
namespace {

class Reference {
 public:
  Reference(std::map<std::string, double> names) : names_(std::move(names)) {}

  // The value, or nullopt when the text is not a valid expression.
  std::optional<double> evaluate(const std::string& written) {
    text_.clear();
    for (char c : written)
      if (c != ' ') text_ += c;
    pos_ = 0;
    failed_ = false;
    if (text_.empty()) return std::nan("");
    const double v = expr(0, 0);
    if (failed_ || pos_ != text_.size()) return std::nullopt;
    return v;
  }

 private:
  static int InfixPrecedence(const std::string& op) {
    static const std::map<std::string, int> table = {
        {"^", 700}, {"*", 600},  {"/", 600},  {"%", 600},  {"+", 500}, {"-", 500}, {"<", 400},
        {">", 400}, {"<=", 400}, {">=", 400}, {"==", 300}, {"!=", 300}, {"&", 200}, {"|", 100}};
    const auto it = table.find(op);
    return it == table.end() ? -1 : it->second;
  }

  std::string peekOperator() const {
    static const char* ops[] = {"<=", ">=", "==", "!=", "^", "*", "/", "%", "+",
                                "-",  "<",  ">",  "&",  "|", "!"};
    for (const char* op : ops)
      if (text_.compare(pos_, std::string(op).size(), op) == 0) return op;
    return {};
  }

  static bool Delimiter(char c) { return std::string("^*/%+-<>=!&|(),").find(c) != std::string::npos; }

  double fail() {
    failed_ = true;
    return 0;
  }

  static double Power(double x, double y) {
    if (!(y >= -2147483648.0 && y <= 2147483647.0) || y != std::floor(y)) return std::pow(x, y);
    std::int64_t n = static_cast<std::int64_t>(y);
    const bool negative = n < 0;
    if (negative) n = -n;
    double r = 1, b = x;
    while (n > 0) {
      if (n % 2 == 1) r *= b;
      n /= 2;
      if (n > 0) b *= b;
    }
    return negative ? 1 / r : r;
  }

  static double Apply(const std::string& op, double a, double b) {
    if (op == "^") return Power(a, b);
    if (op == "*") return a * b;
    if (op == "/") return a / b;
    if (op == "%") return std::fmod(a, b);
    if (op == "+") return a + b;
    if (op == "-") return a - b;
    if (op == "<") return a < b;
    if (op == ">") return a > b;
    if (op == "<=") return a <= b;
    if (op == ">=") return a >= b;
    if (op == "==") return a == b;
    if (op == "!=") return a != b;
    if (op == "&") return a != 0 && b != 0;
    return a != 0 || b != 0;
  }

  double expr(int minPrecedence, int depth) {
    if (depth > 200) return fail();
    double lhs = unary(depth + 1);
    while (!failed_) {
      const std::string op = peekOperator();
      const int p = InfixPrecedence(op);
      if (op.empty() || p < minPrecedence) break;
      if (p < 0) return fail();  // "!" is never infix
      pos_ += op.size();
      const double rhs = expr(p + 1, depth + 1);
      lhs = Apply(op, lhs, rhs);
    }
    return lhs;
  }

  double unary(int depth) {
    if (depth > 200) return fail();
    const std::string op = peekOperator();
    if (op == "-" || op == "+" || op == "!") {
      pos_ += 1;
      const double v = unary(depth + 1);
      return op == "-" ? -v : op == "+" ? v : (v == 0 ? 1 : 0);
    }
    return primary(depth);
  }

  double primary(int depth) {
    if (pos_ >= text_.size()) return fail();
    if (text_[pos_] == '(') {
      ++pos_;
      const double v = expr(0, depth + 1);
      if (pos_ >= text_.size() || text_[pos_] != ')') return fail();
      ++pos_;
      return v;
    }
    std::string word;
    while (pos_ < text_.size() && !Delimiter(text_[pos_])) word += text_[pos_++];
    if (word.empty()) return fail();
    if (pos_ < text_.size() && text_[pos_] == '(') return call(word, depth);
    if (word.find_first_not_of("0123456789.") == std::string::npos &&
        word.find_first_of("0123456789") != std::string::npos &&
        word.find('.') == word.rfind('.'))
      return std::stod(word);
    const auto it = names_.find(word);
    return it == names_.end() ? fail() : it->second;
  }

  double call(const std::string& name, int depth) {
    ++pos_;
    std::vector<double> a;
    if (pos_ < text_.size() && text_[pos_] == ')') {
      ++pos_;
    } else {
      while (!failed_) {
        a.push_back(expr(0, depth + 1));
        if (pos_ < text_.size() && text_[pos_] == ',') {
          ++pos_;
          continue;
        }
        if (pos_ < text_.size() && text_[pos_] == ')') {
          ++pos_;
          break;
        }
        return fail();
      }
    }
    if (failed_) return 0;
    const std::size_t n = a.size();
    if (name == "sin" && n == 1) return std::sin(a[0]);
    if (name == "cos" && n == 1) return std::cos(a[0]);
    if (name == "sqrt" && n == 1) return std::sqrt(a[0]);
    if (name == "abs" && n == 1) return std::fabs(a[0]);
    if (name == "floor" && n == 1) return std::floor(a[0]);
    if ((name == "min" || name == "max") && n >= 1) {
      double r = a[0];
      for (std::size_t i = 1; i < n; ++i)
        r = name == "min" ? (r < a[i] ? r : a[i]) : (r > a[i] ? r : a[i]);
      return r;
    }
    if ((name == "sum" || name == "avg") && n >= 1) {
      double s = 0;
      for (double v : a) s += v;
      return name == "sum" ? s : s / n;
    }
    if (name == "if" && n == 3) return a[0] != 0 ? a[1] : a[2];
    return fail();
  }

  std::map<std::string, double> names_;
  std::string text_;
  std::size_t pos_ = 0;
  bool failed_ = false;
};

class Generator {
 public:
  explicit Generator(unsigned seed) : rng_(seed) {}

  std::string expression(int depth) {
    std::string s = depth <= 0 || pick(3) == 0 ? operand(depth) : binary(depth);
    if (pick(8) == 0) s = "(" + s + ")";
    return s;
  }

  std::string mutate(std::string s) {
    static const std::string pieces[] = {"(", ")", ",", "+", "-", "*", "^", "!", "x", "2", ".", "<"};
    const std::size_t at = s.empty() ? 0 : pick(static_cast<int>(s.size()));
    if (pick(2) == 0 && !s.empty()) s.erase(at, 1);
    else s.insert(at, pieces[pick(12)]);
    return s;
  }

 private:
  std::size_t pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

  std::string operand(int depth) {
    static const char* unaries[] = {"-", "+", "!"};
    switch (pick(9)) {
      case 0: return std::to_string(pick(20));
      case 1: return std::to_string(pick(100)) + "." + std::to_string(pick(100));
      case 2: return "." + std::to_string(pick(10));
      case 3: return pick(2) ? "x" : "y";
      case 4: return "pi";
      case 5: return std::string(unaries[pick(3)]) + operand(depth - 1);
      case 6: {
        static const char* f1[] = {"sin", "cos", "sqrt", "abs", "floor"};
        return std::string(f1[pick(5)]) + "(" + expression(depth - 1) + ")";
      }
      case 7: {
        static const char* fn[] = {"min", "max", "sum", "avg"};
        std::string s = std::string(fn[pick(4)]) + "(" + expression(depth - 1);
        for (std::size_t k = pick(4); k > 0; --k) s += (pick(2) ? "," : " , ") + expression(depth - 1);
        return s + ")";
      }
      default:
        return "if(" + expression(depth - 1) + "," + expression(depth - 1) + "," +
               expression(depth - 1) + ")";
    }
  }

  std::string binary(int depth) {
    static const char* ops[] = {"+", "-", "*", "/", "^", "%", "<", ">", "<=",
                                ">=", "==", "!=", "&", "|"};
    const char* sp = pick(4) == 0 ? " " : "";
    return expression(depth - 1) + sp + ops[pick(14)] + sp + expression(depth - 1);
  }

  std::mt19937 rng_;
};

bool SameValue(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  if (std::isinf(a) || std::isinf(b)) return a == b;
  return std::fabs(a - b) <= 1e-12 * std::max(1.0, std::max(std::fabs(a), std::fabs(b)));
}

TEST(FormulaReference, RandomExpressionsAgreeWithTheReference) {
  double x = 1.75, y = -0.5;
  MTParser p;
  p.registerConstant("pi", 3.14159265359);
  p.registerVariable("x", &x);
  p.registerVariable("y", &y);
  Reference ref({{"x", x}, {"y", y}, {"pi", 3.14159265359}, {"NaN", std::nan("")}});
  Generator gen(20261209);
  int valid = 0, invalid = 0;
  for (int i = 0; i < 20000; ++i) {
    std::string text = gen.expression(1 + i % 5);
    if (i % 3 == 0) text = gen.mutate(text);
    const std::optional<double> expected = ref.evaluate(text);
    std::optional<double> got;
    std::string error;
    try {
      got = p.compileAndEvaluate(text);
    } catch (const MTChainedExceptions& e) {
      error = e.id();
    }
    ASSERT_EQ(got.has_value(), expected.has_value()) << text << " parser error: " << error;
    if (got) {
      ASSERT_TRUE(SameValue(*got, *expected)) << text << " = " << *got << ", expected " << *expected;
      ++valid;
    } else {
      ++invalid;
    }
  }
  EXPECT_GT(valid, 10000);
  EXPECT_GT(invalid, 1000);
}

}  // namespace
}  // namespace ortavia
