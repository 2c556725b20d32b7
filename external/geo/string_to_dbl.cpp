#include "external/geo/string_to_dbl.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace geo {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

int StringToDbl(std::string_view text, double* value) {
  if (value == nullptr) return 0;
  text = Trim(text);
  // from_chars refuses a leading '+', which typed coordinates often carry.
  if (text.size() > 1 && text.front() == '+' && text[1] != '-' && text[1] != '+')
    text.remove_prefix(1);
  if (text.empty()) return 0;
  double parsed = 0.0;
  // from_chars is locale-independent, unlike strtod.
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed,
                                         std::chars_format::general);
  if (ec != std::errc() || end != text.data() + text.size()) return 0;
  // "nan" and "inf" are accepted by from_chars but are no coordinate.
  if (!std::isfinite(parsed)) return 0;
  *value = parsed;
  return 1;
}

}  // namespace geo
