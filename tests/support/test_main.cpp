#include <filesystem>
#include <gdal_priv.h>
#include <gtest/gtest.h>

#include "support/test_env.h"

int main(int argc, char** argv) {
  ortavia::test::IsolateHome();
  GDALAllRegister();
  CPLSetErrorHandler(CPLQuietErrorHandler);  // expected failures of bad-input tests stay quiet
  ::testing::InitGoogleTest(&argc, argv);
  const int rc = RUN_ALL_TESTS();
  std::error_code ec;
  std::filesystem::remove_all(ortavia::test::PrivateHome(), ec);
  return rc;
}
