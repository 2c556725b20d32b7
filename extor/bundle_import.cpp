#include "extor/bundle_import.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <optional>

#include "model/add_images.h"

namespace ortavia {
namespace fs = std::filesystem;

namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

bool IsRegular(const fs::path& p) {
  std::error_code ec;
  return fs::is_regular_file(p, ec);
}

// The file name of a path of this system or of Windows (folders by '/' or '\', a drive letter).
std::string FileNamePart(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.size() >= 2 && name[1] == ':' && std::isalpha(static_cast<unsigned char>(name[0])))
    name.erase(0, 2);
  return name;
}

bool WrittenElsewhere(const std::string& path) {
  return path.find('\\') != std::string::npos ||
         (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0])));
}

constexpr std::size_t kMaxTailFolders = 3;
// The file is read in pieces of this size, Stop looked at between them (a few milliseconds each).
constexpr std::size_t kReadPieceBytes = std::size_t{4} << 20;

// The files of the bundle's folder by lower-case name, listed once and only when needed.
class FolderIndex {
 public:
  explicit FolderIndex(fs::path folder) : folder_(std::move(folder)) {}

  std::string Find(const std::string& recordPath) {
    if (recordPath.empty() || recordPath.find('\0') != std::string::npos) return {};
    if (!WrittenElsewhere(recordPath)) {
      fs::path p(recordPath);
      if (p.is_relative()) p = folder_ / p;
      if (IsRegular(p)) return p.string();
    }
    const std::string file = FileNamePart(recordPath);
    if (file.empty() || file == "." || file == "..") return {};
    const fs::path exact = folder_ / file;
    if (IsRegular(exact)) return exact.string();
    if (!byLowerName_) List();
    const auto [first, last] = byLowerName_->equal_range(Lower(file));
    if (first != last && std::next(first) == last) return first->second;
    if (first != last) return {};  // no single answer
    return BelowFolder(recordPath);
  }

 private:
  // The block moved as a whole: the path's last folders and file name below the bundle's folder
  // ("C:\\block\\images\\a.tif" -> <folder>/images/a.tif), the longest tail first.
  std::string BelowFolder(const std::string& recordPath) const {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= recordPath.size(); ++i)
      if (i == recordPath.size() || recordPath[i] == '/' || recordPath[i] == '\\') {
        if (i > start) parts.push_back(recordPath.substr(start, i - start));
        start = i + 1;
      }
    for (std::size_t k = std::min<std::size_t>(parts.size(), kMaxTailFolders + 1); k >= 2; --k) {
      fs::path p = folder_;
      for (std::size_t j = parts.size() - k; j < parts.size(); ++j) {
        if (parts[j] == "." || parts[j] == ".." || parts[j].find(':') != std::string::npos) p.clear();
        if (p.empty()) break;
        p /= parts[j];
      }
      if (!p.empty() && IsRegular(p)) return p.string();
    }
    return {};
  }

  void List() {
    byLowerName_.emplace();
    std::error_code ec;
    for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec))
      if (IsRegular(it->path()))
        byLowerName_->emplace(Lower(it->path().filename().string()), it->path().string());
  }

  fs::path folder_;
  std::optional<std::multimap<std::string, std::string>> byLowerName_;
};

// A centre of (0, 0, 0) is the project's mark of an image without orientation: taken in, such an
// image would keep Start disabled, and the bundle's lock would not let it be removed.
bool UsableOrientation(const ExtOrientation& eo) {
  return std::isfinite(eo.x) && std::isfinite(eo.y) && std::isfinite(eo.z) &&
         std::isfinite(eo.omega) && std::isfinite(eo.phi) && std::isfinite(eo.kappa) &&
         (eo.x != 0.0 || eo.y != 0.0 || eo.z != 0.0);
}

void CountLine(BundleImport& im, int count, const char* format) {
  if (count <= 0) return;
  char line[160];
  std::snprintf(line, sizeof line, format, count);
  im.countLines.emplace_back(line);
}

BundleImportStatus ImportStatus(BundleReadStatus s) {
  switch (s) {
    case BundleReadStatus::Ok: return BundleImportStatus::Imported;
    case BundleReadStatus::BadVersion: return BundleImportStatus::BadVersion;
    case BundleReadStatus::NoPassport: return BundleImportStatus::NoPassport;
    case BundleReadStatus::BadPassport: return BundleImportStatus::BadPassport;
    case BundleReadStatus::Stopped: return BundleImportStatus::Stopped;
    case BundleReadStatus::Damaged: break;
  }
  return BundleImportStatus::Damaged;
}

