#pragma once
// Importing a bundle file into the project, in two halves: PrepareBundleImport reads and checks
// the whole file and every image it names without touching the project; ApplyBundleImport then
// puts the result in place. A refused file therefore leaves the project as it was.
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "extor/bundle_reader.h"
#include "model/add_images.h"
#include "model/project.h"
#include "model/run_context.h"

namespace ortavia {

inline constexpr const char* kBundleFileFilter = "Trivane File (*.bun)|*.bun||";
inline constexpr const char* kUnableToOpenBundleText = "Unable to open BUN file!";
inline constexpr const char* kBundleImportStoppedText = "Bundle import stopped: the project is unchanged";
// Bundle files beyond this are no bundle adjustment of ours (some 4 million images).
inline constexpr std::uintmax_t kMaxBundleFileBytes = std::uintmax_t{1} << 30;

enum class BundleImportStatus {
  Imported,
  CannotOpen,   // kUnableToOpenBundleText
  BadVersion,   // "Invalid BUN file version"
  Damaged,      // "Unable to read BUN file!"
  NoPassport,   // "Unable to find camera passport!" (no passport, or no ".ccb" for version 202)
  BadPassport,  // "Unable to read camera passport!"
  Stopped,      // kBundleImportStoppedText: Stop while the file was read or the images checked
};

struct BundleImportCounts {
  int added = 0;
  int withoutOrientation = 0;  // flag 0, a value that is not finite, or the centre (0, 0, 0)
  int alreadyPresent = 0;      // a record of the same image name came earlier
  int notReadable = 0;
  int notMatchingPassport = 0;
  int invalidFormat = 0;
};

struct BundleImport {
  BundleImportStatus status = BundleImportStatus::CannotOpen;
  std::string message;  // for the operator; empty when imported
  std::string detail;   // for the log: the file, and where and why it was refused
  int version = 0;
  std::unique_ptr<geo::CCameraPassport> passport;
  std::string cameraName;
  std::vector<ImageItem> images;  // in record order
  std::map<std::string, geo::COrientation> orientations;
  BundleImportCounts counts;
  std::vector<RefusedImage> refused;  // every record not taken, with why, in record order
  // "%d images added", ... only counts above 0, then the refused records by name
  // (RefusedImageLines)
  std::vector<std::string> countLines;
};

enum class FileReadStatus { Read, Failed, Stopped };

// Reads the file whole (at most kMaxBundleFileBytes) in pieces, with progress and a look at Stop
// after each; `error` says why when Failed.
FileReadStatus ReadFileBytes(const std::string& path, std::vector<std::uint8_t>* bytes,
                             std::string* error, const RunContext& ctx = {});

// Where the image of a record path is, or empty: a path of this system as written (relative
// ones from the bundle's folder); a path written on another system (drive letter, backslashes,
// UNC) or not found as written, by its file name in the bundle's folder (exact, else the one
// file whose name differs only in case), else by its last folders and file name below the
// bundle's folder (a block moved as a whole). Only regular files count.
std::string ResolveBundleImagePath(const std::string& recordPath,
                                   const std::filesystem::path& bundleFolder);

// The first ".ccb" file (any case) of the folder in name order; empty when there is none.
std::string FindCcbPassport(const std::filesystem::path& folder);

// Reads the bundle and checks every record (GDAL opens each image read-only). `cameraName` is
// the project's current one, kept by version 203 when set. The context gets progress and pumps,
// but no log line: the caller logs `countLines` after removing the old images.
BundleImport PrepareBundleImport(const std::string& path, const std::string& cameraName,
                                 const RunContext& ctx);

// Puts an imported bundle into the project: passport, camera name, images and orientations are
// replaced, the footprints erased (the caller computes them again). Keeps the DEM.
void ApplyBundleImport(WarpProject& project, BundleImport&& import);

}  // namespace ortavia
