#pragma once
// Adding images to the project: every chosen file is checked against the project's passport and
// the images already listed before it becomes an image row with its own, still empty, orientation.
#include <optional>
#include <string>
#include <vector>

#include "model/project.h"
#include "model/run_context.h"

namespace ortavia {

inline constexpr const char* kSelectPassportText = "Select camera passport before!";
inline constexpr const char* kFirstImageUnreadableText = "Unable to read first image!";
inline constexpr const char* kImageImportStoppedText = "Image import stopped: no image was added";
inline constexpr const char* kImageFileFilter =
    "Images (*.tif;*.img;*.jpg;)|*.tif;*.img;*.jpg;|TIF Images (*.tif;)|*.tif|"
    "IMG Images (*.img;)|*.img|JPG Images (*.jpg;)|*.jpg||";
inline constexpr const char* kImageDefaultExtension = "tif";
inline constexpr const char* kUndistortedSoftware = "Varnell Software UND";

enum class AddImagesStatus {
  Done,                  // the files were checked (some may have been rejected)
  NoPassport,            // kSelectPassportText, information icon; nothing changed
  FirstImageUnreadable,  // kFirstImageUnreadableText, warning icon; nothing changed
  Stopped,               // Stop (ctx.abort) during the checks: nothing changed, logged
};

struct AddImagesCounts {
  int added = 0;
  int alreadyPresent = 0;
  int notReadable = 0;
  int notMatchingPassport = 0;
  int invalidFormat = 0;
};

struct RefusedImage {
  std::string path;
  std::string cause;
};

// The log lines naming refused files: "Image <path> refused: <cause>" for the first
// kRefusedNamesLogged, then a count of the rest (the image list shows them all). None for none.
inline constexpr std::size_t kRefusedNamesLogged = 20;
std::vector<std::string> RefusedImageLines(const std::vector<RefusedImage>& refused);

struct AddImagesResult {
  AddImagesStatus status = AddImagesStatus::Done;
  AddImagesCounts counts;
  std::vector<RefusedImage> refused;  // every file not added, with why, in the order given
  std::vector<std::string> log;  // the count lines, in order, only counts above 0 (also to ctx)
};

// True when the image's metadata (GDAL default domain) marks it as undistorted for the camera
// `cameraName` (compared without case): "UNDISTORTED" = "yes" and "CAMERANAME" when both are set,
// otherwise "TIFFTAG_SOFTWARE" = kUndistortedSoftware and "TIFFTAG_IMAGEDESCRIPTION".
bool IsMarkedUndistorted(GDALDataset* image, const std::string& cameraName);

struct RasterFormat {
  int bands = 0;
  GDALDataType type = GDT_Unknown;
  bool operator==(const RasterFormat&) const = default;
};

enum class ImageVerdict { Accepted, NotReadable, NotMatchingPassport, InvalidFormat };

// The checks an image passes before it joins the project: an existing regular file (no folder,
// FIFO, device or GDAL virtual path) that GDAL opens read-only, the undistortion marks when
// `mustUndistort`, the passport's width and height, and the band count and band-1 type of
// `reference` (set from this image when still empty). The file is closed again.
ImageVerdict CheckImage(const std::string& path, const geo::CCameraPassport& passport,
                        bool mustUndistort, const std::string& cameraName,
                        std::optional<RasterFormat>& reference);

// True for the names of the run's mosaic products ("coverage", "voronoi"): an image of that name
// would write its ortho over them.
bool IsMosaicProductName(const std::string& name);
// The log line of an image refused for such a name.
std::string ProductNameRefusal(const std::string& path, const std::string& name);
// Why an image was refused, as the log and the image list say it.
const char* RefusalReason(ImageVerdict verdict);
// The class a refused image counts in (Counts has notReadable, notMatchingPassport and
// invalidFormat).
template <class Counts>
int& RefusalCount(ImageVerdict verdict, Counts& n) {
  if (verdict == ImageVerdict::NotReadable) return n.notReadable;
  if (verdict == ImageVerdict::NotMatchingPassport) return n.notMatchingPassport;
  return n.invalidFormat;
}

// The Add command once the files were chosen (in the order the dialog returned them). Each file is
// counted as already present (an image of that name is listed), not readable or invalid (GDAL
// cannot open it, or its name is that of a mosaic product, which is also logged), not matching the
// passport (undistortion marks when the passport requires them, width and
// height in pixels), invalid data format (band count or band-1 type differ from the first listed
// image, or from the first file of this command that passed the size check) or added: an image row
// (name = lower-case file name without folder and extension; path kept as given, since file names
// are case-sensitive here) and an orientation with the passport's interior orientation.
// The caller then sets the Image To Project step and re-evaluates CanStart(); footprints are not
// recomputed (new images have no orientation yet).
AddImagesResult AddImages(WarpProject& project, const std::vector<std::string>& paths,
                          const RunContext& ctx);

}  // namespace ortavia
