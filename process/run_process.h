#pragma once
// The run: from a filled project to the orthos, the mosaic products and the report, with the
// operator's answers given as plain options. The window's Start command asks its questions, then
// calls RunProcess; the batch runner calls it with its command-line options.
#include <functional>
#include <string>
#include <vector>

#include "model/project.h"
#include "model/run_context.h"
#include "process/warp.h"
#include "products/mosaic_options.h"

namespace ortavia {

inline constexpr const char* kMissingDataMessage =
    "Unable to start process. Missing data (DTM, camera passport, images or external orientations)";
inline constexpr const char* kBandCheckMessage = "Unable to check images bands composition";
inline constexpr const char* kInvalidCompositionMessage = "Invalid Band Composition!";
inline constexpr const char* kInvalidGsdMessage = "Input a valid GSD value";
inline constexpr const char* kProcessErrorMessage = "Process error!";
inline constexpr const char* kProcessEndedWithErrors = "Process ended with errors";
inline constexpr const char* kProcessStarted = "Process started";
inline constexpr const char* kWarpProcessFinished = "Warp process finished";

// What to do with orthos already in the destination folder.
enum class PresentOrthosMode {
  Ask,        // stop with PresentOrthosFound when there are any, so the caller can ask
  Skip,       // keep them (operation mode "Skip previous data")
  Overwrite,  // write them again ("Overwrite previous data")
};

struct RunOptions {
  double gsd = 0.0;   // ground units per output pixel, used as given (> 0)
  int tileStep = 16;  // 16: squares of 16 x 16 pixels; 1: pixel mode
  // Squares split where they depart from the exact projection by more than this many source
  // pixels; 0: every pixel projected.
  double maxError = kDefaultMaxError;
  // BandComposition: "1", "123", "321", "412" or "1234". Empty: "1", "123" or "1234" by the band
  // count of the first image.
  std::string composition;
  std::string destinationFolder;  // created when missing
  PresentOrthosMode presentOrthos = PresentOrthosMode::Ask;
  // CRS of the orthos and products, as GDAL reads a definition (EPSG code, WKT, PROJ string);
  // empty: the DEM's own, or none when the DEM has none.
  std::string crs;
  bool cog = false;       // Cloud-Optimized GeoTIFF orthos
  std::string compress;   // "" (as today: none), "NONE", "DEFLATE", "LZW", "ZSTD", "JPEG" (8-bit only)
  bool alpha = false;     // transparent outside each image's own cell and outside the image
  bool occlusion = false; // ground an image cannot see left transparent in its ortho
  // One seamless mosaic of the block, written after the orthos when not empty (a
  // Cloud-Optimized GeoTIFF; see products/mosaic_writer.h).
  std::string mosaicPath;
  MosaicOptions mosaic;
  // Called after each ortho is written, with its path and whether it is the run's first.
  std::function<void(const std::string& orthoPath, bool first)> orthoWritten;
};

enum class RunStatus {
  Done,                    // the warp loop ran to its end (single images may have been skipped)
  Aborted,                 // Stop was confirmed; the report says so
  NothingToDo,             // the image list is empty
  MissingData,             // CanStart is false
  InvalidCrs,              // the CRS definition cannot be read
  GeographicCrs,           // the DEM's coordinates are degrees: the camera model needs a projection
  InvalidGsd,              // not above 0, or so small that an ortho would dwarf its image
  BandCheckFailed,         // the first image cannot be opened
  InvalidComposition,
  InvalidOutputOptions,    // a compression the images' sample type cannot take
  DestinationNotWritable,  // nothing was written
  PresentOrthosFound,      // mode Ask and orthos are present: see presentOrthos
  ProcessError,            // the mosaic stage failed: no orthos, no report
  WarpRefused,             // the warp refused to start; the report says "Some errors during process"
};

struct RunResult {
  RunStatus status = RunStatus::NothingToDo;
  // What the operator must see: the message box text of a refusal or failure; empty otherwise.
  std::string message;
  std::string cause;  // what the message is about: the file, the stage's own reason; may be empty
  std::string composition;                // the composition the run used
  long long hiddenFromAll = -1;           // with occlusion: mosaic pixels no image sees
  std::vector<std::string> presentOrthos;  // names (no folder, no extension), sorted
  std::vector<int> rows;
  std::vector<int> processedRows;
  std::vector<int> skippedRows;
  std::vector<ImageStatus> images;  // per-image outcome of the warp, with the reasons of skips
  bool reportWritten = false;
  std::string reportPath;
  std::string elapsed;     // process time at the report
  std::string resultText;  // the report's result line
  std::string summary;     // the closing summary text
  // The mosaic of RunOptions::mosaicPath: written, or why not (empty when none was asked).
  bool mosaicWritten = false;
  std::string mosaicError;
};

// Runs the process: checks the inputs and the answers, builds the mosaic products, warps every
// image and writes the report. Logs "Process started" and the texts of the stages through ctx;
// the abort flag of ctx (the window passes &project.abortRequested) stops the run at its next
// check, and the report then says "Process aborted by user". Nothing is written before the
// destination folder has proved writable. The caller owns the start command around it (abort flag
// cleared, busy mode, the message box of `message`, the summary box, "Warp process finished"
// unless aborted) and stores "destinationFolder" in the profile once the answers are settled.
// warp runs the images once the mosaic stage is done: WarpImages in one process; a cluster
// driver hands the images out to other processes instead.
using WarpDriver = std::function<WarpResult(const WarpRequest&, const RunContext&)>;
RunResult RunProcess(WarpProject& project, const RunOptions& options, const RunContext& ctx,
                     const WarpDriver& warp = WarpImages);

// The orthos already in a folder: regular files whose extension is ".tif" (in any case), except
// the mosaic products, whose file names contain "coverage" or "voronoi", and the mosaic
// "mosaic.tif" (any case). Full paths, sorted.
std::vector<std::string> FindPresentOrthos(const std::string& folder);

// A composition from the colour roles the band order dialog chose for source bands 1..N (GDAL
// colour interpretations: 3 red, 4 green, 5 blue, 6 alpha): digit j at position 0 for red, 1 for
// green, 2 for blue, 3 for alpha, other roles nothing, trailing blanks removed.
std::string CompositionFromColorRoles(const std::vector<int>& roles);

// The colour roles the band order dialog proposes for the first image: band 1 red, 2 green, 3 blue,
// 4 alpha; bands past the fourth undefined (0).
std::vector<int> InitialBandRoles(int bandCount);

// Band count of an image, or 0 when it cannot be opened.
int ImageBandCount(const std::string& path);

// Whether a composition can be used on images of bandCount bands.
bool IsAcceptedComposition(const std::string& composition, int bandCount);

// "1", "123" or "1234" for 1, 3 or 4 bands; empty for other counts.
std::string DefaultComposition(int bandCount);

// Empty when the GSD can be used for this project, else why not: kInvalidGsdMessage for one that is
// not a finite number above 0, or an ortho more than 16 times its image's size on a side.
std::string CheckRunGsd(const WarpProject& project, double gsd);

// Empty when files can be created in the folder (created when missing), else the cause.
std::string CheckDestinationWritable(const std::string& folder);

// "- Process time: %s\n- GSD: %.3lf (d.u.)\n- Images warped: %d\n- Images skipped: %d".
std::string FormatRunSummary(const std::string& elapsed, double gsd, int warped, int skipped);

}  // namespace ortavia
