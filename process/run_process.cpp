#include "process/run_process.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include <unistd.h>

#include <gdal_priv.h>

#include "external/tools/sysinfo.h"
#include "model/dem.h"
#include "model/dem_crs.h"
#include "process/hidden_fill_plan.h"
#include "process/warp_settings.h"
#include "products/mosaic.h"
#include "products/mosaic_vrt.h"
#include "products/mosaic_writer.h"
#include "report/process_report.h"

namespace ortavia {
namespace fs = std::filesystem;

namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

// Band count and sample type of an image; 0 bands when it cannot be opened.
int ImageBandCount(const std::string& path, GDALDataType* type) {
  GDALAllRegister();
  GDALDatasetUniquePtr ds(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
  if (!ds || ds->GetRasterCount() < 1) return 0;
  *type = ds->GetRasterBand(1)->GetRasterDataType();
  return ds->GetRasterCount();
}

void UnfillFootprints(WarpProject& project) {
  project.fillFootprints = false;
  for (const auto& [name, handle] : project.footprints) project.cad.SetFilled(handle, false);
}

std::vector<std::string> NamesOf(const WarpProject& project, const std::vector<int>& rows) {
  std::vector<std::string> names;
  for (int r : rows)
    if (r >= 0 && r < static_cast<int>(project.images.size())) names.push_back(project.images[r].name);
  return names;
}

bool AbortSet(const WarpProject& project, const RunContext& ctx) {
  return project.abortRequested.load() || (ctx.abort && ctx.abort->load());
}

// The closing steps of a run that reached the warp: the skipped images named with their causes,
// the report and the summary.
void FinishRun(WarpProject& project, const RunOptions& options, bool overwrite,
               const WarpResult& warp, const RunContext& ctx, RunResult& result) {
  // Every skipped image is named once more with its cause: the warp itself is silent about
  // some (an image that vanished or cannot be read after it was listed).
  std::vector<std::string> failed;
  for (const ImageStatus& image : warp.images) {
    if (image.outcome != ImageOutcome::Skipped) continue;
    const std::string cause = image.reason.empty() ? "not written" : image.reason;
    ctx.Log("Image " + image.name + (image.failed ? " failed: " : " skipped: ") + cause);
    if (image.failed) failed.push_back(image.name + ": " + cause);
  }

  result.processedRows = warp.processedRows;
  result.skippedRows = warp.skippedRows;
  result.images = warp.images;

  ProcessReportInput report;
  report.destinationFolder = options.destinationFolder;
  report.overwrite = overwrite;
  report.warpMode = WarpModeText(options.tileStep, options.maxError);
  report.occlusion = OcclusionText(options.occlusion, result.hiddenFromAll);
  report.warpResult = warp.Result();
  report.aborted = AbortSet(project, ctx) || warp.status == WarpRunStatus::Aborted;
  report.inProcess = NamesOf(project, result.rows);
  report.processed = NamesOf(project, warp.processedRows);
  report.skipped = NamesOf(project, warp.skippedRows);
  report.failed = failed;
  const ProcessReportResult written = WriteProcessReport(report);
  result.reportWritten = written.written;
  result.reportPath = written.path;
  result.elapsed = written.elapsed;
  result.resultText = written.resultText;
  if (!written.written) result.message = kReportSaveFailed;

  result.summary = FormatRunSummary(written.elapsed, options.gsd,
                                    static_cast<int>(warp.processedRows.size()),
                                    static_cast<int>(warp.skippedRows.size()));
  if (report.aborted)
    result.status = RunStatus::Aborted;
  else if (warp.status == WarpRunStatus::Refused)
    result.status = RunStatus::WarpRefused;
  else
    result.status = RunStatus::Done;
}

// mosaic.vrt over every ortho of the run's images now in the folder, those kept from before
// included; a failure costs only that file.
void WriteRunMosaic(const WarpProject& project, const RunOptions& options, const MosaicGrid& grid,
                    const std::string& crsWkt, const std::vector<int>& rows,
                    const HiddenFill* hiddenFill, const RunContext& ctx) {
  const MosaicVrtGrid vrtGrid{project.mosaicMinX, project.mosaicMaxY,  options.gsd, grid.mosaicScale,
                              grid.mosaicWidth,   grid.mosaicHeight,   crsWkt};
  std::vector<MosaicVrtOrtho> orthos;
  for (int r : rows)
    orthos.push_back(
        {r, (fs::path(options.destinationFolder) / (project.images[r].name + ".tif")).string()});
  const MosaicVrtResult vrt =
      WriteMosaicVrt(options.destinationFolder, grid.voronoiMap, vrtGrid, orthos, hiddenFill);
  for (const std::string& note : vrt.notes) ctx.Log(note);
  if (!vrt.error.empty()) ctx.Log("mosaic.vrt cannot be written: " + vrt.error);
}

// The one mosaic, after the orthos; a failure costs only that file and is reported.
void WriteRunMosaicTiff(const WarpProject& project, const RunOptions& options,
                        const MosaicGrid& grid, const std::string& crsWkt,
                        const std::vector<int>& rows, const HiddenFill* hiddenFill,
                        const RunContext& ctx, RunResult& result) {
  const MosaicVrtGrid vrtGrid{project.mosaicMinX, project.mosaicMaxY,  options.gsd, grid.mosaicScale,
                              grid.mosaicWidth,   grid.mosaicHeight,   crsWkt};
  std::vector<MosaicVrtOrtho> orthos;
  std::error_code ec;
  for (int r : rows) {
    const fs::path ortho = fs::path(options.destinationFolder) / (project.images[r].name + ".tif");
    if (fs::equivalent(ortho, options.mosaicPath, ec)) {
      result.mosaicError = options.mosaicPath + " is the ortho of image " + project.images[r].name;
      ctx.Log("Mosaic not written: " + result.mosaicError);
      return;
    }
    orthos.push_back({r, ortho.string()});
  }
  MosaicOptions mosaicOptions = options.mosaic;
  if (mosaicOptions.compress.empty()) mosaicOptions.compress = options.compress;
  mosaicOptions.hiddenFill = hiddenFill;
  const MosaicWriteResult m =
      WriteMosaicTiff(options.mosaicPath, grid.voronoiMap, vrtGrid, orthos, mosaicOptions, ctx);
  for (const std::string& note : m.notes) ctx.Log(note);
  if (m.aborted) {
    ctx.Log("Mosaic not written: process aborted by user");
    return;
  }
  if (!m.error.empty()) {
    result.mosaicError = m.error;
    ctx.Log("Mosaic not written: " + m.error);
    return;
  }
  result.mosaicWritten = true;
  char share[64];
  const auto end = std::to_chars(share, share + sizeof share - 1, 100.0 * m.ClippedShare(),
                                 std::chars_format::fixed, 4);
  *end.ptr = '\0';
  ctx.Log("Mosaic written: " + options.mosaicPath + " (" + std::to_string(m.orthos) +
          " orthos; " + share + " % of the samples clipped to the sample type's range)");
}

}  // namespace

std::vector<std::string> FindPresentOrthos(const std::string& folder) {
  std::vector<std::string> found;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file(ec)) continue;
    const fs::path& p = it->path();
    if (Lower(p.extension().string()) != ".tif") continue;
    // The products are told apart by their own names; a folder that happens to be called
    // "coverage" must not hide the orthos inside it.
    const std::string name = p.filename().string();
    if (name.find("coverage") != std::string::npos || name.find("voronoi") != std::string::npos ||
        Lower(name) == "mosaic.tif")
      continue;
    found.push_back(p.string());
  }
  std::sort(found.begin(), found.end());
  return found;
}

