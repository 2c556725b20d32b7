#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <gdal_priv.h>
#include <gtest/gtest.h>

#include "gui/numeric_locale.h"
#include "support/test_env.h"

int main(int argc, char** argv) {
  ortavia::test::IsolateHome();
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  ortavia::ui::KeepNumbersInCLocale();  // as the application does
  GDALAllRegister();
  CPLSetErrorHandler(CPLQuietErrorHandler);
  ::testing::InitGoogleTest(&argc, argv);
  const int rc = RUN_ALL_TESTS();
  std::error_code ec;
  std::filesystem::remove_all(ortavia::test::PrivateHome(), ec);
  return rc;
}