BundleImport Refused(BundleImportStatus status, const char* message, std::string detail) {
  BundleImport im;
  im.status = status;
  im.message = message;
  im.detail = std::move(detail);
  return im;
}

BundleImport Stopped(const std::string& path) {
  return Refused(BundleImportStatus::Stopped, kBundleImportStoppedText,
                 path + ": stopped at the operator's request");
}

// False when Stop ended the checks.
bool CheckRecords(const Bundle& bundle, const fs::path& folder, bool mustUndistort,
                  const RunContext& ctx, BundleImport& im) {
  FolderIndex files(folder);
  std::optional<RasterFormat> reference;
  BundleImportCounts& n = im.counts;
  const int count = static_cast<int>(bundle.records.size());
  ctx.SetRange(0, count);
  const auto refuse = [&](int& counter, const BundleRecord& r, const std::string& cause) {
    ++counter;
    im.refused.push_back({r.path, cause});
  };
  for (int i = 0; i < count; ++i) {
    ctx.SetPos(i);
    if (ctx.AbortCheck()) return false;
    const BundleRecord& r = bundle.records[static_cast<std::size_t>(i)];
    if (!r.hasOrientation || !UsableOrientation(r.eo)) {
      refuse(n.withoutOrientation, r, r.hasOrientation ? "its orientation is not usable" : "it has no orientation");
      continue;
    }
    const std::string name = ImageNameFromPath(FileNamePart(r.path));
    if (name.empty()) {
      refuse(n.notReadable, r, "the record names no image file");
      continue;
    }
    if (IsMosaicProductName(name)) {
      refuse(n.notReadable, r, "its ortho would overwrite the mosaic product \"" + name + "\"; rename the image");
      continue;
    }
    if (im.orientations.count(name) != 0) {
      refuse(n.alreadyPresent, r, "an image named " + name + " came earlier in the bundle");
      continue;
    }
    const std::string path = files.Find(r.path);
    if (path.empty()) {
      refuse(n.notReadable, r, "no such file, as written or beside the bundle");
      continue;
    }
    const ImageVerdict verdict = CheckImage(path, *im.passport, mustUndistort, im.cameraName, reference);
    if (verdict != ImageVerdict::Accepted) {
      refuse(RefusalCount(verdict, n), r, RefusalReason(verdict));
      continue;
    }
    im.images.push_back({name, path});
    geo::COrientation orientation(1.0);
    orientation.BuildINTWithoutDistortion(im.passport.get(), 0.0);
    ApplyExtOrientation(r.eo, orientation);
    im.orientations.emplace(name, orientation);
    ++n.added;
  }
  ctx.SetPos(0);
  CountLine(im, n.added, "%d images added");
  CountLine(im, n.withoutOrientation, "%d images without external orientation data");
  CountLine(im, n.alreadyPresent, "%d images already present into dataset");
  CountLine(im, n.notReadable, "%d images not readable or invalid");
  CountLine(im, n.notMatchingPassport, "%d images not matching the passport specifications");
  CountLine(im, n.invalidFormat, "%d images have an invalid data format");
  return true;
}

}  // namespace

FileReadStatus ReadFileBytes(const std::string& path, std::vector<std::uint8_t>* bytes,
                             std::string* error, const RunContext& ctx) {
  std::error_code ec;
  if (!IsRegular(path)) {
    *error = "not a file";
    return FileReadStatus::Failed;
  }
  const std::uintmax_t size = fs::file_size(path, ec);
  if (ec) {
    *error = ec.message();
    return FileReadStatus::Failed;
  }
  if (size > kMaxBundleFileBytes) {
    *error = "the file has " + std::to_string(size) + " bytes, more than a bundle can hold";
    return FileReadStatus::Failed;
  }
  std::ifstream in(path, std::ios::binary);
  bytes->resize(static_cast<std::size_t>(size));
  const std::size_t pieces = (bytes->size() + kReadPieceBytes - 1) / kReadPieceBytes;
  ctx.SetRange(0, static_cast<int>(pieces));
  for (std::size_t i = 0; i < pieces && in; ++i) {
    const std::size_t from = i * kReadPieceBytes;
    const std::size_t n = std::min(kReadPieceBytes, bytes->size() - from);
    in.read(reinterpret_cast<char*>(bytes->data() + from), static_cast<std::streamsize>(n));
    ctx.SetPos(static_cast<int>(i + 1));
    if (in && ctx.AbortCheck()) {
      bytes->clear();
      return FileReadStatus::Stopped;
    }
  }
  if (!in) {
    *error = "the file cannot be read";
    bytes->clear();
    return FileReadStatus::Failed;
  }
  return FileReadStatus::Read;
}

