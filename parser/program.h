#pragma once
// A compiled expression: its items in postfix order, each writing its result into an argument
// slot of the item that consumes it. Running it allocates nothing.
#include <cstddef>
#include <vector>

#include "parser/items.h"

namespace ortavia {

struct ProgramItem {
  const MTParserItemI* item = nullptr;
  unsigned int argCount = 0;
  const double* args = nullptr;  // argCount values in written order
  double* result = nullptr;      // an argument slot of the consumer, or the program's result
};

// One step of the compiler's postfix output: an item with its written argument count, or a value
// known while compiling (a number or a named constant) when item is null.
struct PostfixItem {
  const MTParserItemI* item = nullptr;
  unsigned int argCount = 0;
  double value = 0.0;
};

class MTProgram {
 public:
  // An empty expression: NaN.
  MTProgram();
  MTProgram(MTProgram&&) noexcept = default;
  MTProgram& operator=(MTProgram&&) noexcept = default;
  MTProgram(const MTProgram&) = delete;
  MTProgram& operator=(const MTProgram&) = delete;

  // Folds constant sub-expressions and lays the rest out for evaluation. Returns false when the
  // postfix sequence does not form exactly one expression (every item finds its arguments).
  static bool Build(const std::vector<PostfixItem>& postfix, MTProgram& out);

  double evaluate() const;

  bool isFolded() const { return items_.empty(); }
  // Items left to run after folding.
  std::size_t size() const { return items_.size(); }

 private:
  using Runner = double (*)(const ProgramItem*, std::size_t);

  std::vector<double> slots_;  // argument slots of every item, then the result
  std::vector<ProgramItem> items_;
  double foldedValue_;
  Runner run_ = nullptr;
};

}  // namespace ortavia
