#pragma once
// Reading a bundle file (".bun", versions 202 to 206): the result of a bundle adjustment with the
// camera passport, the image list and each image's exterior orientation (docs/formats.md).
//
// ReadBundle is a pure function over the bytes: it opens no file and touches no project. Every
// count and length read from the bytes is checked against the bytes left before anything is
// allocated, so a damaged or hostile file costs neither memory nor time, and a file is taken
// only when it reads through to its last byte.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "external/geo/camera_passport.h"
#include "model/project.h"
#include "model/run_context.h"

namespace ortavia {

inline constexpr int kBundleMinVersion = 202;
inline constexpr int kBundleMaxVersion = 206;
// Longest image path and camera name taken from a record, in characters.
inline constexpr std::uint64_t kMaxBundlePathChars = 32767;
inline constexpr std::uint64_t kMaxBundleNameChars = 4096;
// The fewest bytes one image record can take: empty path, ten reals, two integers, six reals.
inline constexpr std::uint64_t kMinBundleRecordBytes = 1 + 10 * 8 + 4 + 4 + 6 * 8;

struct BundleRecord {
  std::string path;             // as written, in UTF-8
  bool hasOrientation = false;  // the record's flag is not 0
  ExtOrientation eo;            // id left empty; angles in radians
  std::uint64_t offset = 0;     // where the record starts in the file
};

struct Bundle {
  int version = 0;
  int passportType = -1;  // -1: version 202, whose passport is a ".ccb" file beside the bundle
  std::unique_ptr<geo::CCameraPassport> passport;  // null for version 202
  bool undistorted = false;                        // the images were undistorted
  std::optional<std::string> cameraName;           // version 204 and later
  std::vector<BundleRecord> records;
};

enum class BundleReadStatus {
  Ok,
  BadVersion,   // the version is not 202 to 206
  Damaged,      // the bytes do not form a bundle; `error` says where and what was expected
  NoPassport,   // a passport type code other than 0, 1 or 3
  BadPassport,  // the passport text is not a passport of the kind its code names
  Stopped,      // Stop (ctx.abort) while the records were read
};

struct BundleReadResult {
  BundleReadStatus status = BundleReadStatus::Damaged;
  Bundle bundle;                // whole only with Ok
  std::uint64_t errorOffset = 0;
  std::string error;            // "offset N: expected ..., ..." for the log
};

// `ctx` gets the records' progress and pumps every few thousand records; Stop ends the read.
BundleReadResult ReadBundle(std::span<const std::uint8_t> bytes, const RunContext& ctx = {});

// The operator's message for a status: "Invalid BUN file version", "Unable to read BUN file!",
// "Unable to find camera passport!", "Unable to read camera passport!"; empty for Ok and Stopped.
const char* BundleStatusMessage(BundleReadStatus status);

// Text conversions of the stream: 16-bit characters (UTF-16, unpaired surrogates become U+FFFD)
// and 8-bit characters (kept when they are UTF-8, else read as Windows-1252) into UTF-8.
std::string Utf16ToUtf8(std::span<const std::uint8_t> littleEndianUnits);
std::string EightBitToUtf8(std::span<const std::uint8_t> bytes);

}  // namespace ortavia