std::string CompositionFromColorRoles(const std::vector<int>& roles) {
  std::string text(4, ' ');
  for (size_t j = 0; j < roles.size() && j < 9; ++j) {
    const int role = roles[j];
    if (role >= GCI_RedBand && role <= GCI_AlphaBand)
      text[role - GCI_RedBand] = static_cast<char>('1' + j);
  }
  text.erase(text.find_last_not_of(' ') + 1);
  return text;
}

int ImageBandCount(const std::string& path) {
  GDALDataType type = GDT_Unknown;
  return ImageBandCount(path, &type);
}

std::vector<int> InitialBandRoles(int bandCount) {
  std::vector<int> roles(static_cast<size_t>(std::max(bandCount, 0)), 0);
  for (int b = 0; b < bandCount && b < 4; ++b) roles[static_cast<size_t>(b)] = GCI_RedBand + b;
  return roles;
}

bool IsAcceptedComposition(const std::string& composition, int bandCount) {
  if (composition == "1") return bandCount == 1;
  if (composition == "123" || composition == "321") return bandCount >= 3;
  // "412" reads band 4, so it needs four bands just as "1234" does; the warp refuses it otherwise.
  if (composition == "412" || composition == "1234") return bandCount == 4;
  return false;
}

std::string DefaultComposition(int bandCount) {
  switch (bandCount) {
    case 1: return "1";
    case 3: return "123";
    case 4: return "1234";
    default: return {};
  }
}

