#include "runner/batch_runner.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "extor/bundle_import.h"
#include "extor/ext_or_import_model.h"
#include "model/add_images.h"
#include "model/dem.h"
#include "model/footprints.h"
#include "passport/passport_database.h"
#include "process/run_process.h"
#include "process/suggested_gsd.h"
#include "runner/batch_passport.h"
#include "runner/footprints_geojson.h"
#include "runner/sample_project.h"

namespace ortavia {
namespace fs = std::filesystem;

namespace {

bool Aborted(const BatchIo& io) { return io.ctx.abort && io.ctx.abort->load(); }
void Stage(const BatchIo& io, const std::string& name, std::size_t images) {
  if (io.stage) io.stage(name, static_cast<int>(images));
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

int LoadPassport(WarpProject& project, const std::string& path, const BatchIo& io) {
  auto opened = passport::OpenPassport(path);
  if (!opened) {
    Error(io, "Invalid camera passport: " + path);
    return kBatchRefused;
  }
  project.passport = std::move(opened);
  project.cameraName = Lower(fs::path(path).filename().string());
  io.ctx.Log("Camera passport selected: " + project.cameraName);
  return kBatchDone;
}

int ImportOrientations(WarpProject& project, const BatchProjectOptions& o, const BatchIo& io) {
  extor::ExtOrImportModel model;
  model.SetFilePath(o.eo);
  model.SetComments(o.eoComments);
  model.SetSeparatorsText(o.eoSeparators);
  const extor::LoadResult load = model.Load(io.ctx);
  if (load.status != extor::LoadResult::Status::kOk) {
    Error(io, std::string(extor::kUnableToOpenMessage) + " " + o.eo +
                  (load.detail.empty() ? "" : ": " + load.detail));
    return kBatchRefused;
  }
  static const char* names[] = {"id", "x", "y", "z", "omega", "phi", "kappa"};
  for (int q = 0; q < extor::kQuantityCount; ++q) {
    const auto it = std::find(o.eoColumns.begin(), o.eoColumns.end(), names[q]);
    model.AssignColumn(q, it == o.eoColumns.end() ? -1 : static_cast<int>(it - o.eoColumns.begin()));
  }
  if (o.angles != "rad") {
    const auto correction =
        o.angles == "deg" ? extor::Correction::kDegToRad : extor::Correction::kGradToRad;
    for (int q : {extor::kOmega, extor::kPhi, extor::kKappa}) model.ApplyCorrection(q, correction);
  }
  std::vector<int> all(model.Imported().size());
  for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<int>(i);
  const extor::ImportResult imported = model.Import(all, project.orientations, io.ctx);
  for (const auto& line : imported.logLines) io.ctx.Log(line);
  if (imported.status == extor::ImportResult::Status::kAborted) return kBatchAborted;
  if (imported.imported == 0) {
    Error(io, "No exterior orientation in " + o.eo + " matches an image");
    return kBatchRefused;
  }
  io.ctx.Log(extor::ImportedMessage(imported.imported));
  return kBatchDone;
}

std::vector<std::string> ImagesWithoutOrientation(const WarpProject& project) {
  std::vector<std::string> names;
  for (const auto& image : project.images) {
    const auto it = project.orientations.find(image.name);
    if (it == project.orientations.end() || !HasExteriorOrientation(it->second))
      names.push_back(image.name);
  }
  return names;
}

std::string JoinNames(const std::vector<std::string>& names) {
  std::string text;
  for (const auto& n : names) text += (text.empty() ? "" : ", ") + n;
  return text;
}

int LoadBatchDem(WarpProject& project, const std::string& path, const BatchIo& io) {
  const LoadDemResult dem = LoadDem(project, path, io.ctx);
  if (dem.status == LoadDemStatus::Loaded) return kBatchDone;
  if (dem.status == LoadDemStatus::Stopped) return kBatchAborted;
  Error(io, std::string(kInvalidDemText) + " " + path);
  return kBatchRefused;
}

// The bundle is read before the DEM: a damaged file is refused without the DEM's cost.
int FillFromBundle(WarpProject& project, const BatchProjectOptions& o, const BatchIo& io) {
  const std::string& path = o.bundle;
  BundleImport bundle = PrepareBundleImport(path, project.cameraName, io.ctx);
  if (bundle.status != BundleImportStatus::Imported) {
    Error(io, bundle.message + " " + bundle.detail);
    return kBatchRefused;
  }
  if (int code = LoadBatchDem(project, o.dem, io); code != kBatchDone) return code;
  const geo::CCameraPassport& p = *bundle.passport;
  char line[512];
  std::snprintf(line, sizeof line, "Passport selected: %s (s.n. %s) - focal length %.2f",
                p.model.c_str(), p.serialNumber.c_str(), p.focalLength);
  io.ctx.Log(line);
  for (const std::string& count : bundle.countLines) io.ctx.Log(count);
  ApplyBundleImport(project, std::move(bundle));
  io.ctx.Log(std::to_string(project.orientations.size()) + " External Orientation currently loaded");
  if (project.images.empty()) {
    Error(io, "No image of " + path + " was accepted: each needs an orientation, must open in "
              "GDAL, match the passport's size and share the first image's bands and data type");
    return kBatchRefused;
  }
  ComputeFootprints(project, io.ctx);
  if (Aborted(io)) {
    Error(io, "process aborted by user");
    return kBatchAborted;
  }
  return kBatchDone;
}

int RunSample(const BatchCommand& c, const BatchIo& io) {
  SampleFiles files;
  Stage(io, "Rendering images", static_cast<std::size_t>(c.sample.images));
  const std::string err = WriteSampleProject(c.sampleDir, c.sample, io.ctx, &files);
  if (Aborted(io)) {
    Error(io, "process aborted by user");
    return kBatchAborted;
  }
  if (!err.empty()) {
    Error(io, "Unable to write the sample project: " + err);
    return kBatchProcessError;
  }
  Out(io, "Sample project written to " + c.sampleDir + "\n  DEM:          " + files.dem +
              "\n  passport:     " + files.passport + "\n  orientations: " + files.orientations +
              "\n  bundle:       " + files.bundle + "\n  images:       " + files.imageDir + " (" + std::to_string(files.images.size()) +
              ")\n");
  return kBatchDone;
}

int RunFootprints(const BatchCommand& c, const BatchIo& io) {
  WarpProject project;
  if (int code = FillBatchProject(project, c.project, io); code != kBatchDone) return code;
  if (const std::string err = WriteFootprintsGeoJson(project, c.geojson); !err.empty()) {
    Error(io, "Unable to write " + c.geojson + ": " + err);
    return kBatchProcessError;
  }
  Out(io, std::to_string(project.footprints.size()) + " footprints of " +
              std::to_string(project.images.size()) + " images written to " + c.geojson + "\n");
  return kBatchDone;
}

// The e-mail after a run that reached its report; a failure is told and changes no exit code.
void NotifyBatchRunEnd(const MailSettings& mail, const RunResult& r, const BatchIo& io) {
  MailOptions options;
  options.pump = io.ctx.pump;
  const NotificationResult sent =
      SendRunNotification(mail, r.elapsed, r.resultText, r.reportWritten ? r.reportPath : "", options);
  if (!sent.attempted) return;
  if (sent.mail.sent) {
    io.ctx.Log(kMailSentLog);
    return;
  }
  io.ctx.Log("Unable to send email: " + sent.mail.error);
  Error(io, "Unable to send email to " + mail.recipients + " through " + mail.smtpServer + ": " + sent.mail.error);
}

int ExitForStatus(RunStatus status) {
  switch (status) {
    case RunStatus::Done: return kBatchDone;
    case RunStatus::Aborted: return kBatchAborted;
    case RunStatus::ProcessError:
    case RunStatus::WarpRefused: return kBatchProcessError;
    default: return kBatchRefused;
  }
}

}  // namespace

int FillBatchProject(WarpProject& project, const BatchProjectOptions& o, const BatchIo& io,
                     std::vector<RefusedImage>* refused) {
  if (!o.bundle.empty()) return FillFromBundle(project, o, io);
  if (int code = LoadBatchDem(project, o.dem, io); code != kBatchDone) return code;
  if (int code = LoadPassport(project, o.passport, io); code != kBatchDone) return code;

  std::vector<std::string> paths = o.images;
  if (!o.imageDir.empty()) {
    paths = ListImageDir(o.imageDir);
    if (paths.empty()) {
      Error(io, "No raster image found in " + o.imageDir);
      return kBatchRefused;
    }
  }
  Stage(io, "Checking images", paths.size());
  const AddImagesResult added = AddImages(project, paths, io.ctx);
  for (const RefusedImage& image : added.refused) {
    // A product name is logged by the check itself.
    if (!IsMosaicProductName(ImageNameFromPath(image.path)))
      io.ctx.Log("Image " + image.path + " not added: " + image.cause);
    if (refused) refused->push_back(image);
  }
  if (Aborted(io)) {
    Error(io, "process aborted by user");
    return kBatchAborted;
  }
  if (added.status != AddImagesStatus::Done) {
    Error(io, added.status == AddImagesStatus::NoPassport
                  ? std::string(kSelectPassportText)
                  : std::string(kFirstImageUnreadableText) + ": " + paths.front());
    return kBatchRefused;
  }
  if (project.images.empty()) {
    Error(io, "No image was accepted: each must open in GDAL, match the passport's size and share "
              "the first image's bands and data type (" +
                  (o.imageDir.empty() ? JoinNames(paths) : "in " + o.imageDir) + ")");
    return kBatchRefused;
  }

  Stage(io, "Reading orientations", project.images.size());
  if (int code = ImportOrientations(project, o, io); code != kBatchDone) return code;

  Stage(io, "Footprints", project.images.size());
  ComputeFootprints(project, io.ctx);
  if (Aborted(io)) {
    Error(io, "process aborted by user");
    return kBatchAborted;
  }
  if (const auto missing = ImagesWithoutOrientation(project); !missing.empty()) {
    Error(io, std::string(kMissingDataMessage) + ": no exterior orientation for " +
                  JoinNames(missing));
    return kBatchRefused;
  }
  return kBatchDone;
}

int RunBatchRun(const BatchCommand& c, const BatchIo& io, const WarpDriver& warp) {
  const WarpThreads threads(c.threads);
  WarpProject project;
  std::vector<RefusedImage> refused;
  if (int code = FillBatchProject(project, c.project, io, &refused); code != kBatchDone) return code;
  RunOptions options = c.run;
  if (!(options.gsd > 0.0)) {
    const std::optional<double> suggested = SuggestedGsd(project);
    if (!suggested) {
      Error(io, "No --gsd given and none can be suggested: no oriented image lies above the DEM's "
                "mean height; give --gsd");
      return kBatchRefused;
    }
    options.gsd = *suggested;
    io.ctx.Log("No --gsd given: using " + SuggestedGsdText(*suggested));
  }
  Stage(io, "Warping images", project.images.size());
  const RunResult r = RunProcess(project, options, io.ctx, warp);
  if (r.status != RunStatus::Aborted) Stage(io, "", 0);
  if (r.status == RunStatus::PresentOrthosFound) {
    std::string list;
    for (const auto& name : r.presentOrthos) list += "  " + name + "\n";
    Out(io, "Images present into selected folder:\n" + list);
    Error(io, "Orthos are already present in " + c.run.destinationFolder +
                  ": give --skip to keep them or --overwrite to write them again");
    return kBatchRefused;
  }
  if (r.status != RunStatus::Aborted) io.ctx.Log(kWarpProcessFinished);
  int code = ExitForStatus(r.status);
  if (r.status == RunStatus::NothingToDo) {
    Error(io, "No image to process");
    return code;
  }
  if (code != kBatchDone && code != kBatchAborted) {
    // A refused warp has no message of its own, only its cause.
    Error(io, r.message.empty()   ? r.cause
              : r.cause.empty() ? r.message
                                : r.message + ": " + r.cause);
    if (r.status != RunStatus::WarpRefused) return code;
  }
  // A run reached the warp: the report and the summary follow, whatever its outcome.
  std::string skipped;
  for (const auto& image : r.images) {
    if (image.outcome != ImageOutcome::Skipped) continue;
    skipped += "  " + image.name + (image.reason.empty() ? "" : ": " + image.reason) + "\n";
    // Quiet runs show no log: an image lost to an error is an error of its own.
    if (io.quiet && image.failed && image.row >= 0 &&
        image.row < static_cast<int>(project.images.size()))
      Error(io, "Image " + image.name + " (" + project.images[image.row].path + ") failed: " +
                    (image.reason.empty() ? "not written" : image.reason));
  }
  std::string failed;
  for (const auto& image : refused) failed += "  " + image.path + ": " + image.cause + "\n";
  for (const auto& image : r.images)
    if (image.outcome == ImageOutcome::Skipped && image.failed)
      failed += "  " + image.name + ": " + image.reason + "\n";
  std::string text = r.summary + "\n";
  if (!skipped.empty()) text += "Skipped:\n" + skipped;
  if (!failed.empty()) {
    text += "Failed:\n" + failed;
    // Scripts must see that not every listed image became an ortho.
    if (code == kBatchDone) {
      Error(io, "Some images failed: see the list of failed images and the report");
      code = kBatchProcessError;
    }
  }
  text += "Orthos in " + c.run.destinationFolder + "\n";
  if (r.mosaicWritten) text += "Mosaic: " + c.run.mosaicPath + "\n";
  if (!r.mosaicError.empty()) {
    Error(io, "Mosaic " + c.run.mosaicPath + " not written: " + r.mosaicError);
    if (code == kBatchDone) code = kBatchProcessError;
  }
  if (r.reportWritten) {
    text += "Report: " + r.reportPath + "\n";
  } else {
    Error(io, (r.message.empty() ? std::string("Unable to save detailed report!") : r.message) +
                  ": " + (fs::path(c.run.destinationFolder) / "report.txt").string());
    if (code == kBatchDone) code = kBatchProcessError;
  }
  Out(io, text);
  NotifyBatchRunEnd(c.mail, r, io);
  return code;
}

int RunBatchCommand(const std::vector<std::string>& args, const BatchIo& io) {
  BatchCommand command;
  if (const std::string err = ParseBatchCommand(args, &command); !err.empty()) {
    Error(io, err + "\n\n" + BatchUsage());
    return kBatchUsage;
  }
  switch (command.kind) {
    case BatchCommandKind::Help: Out(io, BatchUsage()); return kBatchDone;
    case BatchCommandKind::Version: Out(io, std::string("ortavia-batch ") + ORTAVIA_VERSION + "\n");
      return kBatchDone;
    case BatchCommandKind::Sample: return RunSample(command, io);
    case BatchCommandKind::Footprints: return RunFootprints(command, io);
    case BatchCommandKind::Run: return RunBatchRun(command, io);
    case BatchCommandKind::Passport: return RunPassportCommand(command.passport, io);
  }
  return kBatchUsage;
}

}  // namespace ortavia
