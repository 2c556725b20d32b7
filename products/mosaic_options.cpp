#include "products/mosaic_options.h"

namespace ortavia {

bool ParseMosaicBalance(const std::string& text, MosaicBalance* out) {
  if (text == "none") *out = MosaicBalance::None;
  else if (text == "gain") *out = MosaicBalance::Gain;
  else if (text == "blocks") *out = MosaicBalance::Blocks;
  else return false;
  return true;
}

bool ParseMosaicBlend(const std::string& text, MosaicBlend* out) {
  if (text == "none") *out = MosaicBlend::None;
  else if (text == "feather") *out = MosaicBlend::Feather;
  else if (text == "multiband") *out = MosaicBlend::Multiband;
  else return false;
  return true;
}

const char* MosaicBlendName(MosaicBlend blend) {
  switch (blend) {
    case MosaicBlend::None: return "none";
    case MosaicBlend::Multiband: return "multiband";
    default: return "feather";
  }
}

}  // namespace ortavia
