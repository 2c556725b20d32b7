#pragma once
// The settings a run asks for at every Start (GSD and tile size) and where the window keeps them:
// the profile section "ProcessSetting". Numbers are written and read in the C locale.
#include <optional>
#include <string>

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
  // How the orthos are stored (the batch runner's --cog, --compress, --alpha).
  bool cog = false;
  std::string compress;  // "" (none) or DEFLATE, LZW, ZSTD, JPEG
  bool alpha = false;
  bool mosaic = false;  // one mosaic "mosaic.tif" beside the orthos (the batch runner's --mosaic)
};

// The tile size at a list position; an index outside the list falls back to 16.
int TileStepAt(int index);
// A list position the list has: index itself, or the default for one outside the list.
int ValidTileSizeIndex(int index);

// "0.12": two decimals, C locale, whatever the process locale.
std::string FormatGsd(double gsd);
// The GSD a text gives, or nothing when it is empty, not wholly a number (C locale, blanks around
// allowed), not finite, or not above 0: such a GSD leaves the mosaic grid undefined.
std::optional<double> ParseGsd(const std::string& text);

// Reads "gsd", "iTileSize" and "UseVoronoi" (defaults "0.0", "1", "1"), and "bCog", "Compress",
// "bAlpha" (defaults "0", "", "0"; a compression the orthos do not take reads as none), and
// "bMosaic" (default "0").
WarpSettings ReadWarpSettings();
// Writes "gsd" ("%.2f"), "iTileSize", "UseVoronoi", "bCog", "Compress", "bAlpha" and "bMosaic"; false when
// the profile cannot be written.
bool WriteWarpSettings(const WarpSettings& settings);

// "destinationFolder" of the section; empty when never chosen.
std::string ReadDestinationFolder();
bool WriteDestinationFolder(const std::string& folder);

}  // namespace ortavia
