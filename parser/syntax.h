#pragma once
// The two configurable characters of the formula syntax; the brackets "(" and ")" are fixed.

namespace ortavia {

struct ParserSyntax {
  char decimalPoint = '.';
  char argSeparator = ',';
};

constexpr char kOpenBracket = '(';
constexpr char kCloseBracket = ')';

}  // namespace ortavia
