#include "parser/localizer.h"

#include "parser/exceptions.h"

namespace ortavia {

MTParserLocalizer& MTParserLocalizer::getInstance() {
  static MTParserLocalizer instance;
  return instance;
}

MTItemInfo MTParserLocalizer::getOpInfo(std::string_view id) const {
  MT_THROW("MTDEFEXCEP_ItemNotFound", {"itemName", std::string(id)});
}

MTItemInfo MTParserLocalizer::getFuncInfo(std::string_view id) const {
  MT_THROW("MTDEFEXCEP_ItemNotFound", {"itemName", std::string(id)});
}

MTItemInfo MTParserLocalizer::getConstInfo(std::string_view name) const {
  MT_THROW("MTDEFEXCEP_ItemNotFound", {"itemName", std::string(name)});
}

}  // namespace ortavia
