#pragma once
// Command line of the batch runner ortavia-batch: the commands, their options and the usage text.
#include <string>
#include <vector>

#include "process/run_process.h"
#include "report/notification.h"
#include "runner/sample_project.h"

namespace ortavia {

// Inputs that fill a project, as the windows would: DEM, passport, images, point file.
struct BatchProjectOptions {
  std::string dem;
  std::string bundle;  // a bundle file: passport, images and orientations in one
  std::string passport;
  std::string eo;                    // point file: one image per line
  std::vector<std::string> images;   // in the order given
  std::string imageDir;              // alternative to images: every raster file, in name order
  std::string eoSeparators = ", ;";  // a tab is always added
  std::string eoComments = "#%@+";   // a line starting with one of these is a comment
  // Quantity of each point-file column, in column order: id, x, y, z, omega, phi, kappa or "-"
  // for a column to ignore.
  std::vector<std::string> eoColumns = {"id", "x", "y", "z", "omega", "phi", "kappa"};
  std::string angles = "rad";  // unit of the angles in the point file: rad, deg or grad
};

enum class BatchCommandKind { Help, Version, Sample, Run, Footprints, Passport };

// ortavia-batch passport list | show FILE | import FILE [--overwrite] | curve radial|tangential FILE
struct BatchPassportOptions {
  std::string action;  // list, show, import, curve
  std::string file;
  bool overwrite = false;
  bool tangential = false;  // curve: radial unless tangential
};

struct BatchCommand {
  BatchCommandKind kind = BatchCommandKind::Help;
  // sample
  std::string sampleDir;
  SampleOptions sample;
  // run and footprints
  BatchProjectOptions project;
  RunOptions run;  // gsd, tileStep, composition, destinationFolder, presentOrthos
  std::string geojson;
  bool quiet = false;  // --quiet (any command): errors only
  // passport
  BatchPassportOptions passport;
  // run: --mail-to, --smtp-server, --subject; sendEmail is on when both addresses are given.
  MailSettings mail{false, {}, {}, {}, {}, {}, {}};
  int threads = 0;  // run: threads of the warp; 0: every core
};

// Parses the arguments after the program name. Empty on success, else what is wrong (exit 2).
std::string ParseBatchCommand(const std::vector<std::string>& args, BatchCommand* command);

std::string BatchUsage();

// Whether the arguments ask for a quiet run (--quiet or -q anywhere).
bool BatchQuiet(const std::vector<std::string>& args);

// The files of a folder that GDAL opens as rasters, in name order (full paths). World files,
// overviews and sidecar files are left out.
std::vector<std::string> ListImageDir(const std::string& folder);

}  // namespace ortavia
