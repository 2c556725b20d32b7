#pragma once
// The one exception type of the formula parser: a chain of records, each an identifier with named
// parameters and the message formatted from them.
#include <exception>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ortavia {

struct MTExcepParam {
  std::string name;
  std::string value;
};

struct MTExcepData {
  static constexpr int kMaxParams = 4;

  std::string id;                    // e.g. "MTPARSINGEXCEP_UndefinedVar"
  std::vector<MTExcepParam> params;  // "itemName", "conflictItemName", "param1", "pos"
  std::string description;           // formatted from id and params
  int sourceLine = 0;                // where it was thrown, for diagnostics only
  std::string sourceFile;

  // The value of a parameter, or an empty text when the record has none of that name.
  std::string param(std::string_view name) const;
  bool hasParam(std::string_view name) const;
};

class MTException : public std::exception {
 public:
  const char* what() const noexcept override = 0;
};

class MTChainedExceptions : public MTException {
 public:
  static constexpr std::size_t kMaxChain = 100;

  explicit MTChainedExceptions(MTExcepData data);

  // Adds a record at the end of the chain; beyond kMaxChain records further ones are dropped.
  void add(MTExcepData data);
  std::size_t size() const { return chain_.size(); }
  const MTExcepData& at(std::size_t i) const { return chain_.at(i); }

  // The record a catcher shows: the first one.
  const MTExcepData& data() const { return chain_.front(); }
  const std::string& id() const { return data().id; }
  const std::string& description() const { return data().description; }
  const char* what() const noexcept override { return chain_.front().description.c_str(); }

 private:
  std::vector<MTExcepData> chain_;
};

// The template of an identifier, or nullptr when the message table has none.
const char* MTMessageTemplate(std::string_view id);

// The description of an identifier with its parameters: each "%name" placeholder of the template is
// replaced once by the parameter's value; identifiers without a template read
// "Unknown exception: " + id.
std::string MTFormatDescription(std::string_view id, const std::vector<MTExcepParam>& params);

// Builds the record (with its description) and throws it.
[[noreturn]] void MTThrow(std::string id, std::vector<MTExcepParam> params, const char* file,
                          int line);

}  // namespace ortavia

#define MT_THROW(id, ...) ::ortavia::MTThrow((id), {__VA_ARGS__}, __FILE__, __LINE__)
