#include "parser/program.h"

#include <array>
#include <limits>
#include <utility>

namespace ortavia {

namespace {

template <std::size_t... I>
double RunUnrolled(const ProgramItem* p, std::size_t, std::index_sequence<I...>) {
  ((*p[I].result = p[I].item->evaluate(p[I].argCount, p[I].args)), ...);
  return *p[sizeof...(I) - 1].result;
}

template <std::size_t N>
double RunFixed(const ProgramItem* p, std::size_t n) {
  return RunUnrolled(p, n, std::make_index_sequence<N>{});
}

double RunLoop(const ProgramItem* p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) *p[i].result = p[i].item->evaluate(p[i].argCount, p[i].args);
  return *p[n - 1].result;
}

// Short programs, the usual case for a distortion formula, run as straight-line code.
constexpr std::size_t kUnrolled = 30;

template <std::size_t... N>
constexpr auto MakeRunners(std::index_sequence<N...>) {
  return std::array<double (*)(const ProgramItem*, std::size_t), sizeof...(N)>{
      &RunFixed<N + 1>...};
}

constexpr auto kRunners = MakeRunners(std::make_index_sequence<kUnrolled>{});

}  // namespace

MTProgram::MTProgram() : foldedValue_(std::numeric_limits<double>::quiet_NaN()) {}

bool MTProgram::Build(const std::vector<PostfixItem>& postfix, MTProgram& out) {
  const std::size_t n = postfix.size();
  // Who consumes each item, and in which of its argument slots; folded values are computed on
  // the way, in postfix order, so every argument is known before its consumer.
  std::vector<std::size_t> consumer(n, n), slot(n, 0), stack;
  std::vector<char> folded(n, 0);
  std::vector<double> value(n, 0.0), args;
  for (std::size_t i = 0; i < n; ++i) {
    const PostfixItem& p = postfix[i];
    const std::size_t argc = p.item ? p.argCount : 0;
    if (stack.size() < argc) return false;
    bool allFolded = true;
    args.clear();
    for (std::size_t k = 0; k < argc; ++k) {
      const std::size_t a = stack[stack.size() - argc + k];
      consumer[a] = i;
      slot[a] = k;
      allFolded = allFolded && folded[a];
      args.push_back(value[a]);
    }
    stack.resize(stack.size() - argc);
    stack.push_back(i);
    if (!p.item) {
      folded[i] = 1;
      value[i] = p.value;
    } else if (allFolded && p.item->isConstant()) {
      folded[i] = 1;
      value[i] = p.item->evaluate(p.argCount, args.data());
    }
  }
  if (stack.size() != 1) return false;

  MTProgram prog;
  if (folded[n - 1]) {
    prog.foldedValue_ = value[n - 1];
    out = std::move(prog);
    return true;
  }
  // Slots: each running item's arguments, then one for the result.
  std::vector<std::size_t> firstSlot(n, 0);
  std::size_t total = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (folded[i]) continue;
    firstSlot[i] = total;
    total += postfix[i].argCount;
  }
  prog.slots_.assign(total + 1, 0.0);
  double* base = prog.slots_.data();
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t c = consumer[i];
    double* target = c < n ? base + firstSlot[c] + slot[i] : base + total;
    if (folded[i]) {
      // A folded argument of a running item is written once and never overwritten.
      if (c < n && !folded[c]) *target = value[i];
      continue;
    }
    prog.items_.push_back({postfix[i].item, postfix[i].argCount, base + firstSlot[i], target});
  }
  const std::size_t count = prog.items_.size();
  prog.run_ = count <= kUnrolled ? kRunners[count - 1] : &RunLoop;
  out = std::move(prog);
  return true;
}

double MTProgram::evaluate() const {
  if (items_.empty()) return foldedValue_;
  return run_(items_.data(), items_.size());
}

}  // namespace ortavia
