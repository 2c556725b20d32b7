#pragma once
// The settings a run asks for at every Start (GSD and tile size) and where the window keeps them:
// the profile section "ProcessSetting". Numbers are written and read in the C locale.
#include <optional>
#include <string>

#include "process/warp.h"
#include "products/mosaic_options.h"

namespace ortavia {

inline constexpr const char* kProcessSettingSection = "ProcessSetting";

// The tile sizes offered, by list position: 1 = pixel mode, 16 = squares of 16 x 16 pixels.
inline constexpr int kTileSizes[] = {1, 16};
inline constexpr int kDefaultTileSizeIndex = 1;

struct WarpSettings {
  double gsd = 0.0;  // ground units per output pixel, used as entered
  int tileSizeIndex = kDefaultTileSizeIndex;
  int tileStep = 16;  // the tile size at tileSizeIndex
  bool useVoronoi = true;  // carried through the dialog and the profile only
  // Squares split where they depart from the exact projection by more than this (source pixels).
  double maxError = kDefaultMaxError;
  // How the orthos are stored (the batch runner's --cog, --compress, --alpha).
  bool cog = false;
  std::string compress;  // "" (none) or DEFLATE, LZW, ZSTD, JPEG
  bool alpha = false;
  bool occlusion = false;  // ground an image cannot see left transparent (--occlusion)
  bool mosaic = false;  // one mosaic "mosaic.tif" beside the orthos (the batch runner's --mosaic)
  MosaicBlend mosaicBlend = MosaicBlend::Feather;  // across its seams (--blend)
};

// The tile size at a list position; an index outside the list falls back to 16.
int TileStepAt(int index);
// A list position the list has: index itself, or the default for one outside the list.
int ValidTileSizeIndex(int index);

// The shortest C-locale text that reads back as the same GSD ("0.375", "2"), whatever the
// process locale.
std::string FormatGsd(double gsd);
// The GSD a text gives, or nothing when it is empty, not wholly a number (C locale, blanks around
// allowed), not finite, or not above 0: such a GSD leaves the mosaic grid undefined.
std::optional<double> ParseGsd(const std::string& text);

inline constexpr const char* kInvalidMaxErrorMessage =
    "Input a valid largest error: a number of pixels, 0 or above";

// A number in the C locale, as short as it reads back exactly ("0.02").
std::string FormatPixels(double pixels);
// The bound a text gives: a number of pixels, 0 or above (C locale, blanks around allowed).
std::optional<double> ParseMaxError(const std::string& text);

// How the warp resamples, for the report: "squares of 16 x 16 pixels, split where they depart
// more than 0.02 px from the exact projection" or "every pixel projected".
std::string WarpModeText(int tileStep, double maxError);
// What became of ground an image cannot see, for the report; empty without occlusion. With the
// count of mosaic pixels no image sees (unknown below 0).
std::string OcclusionText(bool occlusion, long long hiddenFromAll = -1);

// Reads "gsd", "iTileSize" and "UseVoronoi" (defaults "0.0", "1", "1"), "dMaxError" (default
// 0.02; a text that is no bound reads as the default), "bCog", "Compress", "bAlpha" (defaults "0",
// "", "0"; a compression the orthos do not take reads as none), "bMosaic" and "bOcclusion"
// (default "0"), and "MosaicBlend" ("none", "feather" or "multiband"; another text reads as
// "feather").
WarpSettings ReadWarpSettings();
// Writes "gsd" (FormatGsd), "iTileSize", "UseVoronoi", "dMaxError", "bCog", "Compress", "bAlpha",
// "bMosaic", "bOcclusion" and "MosaicBlend"; false when the profile cannot be written.
bool WriteWarpSettings(const WarpSettings& settings);

// "destinationFolder" of the section; empty when never chosen.
std::string ReadDestinationFolder();
bool WriteDestinationFolder(const std::string& folder);

}  // namespace ortavia
