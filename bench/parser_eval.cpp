// Evaluation of compiled distortion formulas bound to memory variables, as the passport dialog
// plots them: one evaluation per plotted point.
#include <benchmark/benchmark.h>

#include "parser/parser.h"

namespace {

struct DistortionTerms {
  double x = 0.01, y = -0.02, r = 0.0, k1 = 2.5e-5, k2 = -1.2e-9, k3 = 3e-14, p1 = 1e-6,
         p2 = -2e-6;
};

void Bind(ortavia::MTParser& p, DistortionTerms& t) {
  p.registerVariable("x", &t.x);
  p.registerVariable("y", &t.y);
  p.registerVariable("r", &t.r);
  p.registerVariable("k1", &t.k1);
  p.registerVariable("k2", &t.k2);
  p.registerVariable("k3", &t.k3);
  p.registerVariable("p1", &t.p1);
  p.registerVariable("p2", &t.p2);
}

void RunCompiled(benchmark::State& state, const char* formula) {
  ortavia::MTParser p;
  DistortionTerms t;
  Bind(p, t);
  p.compile(formula);
  state.counters["items"] = static_cast<double>(p.compiledSize());
  double sum = 0;
  for (auto _ : state) {
    t.r += 0.001;
    sum += p.evaluateCompiled();
  }
  benchmark::DoNotOptimize(sum);
}

void BM_EvaluateRadial(benchmark::State& state) { RunCompiled(state, "k1*r^3 + k2*r^5"); }
BENCHMARK(BM_EvaluateRadial);

void BM_EvaluateRadialTangential(benchmark::State& state) {
  RunCompiled(state, "x*(k1*r^2 + k2*r^4 + k3*r^6) + p1*(r^2 + 2*x^2) + 2*p2*x*y");
}
BENCHMARK(BM_EvaluateRadialTangential);

void BM_CompileAndEvaluateRadial(benchmark::State& state) {
  ortavia::MTParser p;
  DistortionTerms t;
  Bind(p, t);
  double sum = 0;
  for (auto _ : state) {
    t.r += 0.001;
    sum += p.compileAndEvaluate("k1*r^3 + k2*r^5");
  }
  benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_CompileAndEvaluateRadial);

}  // namespace

BENCHMARK_MAIN();
