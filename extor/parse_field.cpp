#include "extor/parse_field.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <string>

namespace ortavia::extor {
namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view SkipSpace(std::string_view t) {
  while (!t.empty() && IsSpace(t.front())) t.remove_prefix(1);
  return t;
}

// Length of the leading decimal number of t (no white space skipping), 0 when there is none.
std::size_t NumberLength(std::string_view t) {
  std::size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < t.size() && IsDigit(t[i])) ++i, ++digits;
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && IsDigit(t[i])) ++i, ++digits;
  }
  if (digits == 0) return 0;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < t.size() && (t[j] == '+' || t[j] == '-')) ++j;
    if (j < t.size() && IsDigit(t[j])) {
      while (j < t.size() && IsDigit(t[j])) ++j;
      i = j;
    }
  }
  return i;
}

}  // namespace

long LeadingLong(std::string_view text) {
  std::string_view t = SkipSpace(text);
  bool negative = false;
  if (!t.empty() && (t.front() == '+' || t.front() == '-')) {
    negative = t.front() == '-';
    t.remove_prefix(1);
  }
  long value = 0;
  for (const char c : t) {
    if (!IsDigit(c)) break;
    const int d = c - '0';
    if (negative) {
      value = value < (LONG_MIN + d) / 10 ? LONG_MIN : value * 10 - d;
    } else {
      value = value > (LONG_MAX - d) / 10 ? LONG_MAX : value * 10 + d;
    }
  }
  return value;
}

double LeadingDouble(std::string_view text) {
  std::string_view t = SkipSpace(text);
  const std::size_t n = NumberLength(t);
  if (n == 0) return 0.0;
  t = t.substr(0, n);
  const bool negative = t.front() == '-';
  if (t.front() == '+' || t.front() == '-') t.remove_prefix(1);
  double value = 0.0;
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
  if (ec == std::errc::result_out_of_range) {
    // Overflow reads as infinity and underflow as zero, as strtod does; the digits decide which.
    const bool tiny = t.find("e-") != std::string_view::npos || t.find("E-") != std::string_view::npos;
    value = tiny ? 0.0 : HUGE_VAL;
  } else if (ec != std::errc()) {
    value = 0.0;
  }
  return negative ? -value : value;
}

bool HasLeadingNumber(std::string_view text) { return NumberLength(SkipSpace(text)) > 0; }

}  // namespace ortavia::extor

int CParseField::ToInt() const {
  const long v = ortavia::extor::LeadingLong(text_);
  return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v);
}

long CParseField::ToLong() const { return ortavia::extor::LeadingLong(text_); }

double CParseField::ToDouble() const { return ortavia::extor::LeadingDouble(text_); }

CParseField& CParseField::Assign(const CParseField& other) {
  text_ = other.text_;
  return *this;
}

CParseField& CParseField::Assign(const std::string& text) {
  text_ = text;
  return *this;
}

CParseField& CParseField::Assign(const char* text) {
  text_ = text ? text : "";
  return *this;
}
