#include "support/test_cog.h"

#include <array>
#include <cstdio>
#include <sys/wait.h>

namespace ortavia::test {

CogCheck ValidateCog(const std::filesystem::path& path) {
  namespace fs = std::filesystem;
  const fs::path candidates[] = {
      "/usr/lib/python3/dist-packages/osgeo_utils/samples/validate_cloud_optimized_geotiff.py",
      "/usr/share/doc/python3-gdal/examples/validate_cloud_optimized_geotiff.py"};
  CogCheck check;
  fs::path script;
  for (const fs::path& c : candidates)
    if (fs::exists(c)) script = c;
  if (script.empty()) {
    check.output = "validate_cloud_optimized_geotiff.py not found: install python3-gdal";
    return check;
  }
  // The system's Python has GDAL's bindings; a Python of another installation may not.
  const std::string command =
      "/usr/bin/python3 '" + script.string() + "' '" + path.string() + "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) {
    check.output = "cannot start " + command;
    return check;
  }
  std::array<char, 512> buf;
  while (std::fgets(buf.data(), buf.size(), pipe)) check.output += buf.data();
  const int status = pclose(pipe);
  check.valid = WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
                check.output.find("is a valid cloud optimized GeoTIFF") != std::string::npos;
  return check;
}

}  // namespace ortavia::test
