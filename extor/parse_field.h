#pragma once
// One field of a split text: bytes, readable as a number the way C's atoi / atof read text.
#include <string>
#include <string_view>

class CParseField {
 public:
  CParseField() = default;
  explicit CParseField(std::string_view text) : text_(text) {}

  // Leading white space, optional sign, digits up to the first other byte; 0 without digits.
  // Values beyond the type's range are clamped.
  int ToInt() const;
  long ToLong() const;
  // The longest leading part that forms a C-locale decimal number (sign, point, exponent);
  // 0 when there is none. Overflow gives +-HUGE_VAL.
  double ToDouble() const;
  const char* Text() const { return text_.c_str(); }
  const std::string& String() const { return text_; }

  CParseField& Assign(const CParseField& other);
  CParseField& Assign(const std::string& text);
  CParseField& Assign(const char* text);

 private:
  std::string text_;
};

namespace ortavia::extor {

// The functions behind CParseField's readers, for callers holding plain text.
long LeadingLong(std::string_view text);
double LeadingDouble(std::string_view text);
// Whether the text starts (after white space) with a decimal number at all.
bool HasLeadingNumber(std::string_view text);

}  // namespace ortavia::extor
