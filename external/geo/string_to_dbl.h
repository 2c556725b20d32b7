#pragma once
#include <string_view>

namespace geo {

// Parses the whole text (surrounding blanks allowed) as a C-locale number; 0 when it is no number
// (value left unchanged), non-zero otherwise.
int StringToDbl(std::string_view text, double* value);

}  // namespace geo
