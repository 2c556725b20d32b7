// Evaluating a compiled program allocates nothing: every allocation of this test executable is
// counted.
// The replaced operators below pair malloc with free, which the compiler cannot see through.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>

#include "tests/parser/parser_test_util.h"

namespace {
std::atomic<long> allocations{0};
}

void* operator new(std::size_t size) {
  ++allocations;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace ortavia {
namespace {

TEST(FormulaEvaluation, AllocatesNothing) {
  MTParser p;
  double x = 0.5, r = 2, k1 = 1e-3;
  p.registerVariable("x", &x);
  p.registerVariable("r", &r);
  p.registerVariable("k1", &k1);
  for (const char* formula : {"k1*r^3 + 2*r^5", "sum(x, r, k1, sin(x), max(1,2,3,4,r))",
                              "if(x>0, x, -x) + rand()"}) {
    std::string longer = formula;
    for (int i = 0; i < 20; ++i) longer += std::string("+") + formula;
    for (const std::string& text : {std::string(formula), longer}) {
      p.compile(text);
      const long before = allocations.load();
      double sum = 0;
      for (int i = 0; i < 1000; ++i) {
        r += 0.01;
        sum += p.evaluateCompiled();
      }
      EXPECT_EQ(allocations.load(), before) << text;
      EXPECT_TRUE(std::isfinite(sum));
    }
  }
  const long before = allocations.load();
  (void)p.compileAndEvaluate("1+1");  // compiling does allocate, so the counter is live
  EXPECT_GT(allocations.load(), before);
}

}  // namespace
}  // namespace ortavia
