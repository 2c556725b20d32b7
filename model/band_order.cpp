#include "model/band_order.h"

namespace ortavia {
namespace {

const BandChoice kGray{"Gray", 1};
const BandChoice kRed{"Red", 3};
const BandChoice kGreen{"Green", 4};
const BandChoice kBlue{"Blue", 5};
const BandChoice kAlpha{"Alpha", 6};
const BandChoice kNone{"", 0};

}  // namespace

std::vector<BandChoice> BandChoices(int bandCount, int band) {
  if (band < 1 || band > kBandLists) return {};
  if (bandCount == 1) return band == 1 ? std::vector<BandChoice>{kGray} : std::vector<BandChoice>{};
  if (bandCount == 3) {
    if (band == 1) return {kRed, kGreen, kBlue};
    if (band <= 3) return {kRed, kGreen, kBlue, kAlpha};
    return {};
  }
  if (band == 4) return {kRed, kGreen, kBlue, kAlpha, kNone};
  if (band == 1 && bandCount != 4) return {kRed, kGreen, kBlue};
  return {kRed, kGreen, kBlue, kAlpha};
}

std::array<int, kBandLists> ProposeBandSelection(int bandCount, const std::vector<int>& roles) {
  std::array<int, kBandLists> selection{-1, -1, -1, -1};
  if (bandCount < 1 || static_cast<int>(roles.size()) < bandCount) return selection;
  for (int band = 1; band <= kBandLists && band <= bandCount; ++band) {
    const auto choices = BandChoices(bandCount, band);
    for (std::size_t i = 0; i < choices.size(); ++i)
      if (choices[i].code == roles[band - 1]) selection[band - 1] = static_cast<int>(i);
  }
  return selection;
}

std::string ApplyBandSelection(int bandCount, const std::array<int, kBandLists>& selection,
                               std::vector<int>& roles) {
  std::vector<int> chosen(kBandLists, 0);
  for (int band = 1; band <= kBandLists; ++band) {
    const auto choices = BandChoices(bandCount, band);
    if (choices.empty()) continue;
    const int index = selection[band - 1];
    if (index < 0 || index >= static_cast<int>(choices.size()))
      return "Please select band " + std::to_string(band);
    chosen[band - 1] = choices[index].code;
  }
  roles = std::move(chosen);
  return {};
}

}  // namespace ortavia
