#include "model/band_order.h"

#include <gtest/gtest.h>

namespace ortavia {
namespace {

std::vector<std::string> Texts(int bandCount, int band) {
  std::vector<std::string> t;
  for (const auto& c : BandChoices(bandCount, band)) t.push_back(c.text);
  return t;
}

using Texts_t = std::vector<std::string>;

TEST(BandOrder, ListsPerBandCount) {
  EXPECT_EQ(Texts(1, 1), Texts_t{"Gray"});
  EXPECT_TRUE(Texts(1, 2).empty());
  EXPECT_EQ(Texts(3, 1), (Texts_t{"Red", "Green", "Blue"}));
  EXPECT_EQ(Texts(3, 3), (Texts_t{"Red", "Green", "Blue", "Alpha"}));
  EXPECT_TRUE(Texts(3, 4).empty());
  EXPECT_EQ(Texts(4, 1), (Texts_t{"Red", "Green", "Blue", "Alpha"}));
  EXPECT_EQ(Texts(4, 4), (Texts_t{"Red", "Green", "Blue", "Alpha", ""}));
  // Other counts: all four lists, band 1 without Alpha.
  EXPECT_EQ(Texts(2, 1), (Texts_t{"Red", "Green", "Blue"}));
  EXPECT_EQ(Texts(5, 3), (Texts_t{"Red", "Green", "Blue", "Alpha"}));
  EXPECT_EQ(Texts(2, 4), (Texts_t{"Red", "Green", "Blue", "Alpha", ""}));
  EXPECT_TRUE(Texts(3, 0).empty());
  EXPECT_TRUE(Texts(3, 5).empty());
}

TEST(BandOrder, ProposalFollowsTheCurrentRoles) {
  // Blue, Green, Red, Alpha on a 4-band image.
  EXPECT_EQ(ProposeBandSelection(4, {5, 4, 3, 6}), (std::array<int, 4>{2, 1, 0, 3}));
  // Undefined roles leave the lists without selection; too short a role list proposes nothing.
  EXPECT_EQ(ProposeBandSelection(3, {0, 4, 2}), (std::array<int, 4>{-1, 1, -1, -1}));
  EXPECT_EQ(ProposeBandSelection(3, {3, 4}), (std::array<int, 4>{-1, -1, -1, -1}));
  EXPECT_EQ(ProposeBandSelection(1, {1}), (std::array<int, 4>{0, -1, -1, -1}));
  EXPECT_EQ(ProposeBandSelection(1, {3}), (std::array<int, 4>{-1, -1, -1, -1}));
}

TEST(BandOrder, ApplyNeedsEveryShownListInBandOrder) {
  std::vector<int> roles{9, 9};
  EXPECT_EQ(ApplyBandSelection(3, {2, 1, 0, -1}, roles), "");
  EXPECT_EQ(roles, (std::vector<int>{5, 4, 3, 0}));  // Blue, Green, Red, undefined

  roles = {9};
  EXPECT_EQ(ApplyBandSelection(3, {2, -1, -1, -1}, roles), "Please select band 2");
  EXPECT_EQ(roles, std::vector<int>{9});  // untouched, the dialog stays open
  EXPECT_EQ(ApplyBandSelection(4, {0, 1, 2, -1}, roles), "Please select band 4");
  EXPECT_EQ(ApplyBandSelection(4, {0, 1, 2, 4}, roles), "");  // the empty entry is a choice
  EXPECT_EQ(roles, (std::vector<int>{3, 4, 5, 0}));
  EXPECT_EQ(ApplyBandSelection(1, {0, -1, -1, -1}, roles), "");
  EXPECT_EQ(roles, (std::vector<int>{1, 0, 0, 0}));
  EXPECT_EQ(ApplyBandSelection(3, {7, 0, 0, -1}, roles), "Please select band 1");  // no such entry
}

}  // namespace
}  // namespace ortavia
