#pragma once
// GDAL's own check of the Cloud-Optimized GeoTIFF layout (validate_cloud_optimized_geotiff.py of
// python3-gdal), run as a separate program.
#include <filesystem>
#include <string>

namespace ortavia::test {

struct CogCheck {
  bool valid = false;
  std::string output;  // what the validator said, or why it could not run
};

CogCheck ValidateCog(const std::filesystem::path& path);

}  // namespace ortavia::test
