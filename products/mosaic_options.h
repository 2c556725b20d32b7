#pragma once
// How the one mosaic of a run is made: exposure balancing, seamlines, blending and the memory it
// may take. The defaults are those of the batch runner and the window.
#include <cstdint>
#include <string>

#include "products/hidden_fill.h"

namespace ortavia {

enum class MosaicBalance { None, Gain, Blocks };
enum class MosaicBlend { None, Feather, Multiband };

struct MosaicOptions {
  MosaicBalance balance = MosaicBalance::Blocks;
  MosaicBlend blend = MosaicBlend::Feather;
  int featherPx = 16;    // width of the blend on each side of a seam
  int seamBandPx = 40;   // how far a seam may move from the Voronoi line, each side; 0: not at all
  int memoryMb = 512;    // raster buffers of the assembly, GDAL's block cache included
  std::string compress;  // of the mosaic file: "" or "NONE", "DEFLATE", "LZW", "ZSTD", "JPEG"
  // True orthos: pixels their Voronoi owner cannot see are owned by the image the plan names (or
  // by none). May be null; must outlive the mosaic's writing.
  const HiddenFill* hiddenFill = nullptr;
};

// "none", "gain", "blocks" / "none", "feather", "multiband"; false for another text.
bool ParseMosaicBalance(const std::string& text, MosaicBalance* out);
bool ParseMosaicBlend(const std::string& text, MosaicBlend* out);
const char* MosaicBlendName(MosaicBlend blend);

// The smallest memory setting the assembly runs in.
inline constexpr int kMinMosaicMemoryMb = 128;

}  // namespace ortavia
