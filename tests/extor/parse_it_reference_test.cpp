// The splitter against a literal, byte-by-byte reading of its rules, on random texts.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "extor/parse_it.h"

namespace {

std::vector<std::string> ReferenceSplit(const std::string& text, const std::string& separators) {
  std::vector<std::string> fields;
  std::string token;
  bool inSpaceRun = true;
  for (const char c : text) {
    if (separators.find(c) == std::string::npos) {
      token += c;
      inSpaceRun = false;
    } else if (c == ' ' && inSpaceRun) {
    } else {
      fields.push_back(token);
      token.clear();
      if (c == ' ') inSpaceRun = true;
    }
  }
  fields.push_back(token);
  return fields;
}

TEST(ParseItReference, RandomTextsSplitAsTheRulesSay) {
  std::mt19937 rng(12345);
  const std::string alphabet = "ab1.- ,;\t\r\n#";
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  std::uniform_int_distribution<int> length(0, 40);
  const std::vector<std::string> separatorSets = {",", " ", ", ;\t", ";", "\n\r", " \t", ", "};
  for (int round = 0; round < 5000; ++round) {
    std::string text;
    for (int n = length(rng); n > 0; --n) text += alphabet[pick(rng)];
    const std::string& seps = separatorSets[static_cast<std::size_t>(round) % separatorSets.size()];
    CParseIt p;
    ASSERT_EQ(p.ParseString(text, seps.c_str()), 1);
    std::vector<std::string> got;
    for (int i = 1; i <= p.GetCount(); ++i) got.emplace_back(p.FieldView(i));
    ASSERT_EQ(got, ReferenceSplit(text, seps)) << "text '" << text << "' separators '" << seps << "'";
  }
}

}  // namespace