namespace {

// An ortho far finer than its image is a typing slip (0.005 for 0.5), and would take hours and
// terabytes before anything could be seen: refuse GSDs that make any ortho more than this many
// times the image's own size on a side.
constexpr double kMaxUpsampling = 16.0;

std::string CheckOrthoSizes(const WarpProject& project, double gsd) {
  if (!project.passport) return {};
  const double limit =
      kMaxUpsampling * std::max(project.passport->width, project.passport->height);
  for (const auto& image : project.images) {
    const auto it = project.footprints.find(image.name);
    if (it == project.footprints.end()) continue;
    const auto box = project.cad.EntityBox(it->second);
    if (!box) continue;
    const double w = (box->right - box->left) / gsd, h = (box->top - box->bottom) / gsd;
    if (w > limit || h > limit) {
      char text[512];
      std::snprintf(text, sizeof text,
                    "GSD %g is too small: the ortho of %s would be about %.0f x %.0f pixels, more "
                    "than %g times the image's own size",
                    gsd, image.name.c_str(), w, h, kMaxUpsampling);
      return text;
    }
  }
  return {};
}

}  // namespace

std::string CheckRunGsd(const WarpProject& project, double gsd) {
  if (!std::isfinite(gsd) || gsd <= 0.0) return kInvalidGsdMessage;
  return CheckOrthoSizes(project, gsd);
}

std::string CheckDestinationWritable(const std::string& folder) {
  if (folder.empty()) return "no destination folder given";
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) return "cannot create " + folder + ": " + ec.message();
  if (!fs::is_directory(folder, ec)) return folder + " is not a folder";
  const fs::path probe = fs::path(folder) / (".ortavia-write-test-" + std::to_string(getpid()));
  {
    std::ofstream out(probe, std::ios::binary | std::ios::trunc);
    if (!out) return "cannot write into " + folder + ": permission denied or read-only file system";
    out << "x";
    out.close();
    if (!out) {
      fs::remove(probe, ec);
      return "cannot write into " + folder;
    }
  }
  fs::remove(probe, ec);
  return {};
}

std::string FormatRunSummary(const std::string& elapsed, double gsd, int warped, int skipped) {
  char text[512];
  std::snprintf(text, sizeof text,
                "- Process time: %s\n- GSD: %.3lf (d.u.)\n- Images warped: %d\n- Images skipped: %d",
                elapsed.c_str(), gsd, warped, skipped);
  return text;
}