std::string ResolveBundleImagePath(const std::string& recordPath, const fs::path& bundleFolder) {
  return FolderIndex(bundleFolder).Find(recordPath);
}

std::string FindCcbPassport(const fs::path& folder) {
  std::vector<fs::path> found;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    if (IsRegular(it->path()) && Lower(it->path().extension().string()) == ".ccb")
      found.push_back(it->path());
  if (found.empty()) return {};
  return std::min_element(found.begin(), found.end())->string();
}

BundleImport PrepareBundleImport(const std::string& path, const std::string& cameraName,
                                 const RunContext& ctx) {
  std::error_code ec;
  if (const std::uintmax_t size = fs::file_size(path, ec); !ec && size > kMaxBundleFileBytes)
    return Refused(BundleImportStatus::Damaged, BundleStatusMessage(BundleReadStatus::Damaged),
                   path + ": offset 0: expected a bundle of at most " +
                       std::to_string(kMaxBundleFileBytes) + " bytes, the file has " +
                       std::to_string(size));
  std::vector<std::uint8_t> bytes;
  std::string why;
  const FileReadStatus fileRead = ReadFileBytes(path, &bytes, &why, ctx);
  if (fileRead == FileReadStatus::Stopped) return Stopped(path);
  if (fileRead == FileReadStatus::Failed)
    return Refused(BundleImportStatus::CannotOpen, kUnableToOpenBundleText, path + ": " + why);

  BundleReadResult read = ReadBundle(bytes, ctx);
  bytes = {};
  if (read.status == BundleReadStatus::Stopped) return Stopped(path);
  if (read.status != BundleReadStatus::Ok)
    return Refused(ImportStatus(read.status), BundleStatusMessage(read.status),
                   path + ": " + read.error);

  Bundle& bundle = read.bundle;
  const fs::path folder = fs::absolute(fs::path(path)).parent_path();
  BundleImport im;
  im.version = bundle.version;
  bool mustUndistort = false;
  if (bundle.version == kBundleMinVersion) {
    const std::string ccb = FindCcbPassport(folder);
    if (ccb.empty())
      return Refused(BundleImportStatus::NoPassport, BundleStatusMessage(BundleReadStatus::NoPassport),
                     path + ": no .ccb passport in " + folder.string());
    auto passport = std::make_unique<geo::CBCCCameraPassport>();
    if (!geo::CCBtoBCC(ccb, passport.get()))
      return Refused(BundleImportStatus::BadPassport,
                     BundleStatusMessage(BundleReadStatus::BadPassport), ccb + ": not a passport");
    im.passport = std::move(passport);
    im.cameraName = Lower(fs::path(ccb).filename().string());
  } else {
    im.passport = std::move(bundle.passport);
    im.cameraName = cameraName.empty() ? im.passport->model : cameraName;
    if (bundle.cameraName) im.cameraName = *bundle.cameraName;
    mustUndistort = im.passport->MustUndistort() && bundle.undistorted;
  }
  // Nothing was put in place yet: a stopped import leaves the project as it was.
  if (!CheckRecords(bundle, folder, mustUndistort, ctx, im)) return Stopped(path);
  im.status = BundleImportStatus::Imported;
  return im;
}

void ApplyBundleImport(WarpProject& project, BundleImport&& import) {
  for (const auto& [name, handle] : project.footprints) project.cad.Erase(handle);
  if (!project.footprints.empty()) project.cad.Purge();
  project.footprints.clear();
  project.passport = std::move(import.passport);
  project.cameraName = std::move(import.cameraName);
  project.images = std::move(import.images);
  project.orientations = std::move(import.orientations);
}

}  // namespace ortavia
