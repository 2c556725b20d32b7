#pragma once
// The small three-frame sample project the runner's tests start from.
#include <gtest/gtest.h>

#include <filesystem>

#include "runner/sample_project.h"

namespace ortavia::test {

// Three frames of width x height over a demSize DEM, written into dir/p; with buildings, box
// buildings stand on the DEM.
inline SampleFiles WriteSmallSample(const std::filesystem::path& dir, int width, int height, int demSize,
                                    int buildings = 0) {
  SampleOptions options;
  options.buildings = buildings;
  options.images = 3;
  options.width = width;
  options.height = height;
  options.demSize = demSize;
  SampleFiles files;
  EXPECT_EQ(WriteSampleProject((dir / "p").string(), options, {}, &files), "");
  return files;
}

}  // namespace ortavia::test
