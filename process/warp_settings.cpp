#include "process/warp_settings.h"

#include <charconv>
#include <cmath>
#include <iterator>

#include "external/tools/profile.h"
#include "process/ortho_writer.h"

namespace ortavia {
namespace {

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::optional<long> ParseInteger(const std::string& text) {
  const std::string t = Trimmed(text);
  long value = 0;
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
  if (ec != std::errc() || end != t.data() + t.size() || t.empty()) return std::nullopt;
  return value;
}

// An off flag unless the profile says on.
bool ReadFlag(const char* key) {
  int flag = 0;
  const std::string text = GT_GetUserProfileString(kProcessSettingSection, key, "0");
  return GT_StringToBoolean(text.c_str(), &flag) && flag != 0;
}

}  // namespace

int ValidTileSizeIndex(int index) {
  return index >= 0 && index < static_cast<int>(std::size(kTileSizes)) ? index : kDefaultTileSizeIndex;
}

int TileStepAt(int index) { return kTileSizes[ValidTileSizeIndex(index)]; }

std::string FormatGsd(double gsd) {
  char text[64];
  // The shortest text that reads back as the same number: 0.375 stays 0.375.
  const auto [end, ec] = std::to_chars(text, text + sizeof text, gsd, std::chars_format::general);
  return ec == std::errc() ? std::string(text, end) : std::string("0");
}

std::optional<double> ParseGsd(const std::string& text) {
  std::string t = Trimmed(text);
  // from_chars takes no sign of its own for positives; a leading '+' is still a number.
  if (!t.empty() && t.front() == '+') t.erase(0, 1);
  if (t.empty()) return std::nullopt;
  double value = 0.0;
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
  if (ec != std::errc() || end != t.data() + t.size()) return std::nullopt;
  if (!std::isfinite(value) || value <= 0.0) return std::nullopt;
  return value;
}

std::string FormatPixels(double pixels) {
  char text[64];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, pixels);
  return ec == std::errc() ? std::string(text, end) : std::string("0");
}

std::optional<double> ParseMaxError(const std::string& text) {
  std::string t = Trimmed(text);
  if (!t.empty() && t.front() == '+') t.erase(0, 1);
  double value = 0.0;
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), value);
  if (t.empty() || ec != std::errc() || end != t.data() + t.size()) return std::nullopt;
  if (!std::isfinite(value) || value < 0.0) return std::nullopt;
  return value;
}

std::string WarpModeText(int tileStep, double maxError) {
  if (tileStep <= 1 || !(maxError > 0.0)) return "every pixel projected";
  const std::string side = std::to_string(tileStep);
  if (std::isinf(maxError))
    return "squares of " + side + " x " + side + " pixels, split only across an edge";
  return "squares of " + side + " x " + side + " pixels, split where they depart more than " +
         FormatPixels(maxError) + " px from the exact projection";
}

std::string OcclusionText(bool occlusion, long long hiddenFromAll) {
  if (!occlusion) return "";
  std::string text = "ground an image cannot see left transparent in its ortho, shown from the "
                     "image nearest in view angle that sees it";
  if (hiddenFromAll >= 0) text += "; hidden from every image: " + std::to_string(hiddenFromAll) + " pixels";
  return text;
}

WarpSettings ReadWarpSettings() {
  WarpSettings s;
  const std::string gsd = GT_GetUserProfileString(kProcessSettingSection, "gsd", "0.0");
  // A stored GSD that is no usable number opens the dialog at 0.00, to be typed again.
  s.gsd = ParseGsd(gsd).value_or(0.0);
  const auto index = ParseInteger(GT_GetUserProfileString(kProcessSettingSection, "iTileSize", "1"));
  s.tileSizeIndex = index ? ValidTileSizeIndex(static_cast<int>(*index)) : kDefaultTileSizeIndex;
  s.tileStep = TileStepAt(s.tileSizeIndex);
  int voronoi = 1;
  const std::string flag = GT_GetUserProfileString(kProcessSettingSection, "UseVoronoi", "1");
  if (GT_StringToBoolean(flag.c_str(), &voronoi)) s.useVoronoi = voronoi != 0;
  s.maxError = ParseMaxError(GT_GetUserProfileString(kProcessSettingSection, "dMaxError", ""))
                   .value_or(kDefaultMaxError);
  s.cog = ReadFlag("bCog");
  s.alpha = ReadFlag("bAlpha");
  s.mosaic = ReadFlag("bMosaic");
  s.occlusion = ReadFlag("bOcclusion");
  if (!ParseMosaicBlend(GT_GetUserProfileString(kProcessSettingSection, "MosaicBlend", "feather"),
                        &s.mosaicBlend))
    s.mosaicBlend = MosaicBlend::Feather;
  s.compress = GT_GetUserProfileString(kProcessSettingSection, "Compress", "");
  if (!IsOrthoCompression(s.compress) || s.compress == "NONE") s.compress.clear();
  return s;
}

bool WriteWarpSettings(const WarpSettings& settings) {
  const std::string index = std::to_string(settings.tileSizeIndex);
  const bool ok = GT_WriteUserProfileString(kProcessSettingSection, "gsd", FormatGsd(settings.gsd).c_str()) &&
                  GT_WriteUserProfileString(kProcessSettingSection, "iTileSize", index.c_str()) &&
                  GT_WriteUserProfileString(kProcessSettingSection, "UseVoronoi",
                                            settings.useVoronoi ? "1" : "0") &&
                  GT_WriteUserProfileString(kProcessSettingSection, "dMaxError",
                                            FormatPixels(settings.maxError).c_str()) &&
                  GT_WriteUserProfileString(kProcessSettingSection, "bCog", settings.cog ? "1" : "0") &&
                  GT_WriteUserProfileString(kProcessSettingSection, "Compress",
                                            settings.compress.c_str()) &&
                  GT_WriteUserProfileString(kProcessSettingSection, "bAlpha", settings.alpha ? "1" : "0") &&
                  GT_WriteUserProfileString(kProcessSettingSection, "bMosaic", settings.mosaic ? "1" : "0") &&
                  GT_WriteUserProfileString(kProcessSettingSection, "bOcclusion",
                                            settings.occlusion ? "1" : "0") &&
                  GT_WriteUserProfileString(kProcessSettingSection, "MosaicBlend",
                                            MosaicBlendName(settings.mosaicBlend));
  return ok;
}

std::string ReadDestinationFolder() {
  return GT_GetUserProfileString(kProcessSettingSection, "destinationFolder", "");
}

bool WriteDestinationFolder(const std::string& folder) {
  return GT_WriteUserProfileString(kProcessSettingSection, "destinationFolder", folder.c_str()) != 0;
}

}  // namespace ortavia
