#pragma once
// Adds tags to the first directory of a finished TIFF without moving that directory. libtiff
// appends a directory that grew at the end of the file, which breaks a Cloud-Optimized GeoTIFF
// (its first directory must follow the header). Here the directory and the values stored right
// after it are laid out again inside the bytes they already occupy (values stored farther away
// keep their place): a placeholder tag written with the file (for instance a long DocumentName)
// gives up its room to the new tags.
#include <cstdint>
#include <string>
#include <vector>

namespace ortavia {

struct TiffTag {
  uint16_t tag = 0;
  uint16_t type = 0;             // TIFF field type: 3 SHORT, 4 LONG, 5 RATIONAL
  std::vector<uint32_t> values;  // SHORT and LONG: one number per value; RATIONAL: numerator,
                                 // denominator pairs

  static TiffTag Short(uint16_t tag, uint16_t v) { return {tag, 3, {v}}; }
  static TiffTag Long(uint16_t tag, uint32_t v) { return {tag, 4, {v}}; }
  static TiffTag Rational(uint16_t tag, uint32_t num, uint32_t den) { return {tag, 5, {num, den}}; }
};

// Sets `tags` (replacing tags of the same number) and removes `dropTag` in the first directory
// of the classic or BigTIFF file at `path`, within the room that directory and its values take
// now. Returns "" or why it could not (the file is then unchanged).
std::string SetTiffTagsInPlace(const std::string& path, const std::vector<TiffTag>& tags,
                               uint16_t dropTag);

}  // namespace ortavia
