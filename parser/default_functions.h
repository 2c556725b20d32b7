#pragma once
// The 32 functions every new parser defines, in their order of definition.
#include <memory>
#include <string_view>
#include <vector>

#include "parser/items.h"

namespace ortavia {

std::vector<std::unique_ptr<MTFunctionI>> MakeDefaultFunctions();

// round(x): x > 0 gives x + 0.5, else x - 0.5, truncated toward zero.
double MTRound(double x);
// fact(x): the factorial of x truncated toward zero; 1 for n <= 0.
double MTFactorial(double x);
// The value of the digits of text in base 2 or 16; throws MTPARSINGEXCEP_InvalidFuncSyntax with
// itemName = symbol on any other character.
double MTConvertDigits(std::string_view text, int base, std::string_view symbol);

}  // namespace ortavia
