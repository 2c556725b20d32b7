#include "model/add_images.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>

#include <cpl_error.h>
#include <gdal_priv.h>

#include "external/geo/camera_passport.h"
#include "external/geo/orientation.h"

namespace ortavia {
namespace {

struct QuietGdal {
  QuietGdal() { CPLPushErrorHandler(CPLQuietErrorHandler); }
  ~QuietGdal() { CPLPopErrorHandler(); }
  QuietGdal(const QuietGdal&) = delete;
  QuietGdal& operator=(const QuietGdal&) = delete;
};

bool IsPlainFile(const std::string& path) {
  std::error_code ec;
  return path.rfind("/vsi", 0) != 0 && path.find('\0') == std::string::npos &&
         std::filesystem::is_regular_file(path, ec);
}

GDALDatasetUniquePtr OpenImage(const std::string& path) {
  static std::once_flag once;
  std::call_once(once, [] { GDALAllRegister(); });
  QuietGdal quiet;
  GDALDatasetUniquePtr ds(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
  if (ds && ds->GetRasterCount() < 1) ds.reset();
  return ds;
}

RasterFormat FormatOf(GDALDataset* ds) {
  return {ds->GetRasterCount(), ds->GetRasterBand(1)->GetRasterDataType()};
}

bool EqualNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

std::optional<std::string> Item(GDALDataset* ds, const char* key) {
  const char* v = ds->GetMetadataItem(key, nullptr);
  if (!v) return std::nullopt;
  return std::string(v);
}

void LogCount(AddImagesResult& result, const RunContext& ctx, int count, const char* format) {
  if (count <= 0) return;
  char line[160];
  std::snprintf(line, sizeof line, format, count);
  result.log.emplace_back(line);
  ctx.Log(line);
}

}  // namespace

bool IsMarkedUndistorted(GDALDataset* image, const std::string& cameraName) {
  const auto undistorted = Item(image, "UNDISTORTED");
  const auto camera = Item(image, "CAMERANAME");
  if (undistorted && camera) return *undistorted == "yes" && EqualNoCase(*camera, cameraName);
  const auto software = Item(image, "TIFFTAG_SOFTWARE");
  const auto description = Item(image, "TIFFTAG_IMAGEDESCRIPTION");
  return software && description && *software == kUndistortedSoftware &&
         EqualNoCase(*description, cameraName);
}

ImageVerdict CheckImage(const std::string& path, const geo::CCameraPassport& passport,
                        bool mustUndistort, const std::string& cameraName,
                        std::optional<RasterFormat>& reference) {
  if (!IsPlainFile(path)) return ImageVerdict::NotReadable;
  GDALDatasetUniquePtr ds = OpenImage(path);
  if (!ds) return ImageVerdict::NotReadable;
  if (mustUndistort && !IsMarkedUndistorted(ds.get(), cameraName))
    return ImageVerdict::NotMatchingPassport;
  if (ds->GetRasterXSize() != passport.width || ds->GetRasterYSize() != passport.height)
    return ImageVerdict::NotMatchingPassport;
  const RasterFormat format = FormatOf(ds.get());
  if (!reference) reference = format;
  return format == *reference ? ImageVerdict::Accepted : ImageVerdict::InvalidFormat;
}

const char* RefusalReason(ImageVerdict verdict) {
  switch (verdict) {
    case ImageVerdict::NotReadable: return "GDAL cannot open it as a raster";
    case ImageVerdict::NotMatchingPassport:
      return "its size or undistortion marks do not match the passport";
    case ImageVerdict::InvalidFormat: return "its bands or data type differ from the first image's";
    case ImageVerdict::Accepted: break;
  }
  return "";
}

bool IsMosaicProductName(const std::string& name) {
  return name == "coverage" || name == "voronoi";
}

std::string ProductNameRefusal(const std::string& path, const std::string& name) {
  return "Image " + path + " refused: its ortho would overwrite the mosaic product \"" + name +
         "\"; rename the image";
}

std::vector<std::string> RefusedImageLines(const std::vector<RefusedImage>& refused) {
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < refused.size() && i < kRefusedNamesLogged; ++i)
    lines.push_back("Image " + refused[i].path + " refused: " + refused[i].cause);
  if (refused.size() > kRefusedNamesLogged)
    lines.push_back(std::to_string(refused.size() - kRefusedNamesLogged) +
                    " more images refused: the image list names them, greyed, with why");
  return lines;
}

AddImagesResult AddImages(WarpProject& project, const std::vector<std::string>& paths,
                          const RunContext& ctx) {
  AddImagesResult result;
  if (!project.passport) {
    result.status = AddImagesStatus::NoPassport;
    return result;
  }
  const geo::CCameraPassport& passport = *project.passport;
  const bool mustUndistort = passport.MustUndistort();

  std::optional<RasterFormat> reference;
  if (!project.images.empty()) {
    GDALDatasetUniquePtr first = OpenImage(project.images.front().path);
    if (!first) {
      result.status = AddImagesStatus::FirstImageUnreadable;
      return result;
    }
    reference = FormatOf(first.get());
  }

  AddImagesCounts& n = result.counts;
  const auto refuse = [&](int& count, const std::string& path, const std::string& cause) {
    ++count;
    result.refused.push_back({path, cause});
  };
  const std::size_t listedBefore = project.images.size();
  ctx.SetRange(0, static_cast<int>(paths.size()));
  for (std::size_t i = 0; i < paths.size(); ++i) {
    ctx.SetPos(static_cast<int>(i));
    if (ctx.AbortCheck()) {
      // Stopped: the images of this command go again, the project is as it was.
      for (std::size_t k = listedBefore; k < project.images.size(); ++k)
        project.orientations.erase(project.images[k].name);
      project.images.resize(listedBefore);
      ctx.SetPos(0);
      ctx.Log(kImageImportStoppedText);
      return AddImagesResult{AddImagesStatus::Stopped, {}, {}, {kImageImportStoppedText}};
    }
    const std::string& path = paths[i];
    const std::string name = ImageNameFromPath(path);
    if (name.empty()) {  // a folder, not an image file
      refuse(n.notReadable, path, "not an image file");
      continue;
    }
    // Its ortho and world file would take the place of a product of the run.
    if (IsMosaicProductName(name)) {
      ctx.Log(ProductNameRefusal(path, name));
      refuse(n.notReadable, path, "its name is that of a mosaic product");
      continue;
    }
    // Files added earlier in this command count too: a name stays unique in the project.
    if (FindImage(project, name) >= 0) {
      refuse(n.alreadyPresent, path, "an image named " + name + " is already listed");
      continue;
    }
    const ImageVerdict verdict =
        CheckImage(path, passport, mustUndistort, project.cameraName, reference);
    if (verdict != ImageVerdict::Accepted) {
      refuse(RefusalCount(verdict, n), path, RefusalReason(verdict));
      continue;
    }
    project.images.push_back({name, path});
    geo::COrientation orientation(1.0);
    orientation.BuildINTWithoutDistortion(&passport, 0.0);
    project.orientations.insert_or_assign(name, orientation);
    ++n.added;
  }
  ctx.SetPos(0);

  LogCount(result, ctx, n.added, "%d images added");
  LogCount(result, ctx, n.alreadyPresent, "%d images already present into dataset");
  LogCount(result, ctx, n.notReadable, "%d images not readable or invalid");
  LogCount(result, ctx, n.notMatchingPassport, "%d images not matching the passport specifications");
  LogCount(result, ctx, n.invalidFormat, "%d images have an invalid data format");
  return result;
}

}  // namespace ortavia
