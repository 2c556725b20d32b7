#include "runner/batch_options.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <limits>
#include <cstdlib>
#include <filesystem>
#include <set>

#include <gdal_priv.h>

#include "model/dem_crs.h"

namespace ortavia {
namespace {

bool ParseInt(const std::string& text, int* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || errno != 0 || v < -1000000000L || v > 1000000000L) return false;
  *value = static_cast<int>(v);
  return true;
}

bool ParseDouble(const std::string& text, double* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &end);
  if (*end != '\0' || errno != 0 || !std::isfinite(v)) return false;
  *value = v;
  return true;
}

std::vector<std::string> SplitComma(const std::string& text) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    const size_t comma = text.find(',', start);
    parts.push_back(text.substr(start, comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return parts;
}

// Both addresses or neither; each must be usable before the run starts.
std::string CheckMailOptions(MailSettings& mail, bool subjectGiven) {
  const bool to = !mail.recipients.empty(), server = !mail.smtpServer.empty();
  if (!to && !server) return subjectGiven ? "--subject needs --mail-to and --smtp-server" : "";
  if (!to || !server) return "--mail-to and --smtp-server go together";
  std::string error;
  if (!SplitRecipients(mail.recipients, nullptr, &error)) return "--mail-to: " + error;
  if (const SmtpTarget t = ParseSmtpServer(mail.smtpServer); t.url.empty()) return "--smtp-server: " + t.error;
  mail.sendEmail = true;
  return {};
}

std::string CheckColumns(const std::vector<std::string>& columns) {
  static const std::set<std::string> known = {"id", "x", "y", "z", "omega", "phi", "kappa", "-"};
  std::set<std::string> seen;
  for (const auto& c : columns) {
    if (!known.count(c)) return "unknown point-file column '" + c + "'";
    if (c != "-" && !seen.insert(c).second) return "point-file column '" + c + "' given twice";
  }
  for (const char* needed : {"id", "x", "y", "z", "omega", "phi", "kappa"})
    if (!seen.count(needed)) return std::string("point-file column '") + needed + "' missing";
  return {};
}

bool IsOption(const std::string& arg) { return arg.rfind("--", 0) == 0; }

class Args {
 public:
  explicit Args(const std::vector<std::string>& args) : args_(args) {}
  bool Done() const { return pos_ >= args_.size(); }
  const std::string& Next() { return args_[pos_++]; }
  // An option right after an option is not its value ("--out --overwrite" lacks the folder).
  bool HasValue() const { return pos_ < args_.size() && !IsOption(args_[pos_]); }
  // The values up to the next option.
  std::vector<std::string> Values() {
    std::vector<std::string> values;
    while (pos_ < args_.size() && !IsOption(args_[pos_])) values.push_back(args_[pos_++]);
    return values;
  }

 private:
  const std::vector<std::string>& args_;
  size_t pos_ = 0;
};

std::string ParseSample(Args& a, BatchCommand* c) {
  while (!a.Done()) {
    const std::string opt = a.Next();
    if (!IsOption(opt)) {
      if (!c->sampleDir.empty()) return "unexpected argument '" + opt + "'";
      c->sampleDir = opt;
      continue;
    }
    if (!a.HasValue()) return "option " + opt + " needs a value";
    const std::string v = a.Next();
    if (opt == "--images") {
      if (!ParseInt(v, &c->sample.images)) return "--images needs a whole number";
    } else if (opt == "--size") {
      const size_t x = v.find_first_of("xX");
      if (x == std::string::npos || !ParseInt(v.substr(0, x), &c->sample.width) ||
          !ParseInt(v.substr(x + 1), &c->sample.height))
        return "--size needs WIDTHxHEIGHT, for example 800x600";
    } else if (opt == "--bands") {
      if (!ParseInt(v, &c->sample.bands)) return "--bands needs 1, 3 or 4";
    } else if (opt == "--dem-size") {
      const size_t x = v.find_first_of("xX");
      if (x == std::string::npos ? !ParseInt(v, &c->sample.demSize)
                                 : !ParseInt(v.substr(0, x), &c->sample.demSize) ||
                                       !ParseInt(v.substr(x + 1), &c->sample.demHeight))
        return "--dem-size needs N or WIDTHxHEIGHT";
    } else if (opt == "--buildings") {
      if (!ParseInt(v, &c->sample.buildings)) return "--buildings needs a whole number";
    } else if (opt == "--seed") {
      int seed = 0;
      if (!ParseInt(v, &seed) || seed < 0) return "--seed needs a whole number";
      c->sample.seed = static_cast<unsigned>(seed);
    } else {
      return "unknown option " + opt + " for sample";
    }
  }
  if (c->sampleDir.empty()) return "sample needs a folder";
  return ValidateSampleOptions(c->sample);
}

std::string ParseProjectOrRun(Args& a, BatchCommand* c) {
  const bool run = c->kind == BatchCommandKind::Run;
  bool skip = false, overwrite = false, subjectGiven = false;
  while (!a.Done()) {
    const std::string opt = a.Next();
    if (opt == "--skip") {
      skip = true;
      continue;
    }
    if (opt == "--overwrite") {
      overwrite = true;
      continue;
    }
    if (run && (opt == "--cog" || opt == "--alpha" || opt == "--occlusion")) {
      (opt == "--cog" ? c->run.cog : opt == "--alpha" ? c->run.alpha : c->run.occlusion) = true;
      continue;
    }
    if (opt == "--images") {
      const auto values = a.Values();
      if (values.empty()) return "--images needs at least one file";
      c->project.images.insert(c->project.images.end(), values.begin(), values.end());
      continue;
    }
    if (!IsOption(opt)) return "unexpected argument '" + opt + "'";
    if (!a.HasValue()) return "option " + opt + " needs a value";
    const std::string v = a.Next();
    if (opt == "--dem") {
      c->project.dem = v;
    } else if (opt == "--bundle") {
      c->project.bundle = v;
    } else if (opt == "--passport") {
      c->project.passport = v;
    } else if (opt == "--eo") {
      c->project.eo = v;
    } else if (opt == "--image-dir") {
      c->project.imageDir = v;
    } else if (opt == "--eo-separators") {
      c->project.eoSeparators = v;
    } else if (opt == "--eo-comments") {
      c->project.eoComments = v;
    } else if (opt == "--eo-columns") {
      c->project.eoColumns = SplitComma(v);
      if (std::string bad = CheckColumns(c->project.eoColumns); !bad.empty()) return bad;
    } else if (opt == "--angles") {
      if (v != "rad" && v != "deg" && v != "grad") return "--angles needs rad, deg or grad";
      c->project.angles = v;
    } else if (run && opt == "--gsd") {
      if (!ParseDouble(v, &c->run.gsd) || c->run.gsd <= 0.0)
        return "--gsd needs a ground sample distance above 0";
    } else if (run && opt == "--out") {
      c->run.destinationFolder = v;
    } else if (run && opt == "--tile") {
      if (v != "16" && v != "1") return "--tile needs 16 or 1";
      c->run.tileStep = std::stoi(v);
    } else if (run && opt == "--max-error") {
      // "inf": squares split only where they cross an edge, as tile mode did before the bound.
      if (v == "inf") c->run.maxError = std::numeric_limits<double>::infinity();
      else if (!ParseDouble(v, &c->run.maxError) || !(c->run.maxError >= 0.0))
        return "--max-error needs a number of pixels, 0 or above, or inf";
    } else if (run && opt == "--bands") {
      if (v != "1" && v != "123" && v != "321" && v != "412" && v != "1234")
        return "--bands needs 1, 123, 321, 412 or 1234";
      c->run.composition = v;
    } else if (run && opt == "--compress") {
      std::string name = v;
      std::transform(name.begin(), name.end(), name.begin(),
                     [](unsigned char ch) { return std::toupper(ch); });
      if (name.empty() || !IsOrthoCompression(name))
        return "--compress needs NONE, DEFLATE, LZW, ZSTD or JPEG";
      c->run.compress = name;
    } else if (run && opt == "--threads") {
      if (!ParseInt(v, &c->threads) || c->threads < 1 || c->threads > 1024)
        return "--threads needs a whole number from 1 to 1024";
    } else if (run && opt == "--mosaic") {
      c->run.mosaicPath = v;
    } else if (run && opt == "--balance") {
      if (!ParseMosaicBalance(v, &c->run.mosaic.balance))
        return "--balance needs none, gain or blocks";
    } else if (run && opt == "--blend") {
      if (!ParseMosaicBlend(v, &c->run.mosaic.blend))
        return "--blend needs none, feather or multiband";
    } else if (run && opt == "--feather") {
      if (!ParseInt(v, &c->run.mosaic.featherPx) || c->run.mosaic.featherPx < 0 ||
          c->run.mosaic.featherPx > 256)
        return "--feather needs a whole number of pixels from 0 to 256";
    } else if (run && opt == "--seam-band") {
      if (!ParseInt(v, &c->run.mosaic.seamBandPx) || c->run.mosaic.seamBandPx < 0 ||
          c->run.mosaic.seamBandPx > 256)
        return "--seam-band needs a whole number of pixels from 0 to 256";
    } else if (run && opt == "--mosaic-memory") {
      if (!ParseInt(v, &c->run.mosaic.memoryMb) || c->run.mosaic.memoryMb < kMinMosaicMemoryMb)
        return "--mosaic-memory needs a whole number of megabytes, at least " +
               std::to_string(kMinMosaicMemoryMb);
    } else if (run && opt == "--crs") {
      // Read now, so that a definition GDAL cannot take stops the run before any work.
      if (std::string bad = ParseCrsDefinition(v, nullptr); !bad.empty()) return "--crs: " + bad;
      c->run.crs = v;
    } else if (run && opt == "--mail-to") {
      c->mail.recipients = v;
    } else if (run && opt == "--smtp-server") {
      c->mail.smtpServer = v;
    } else if (run && opt == "--subject") {
      c->mail.subject = v;
      subjectGiven = true;
    } else if (!run && opt == "--geojson") {
      c->geojson = v;
    } else {
      return "unknown option " + opt;
    }
  }
  if (c->project.dem.empty()) return "--dem is required";
  if (!c->project.bundle.empty()) {
    if (!c->project.passport.empty() || !c->project.eo.empty() || !c->project.images.empty() ||
        !c->project.imageDir.empty())
      return "--bundle brings passport, images and orientations: give no --passport, --eo, "
             "--images or --image-dir with it";
  } else {
    if (c->project.passport.empty()) return "--passport is required (or --bundle)";
    if (c->project.eo.empty()) return "--eo is required (or --bundle)";
    if (c->project.images.empty() == c->project.imageDir.empty())
      return "give either --images or --image-dir";
  }
  if (run) {
    if (c->run.destinationFolder.empty()) return "--out is required";
    if (skip && overwrite) return "give --skip or --overwrite, not both";
    c->run.presentOrthos = skip        ? PresentOrthosMode::Skip
                           : overwrite ? PresentOrthosMode::Overwrite
                                       : PresentOrthosMode::Ask;
    if (std::string bad = CheckMailOptions(c->mail, subjectGiven); !bad.empty()) return bad;
  } else if (c->geojson.empty()) {
    return "--geojson is required";
  }
  return {};
}

std::string ParsePassport(const std::vector<std::string>& args, BatchPassportOptions* p) {
  if (args.empty()) return "passport needs list, show, import or curve";
  p->action = args[0];
  std::vector<std::string> rest(args.begin() + 1, args.end());
  if (p->action == "import") {
    const auto flag = std::find(rest.begin(), rest.end(), "--overwrite");
    if (flag != rest.end()) {
      p->overwrite = true;
      rest.erase(flag);
    }
  } else if (p->action == "curve") {
    if (rest.empty() || (rest[0] != "radial" && rest[0] != "tangential"))
      return "passport curve needs radial or tangential";
    p->tangential = rest[0] == "tangential";
    rest.erase(rest.begin());
  } else if (p->action == "list") {
    if (!rest.empty()) return "passport list takes no argument";
    return {};
  } else if (p->action != "show") {
    return "unknown passport action '" + p->action + "'";
  }
  if (rest.size() != 1 || rest[0].rfind("--", 0) == 0)
    return "passport " + p->action + " needs one passport file";
  p->file = rest[0];
  return {};
}

}  // namespace

