#pragma once
// Translated texts of the parser's items. This system never loads a translation, so the one
// process-wide localizer stays empty and every lookup throws MTDEFEXCEP_ItemNotFound; callers fall
// back to the items' own texts.
#include <string>
#include <string_view>

namespace ortavia {

struct MTItemInfo {
  std::string symbol;
  std::string usage;
  std::string description;
};

class MTParserLocalizer {
 public:
  static MTParserLocalizer& getInstance();

  MTItemInfo getOpInfo(std::string_view id) const;
  MTItemInfo getFuncInfo(std::string_view id) const;
  MTItemInfo getConstInfo(std::string_view name) const;

 private:
  MTParserLocalizer() = default;
};

}  // namespace ortavia