RunResult RunProcess(WarpProject& project, const RunOptions& options, const RunContext& ctx,
                     const WarpDriver& warpDriver) {
  RunResult result;
  auto refuse = [&](RunStatus status, std::string message) {
    result.status = status;
    result.message = std::move(message);
    return result;
  };

  if (!CanStart(project)) return refuse(RunStatus::MissingData, kMissingDataMessage);
  GDALDataset* dem = project.dem.dataset.get();
  std::string crsWkt;
  if (options.crs.empty()) {
    crsWkt = DatasetCrsWkt(dem);
  } else if (std::string bad = ParseCrsDefinition(options.crs, &crsWkt); !bad.empty()) {
    return refuse(RunStatus::InvalidCrs, bad);
  }
  if (std::string advice = GeographicDemAdvice(dem, crsWkt, dem->GetDescription()); !advice.empty())
    return refuse(RunStatus::GeographicCrs, advice);
  for (int r = 0; r < static_cast<int>(project.images.size()); ++r) result.rows.push_back(r);
  if (result.rows.empty()) return refuse(RunStatus::NothingToDo, {});

  if (std::string bad = CheckRunGsd(project, options.gsd); !bad.empty())
    return refuse(RunStatus::InvalidGsd, bad);

  // Band composition, decided on the first image.
  GDALDataType type = GDT_Unknown;
  const int bands = ImageBandCount(project.images.front().path, &type);
  const std::string& firstImage = project.images.front().path;
  if (bands == 0) {
    result.cause = firstImage + " cannot be opened";
    return refuse(RunStatus::BandCheckFailed, kBandCheckMessage);
  }
  if (!IsOrthoCompression(options.compress))
    return refuse(RunStatus::InvalidOutputOptions, "Unknown compression " + options.compress);
  if (options.compress == "JPEG" && type != GDT_Byte)
    return refuse(RunStatus::InvalidOutputOptions,
                  std::string("JPEG compression takes 8-bit images only; ") +
                      firstImage + " has " + GDALGetDataTypeName(type) + " samples");
  std::string composition = options.composition.empty() ? DefaultComposition(bands)
                                                        : options.composition;
  if (!IsAcceptedComposition(composition, bands)) {
    result.cause = composition + " does not fit " + firstImage + " of " + std::to_string(bands) +
                   " bands";
    return refuse(RunStatus::InvalidComposition, kInvalidCompositionMessage);
  }
  result.composition = composition;

  // The folder must take files before anything is written, so that no run stops half-way.
  if (std::string cause = CheckDestinationWritable(options.destinationFolder); !cause.empty())
    return refuse(RunStatus::DestinationNotWritable, "Destination folder not writable: " + cause);

  std::vector<std::string> present = FindPresentOrthos(options.destinationFolder);
  if (!options.mosaicPath.empty()) {
    // The run's own mosaic is no ortho.
    std::error_code ec;
    std::erase_if(present, [&](const std::string& p) { return fs::equivalent(p, options.mosaicPath, ec); });
  }
  for (const auto& p : present) result.presentOrthos.push_back(fs::path(p).stem().string());
  std::sort(result.presentOrthos.begin(), result.presentOrthos.end());
  if (!present.empty() && options.presentOrthos == PresentOrthosMode::Ask)
    return refuse(RunStatus::PresentOrthosFound, {});
  const bool overwrite = options.presentOrthos == PresentOrthosMode::Overwrite;

  GT_StartTimer();
  ctx.Log(kProcessStarted);
  if (std::string changed = DemFileChangedMessage(project.dem); !changed.empty()) {
    ctx.Log(changed);
    ctx.Log(kProcessEndedWithErrors);
    return refuse(RunStatus::ProcessError, changed);
  }

  MosaicResult mosaic = BuildMosaicOverviews(project, result.rows, options.gsd,
                                             options.destinationFolder, ctx, crsWkt);
  WarpResult warp;
  if (mosaic.status == MosaicStatus::Aborted) {
    // Stopped before the first ortho: still a run the report must account for.
    ctx.Log("process aborted by user");
    warp.status = WarpRunStatus::Aborted;
    FinishRun(project, options, overwrite, warp, ctx, result);
    return result;
  }
  if (!mosaic.ok()) {
    if (!mosaic.message.empty()) ctx.Log(mosaic.message);
    ctx.Log(kProcessEndedWithErrors);
    result.cause = (mosaic.message.empty() ? "the mosaic stage failed" : mosaic.message) + " (in " +
                   options.destinationFolder + ")";
    return refuse(RunStatus::ProcessError, kProcessErrorMessage);
  }

  UnfillFootprints(project);

  WarpRequest request;
  request.project = &project;
  request.rows = result.rows;
  request.composition = composition;
  request.tileStep = options.tileStep;
  request.maxError = options.maxError;
  request.destinationFolder = options.destinationFolder;
  request.overwrite = overwrite;
  request.voronoiMap = &mosaic.grid.voronoiMap;
  request.gsd = options.gsd;
  request.cellSize = mosaic.grid.cellSize;
  request.mosaicWidth = mosaic.grid.mosaicWidth;
  request.mosaicHeight = mosaic.grid.mosaicHeight;
  request.output.crsWkt = crsWkt;
  request.output.cog = options.cog;
  request.output.compress = options.compress;
  request.output.alpha = options.alpha;
  request.output.occlusion = options.occlusion;
  request.testShareOnly = options.mosaicPath.empty();
  request.orthoWritten = options.orthoWritten;
  if (options.occlusion) {
    HiddenFillRequest plan{&project, result.rows, &mosaic.grid.voronoiMap, options.gsd,
                           mosaic.grid.mosaicWidth, mosaic.grid.mosaicHeight};
    ctx.Log("planning hidden ground...");
    if (auto fill = PlanHiddenFill(plan, ctx)) {
      request.hiddenFill = std::make_shared<const HiddenFill>(std::move(*fill));
      result.hiddenFromAll = request.hiddenFill->Unseen();
    }
  }
  warp = AbortSet(project, ctx) ? WarpResult{WarpRunStatus::Aborted} : warpDriver(request, ctx);
  WriteRunMosaic(project, options, mosaic.grid, crsWkt, result.rows, request.hiddenFill.get(), ctx);
  if (!options.mosaicPath.empty()) {
    if (AbortSet(project, ctx) || warp.status == WarpRunStatus::Aborted)
      ctx.Log("Mosaic not written: process aborted by user");
    else if (warp.status != WarpRunStatus::Refused)
      WriteRunMosaicTiff(project, options, mosaic.grid, crsWkt, result.rows,
                         request.hiddenFill.get(), ctx, result);
  }
  mosaic.grid.voronoiMap.release();
  if (warp.status == WarpRunStatus::Refused && !warp.refusal.empty()) {
    ctx.Log(warp.refusal);
    result.cause = warp.refusal + " (" + firstImage + ")";
  }

  FinishRun(project, options, overwrite, warp, ctx, result);
  return result;
}

}  // namespace ortavia
