#pragma once
// The rules of the band-order dialog (`CSelectBandDlg`): which colour roles each band's list
// offers, what it proposes from the image's current roles, and what Apply makes of the choice.
// Colour roles are GDAL colour interpretation codes (GDALColorInterp); band numbers are 1-based.
#include <array>
#include <string>
#include <vector>

namespace ortavia {

inline constexpr const char* kSelectBandCaption = "Select band order";
inline constexpr const char* kSelectBandText =
    "Some bands has undefined color interpretation: please select the correct sequence to continue";
inline constexpr int kBandLists = 4;

struct BandChoice {
  std::string text;  // "Gray", "Red", "Green", "Blue", "Alpha" or "" (none)
  int code = 0;      // GCI_GrayIndex 1, GCI_RedBand 3, GCI_GreenBand 4, GCI_BlueBand 5,
                     // GCI_AlphaBand 6, 0 undefined
};

// The entries of band `band`'s list (1..4) for an image of `bandCount` bands; empty = hidden.
std::vector<BandChoice> BandChoices(int bandCount, int band);

// Index of the preselected entry of each of the four lists (-1: none). Only when `roles` has an
// entry for every band; a role without an entry in its list leaves that list unselected.
std::array<int, kBandLists> ProposeBandSelection(int bandCount, const std::vector<int>& roles);

// Apply: `selection` holds each list's chosen entry index (-1: none). Returns
// "Please select band N" for the first shown list without a choice (roles untouched) or, when all
// are chosen, an empty text with `roles` set to four entries: the chosen codes, 0 for hidden lists.
std::string ApplyBandSelection(int bandCount, const std::array<int, kBandLists>& selection,
                               std::vector<int>& roles);

}  // namespace ortavia