bool BatchQuiet(const std::vector<std::string>& args) {
  return std::any_of(args.begin(), args.end(),
                     [](const std::string& a) { return a == "--quiet" || a == "-q"; });
}

std::string ParseBatchCommand(const std::vector<std::string>& allArgs, BatchCommand* command) {
  *command = BatchCommand{};
  std::vector<std::string> args;
  for (const std::string& a : allArgs)
    if (a != "--quiet" && a != "-q") args.push_back(a);
  command->quiet = args.size() != allArgs.size();
  if (args.empty()) return "no command given";
  const std::string& name = args.front();
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  Args a(rest);
  if (name == "help" || name == "--help" || name == "-h") {
    command->kind = BatchCommandKind::Help;
    return {};
  }
  if (name == "version" || name == "--version") {
    command->kind = BatchCommandKind::Version;
    return {};
  }
  if (name == "sample") {
    command->kind = BatchCommandKind::Sample;
    return ParseSample(a, command);
  }
  if (name == "run" || name == "footprints") {
    command->kind = name == "run" ? BatchCommandKind::Run : BatchCommandKind::Footprints;
    return ParseProjectOrRun(a, command);
  }
  if (name == "passport") {
    command->kind = BatchCommandKind::Passport;
    return ParsePassport(rest, &command->passport);
  }
  return "unknown command '" + name + "'";
}

