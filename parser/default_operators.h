#pragma once
// The 17 operators every new parser defines, in their order of definition.
#include <memory>
#include <vector>

#include "parser/items.h"

namespace ortavia {

std::vector<std::unique_ptr<MTOperatorI>> MakeDefaultOperators();

// x^y: exponentiation by squaring when y is a whole 32-bit number, the library pow otherwise.
double MTPower(double x, double y);

}  // namespace ortavia
