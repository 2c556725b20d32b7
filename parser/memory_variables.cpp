#include "parser/parser.h"

namespace ortavia {

MTParser::MemVariableEvaluator::MemVariableEvaluator(std::string name, double* address)
    : name_(std::move(name)), address_(address ? address : &own_) {}

MTParser::MemVariableEvaluator::MemVariableEvaluator(std::string name)
    : name_(std::move(name)), address_(&own_) {}

std::unique_ptr<MTVariableI> MTParser::MemVariableEvaluator::clone() const {
  if (address_ == &own_) {
    auto copy = std::make_unique<MemVariableEvaluator>(name_);
    copy->own_ = own_;
    return copy;
  }
  return std::make_unique<MemVariableEvaluator>(name_, address_);
}

std::unique_ptr<MTVariableI> MTParser::MemVariableFactory::create(std::string_view name) {
  return std::make_unique<MemVariableEvaluator>(std::string(name));
}

std::unique_ptr<MTVariableFactoryI> MTParser::MemVariableFactory::clone() const {
  return std::make_unique<MemVariableFactory>();
}

}  // namespace ortavia