std::string BatchUsage() {
  return R"(Usage: ortavia-batch sample DIR [SAMPLE OPTION]...
  or:  ortavia-batch run --dem F --passport F --eo F (--images F...|--image-dir D) --out DIR [RUN OPTION]...
  or:  ortavia-batch run --dem F --bundle F --out DIR [RUN OPTION]...
  or:  ortavia-batch footprints --dem F --passport F --eo F (--images F...|--image-dir D) --geojson FILE
  or:  ortavia-batch footprints --dem F --bundle F --geojson FILE
  or:  ortavia-batch passport list|show FILE|import FILE [--overwrite]|curve radial|tangential FILE
  or:  ortavia-batch --help|--version
Orthorectifies aerial images onto a DEM as the Ortavia window does, writes a sample project, the
image footprints as GeoJSON, and manages the passport database.

Sample options:
  --images N          number of images (default 6)
  --size WxH          image size in pixels (default 800x600)
  --bands 1|3|4       grey, red-green-blue, or with near infrared (default 3)
  --dem-size N|WxH    DEM samples, N x N or W x H (default 500)
  --seed S            seed of the attitude and position jitter
  --buildings N       N box buildings 15 to 45 m high: the DEM becomes a surface model with
                      their roofs, the images show roofs and walls (for true orthos, --occlusion)

Project options (run and footprints):
  --dem F             the DEM: a one-band GeoTIFF of UInt16, Int16 or Float32 heights with a
                      geotransform
  --passport F        the camera passport (.bcc, .cvc, .cvcc, .rdr or a .ccb certificate)
  --eo F              the point file of exterior orientations, one image a line
  --images F...       the images, processed in the order given
  --image-dir D       every raster file of D, in name order
  --bundle F          a bundle file (.bun) with passport, images and orientations, instead of
                      --passport, --eo, --images and --image-dir
  --eo-separators S   field separators of the point file (default ", ;"; a tab always counts)
  --eo-comments C     a line starting with one of these is a comment (default "#%@+")
  --eo-columns LIST   quantity of each point-file column: id, x, y, z, omega, phi, kappa, or -
                      to skip one (default id,x,y,z,omega,phi,kappa)
  --angles U          unit of the point file's angles: rad (default), deg or grad
  --geojson FILE      footprints: where the GeoJSON polygons are written

Run options:
  --out DIR           destination of orthos, mosaic products and report; created when missing
  --gsd G             ground units per ortho pixel, above 0; without it the run takes the
                      images' median ground pixel size over the DEM (pixel size x height above
                      the DEM's mean height / focal length, 2 significant digits) and logs it
  --tile 16|1         squares of 16 x 16 pixels (default) or every pixel on its own
  --max-error PX|inf  largest error of a square in source pixels (default 0.02); a square
                      further off the exact projection is split, 0 projects every pixel, inf
                      splits only across the edges
  --bands B           source band of each output band: 1, 123, 321, 412 or 1234 (default: 1,
                      123 or 1234 after the first image's bands)
  --skip              keep the orthos already in --out
  --overwrite         write the orthos already in --out again
  --crs DEFINITION    coordinate system of the orthos: EPSG code, WKT, PROJ string or a file
                      holding one (default: the DEM's)
  --cog               write Cloud-Optimized GeoTIFFs
  --compress C        NONE (default), DEFLATE, LZW, ZSTD or JPEG
  --alpha             transparent outside each image's own Voronoi cell
  --occlusion         true orthos: ground an image cannot see over the DEM (a surface model
                      with buildings) is left transparent in its ortho
  --threads N         threads of the warp, 1 to 1024 (default: every core)
  --mail-to LIST      mail the short report with report.txt attached after every run that wrote
                      its report; needs --smtp-server
  --smtp-server S     host, host:port, smtp://host:port or smtps://host:port
  --subject T         subject of the mail (default "Ortavia - Process Finished")
  --mosaic FILE       after the orthos, one seamless mosaic of the block: a Cloud-Optimized
                      GeoTIFF with an alpha band
  --balance M         exposure balancing of the mosaic: blocks (default), gain or none
  --blend M           across the mosaic's seams: feather (default) or none
  --feather PX        feathering on each side of a seam, 0 to 256 pixels (default 16)
  --seam-band PX      how far a seam may move off the Voronoi line, 0 to 256 pixels (default 40)
  --mosaic-memory MB  bound of the mosaic's buffers, at least 128 MB (default 512)

Every command:
  -q, --quiet         print errors only
  --help              print this help and exit
  --version           print the version and exit

Exit codes: 0 done, 1 aborted (Ctrl-C), 2 usage, 3 input refused, 4 process error or an
image failed (named in the log and the report).
)";
}

std::vector<std::string> ListImageDir(const std::string& folder) {
  namespace fs = std::filesystem;
  GDALAllRegister();
  static const std::set<std::string> sidecars = {".tfw", ".tifw", ".wld", ".jgw", ".aux",
                                                 ".xml", ".ovr",  ".msk", ".txt", ".prj"};
  std::vector<std::string> paths;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file(ec)) continue;
    std::string ext = it->path().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char ch) { return std::tolower(ch); });
    if (sidecars.count(ext)) continue;
    paths.push_back(it->path().string());
  }
  std::sort(paths.begin(), paths.end());
  std::vector<std::string> rasters;
  CPLPushErrorHandler(CPLQuietErrorHandler);
  for (const auto& p : paths) {
    GDALDatasetUniquePtr ds(GDALDataset::Open(p.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
    if (ds && ds->GetRasterCount() > 0) rasters.push_back(p);
  }
  CPLPopErrorHandler();
  return rasters;
}

}  // namespace ortavia
