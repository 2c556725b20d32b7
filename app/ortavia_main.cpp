// The Ortavia desktop application: crash reports, colour ramp, splash, raster drivers, picture
// readers and folders, then the main window; the program ends when it closes.
#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QSplashScreen>
#include <QTimer>
#include <cstdio>
#include <gdal_priv.h>
#include <string_view>

#include "app/COrtaviaDlg.h"
#include "app/crash_handler.h"
#include "external/geo/pump.h"
#include "external/tools/folders.h"
#include "external/tools/sysinfo.h"
#include "gui/cad_view.h"
#include "gui/display_info.h"
#include "gui/icons.h"
#include "gui/maker.h"
#include "gui/numeric_locale.h"
#include "model/height_ramp.h"
#include "runner/heap_reuse.h"

namespace {

constexpr int kSplashMs = 1000;

constexpr const char* kHelp =
    "Usage: ortavia [--help | --version]\n"
    "Opens the Ortavia main window, the desktop orthorectification tool for aerial\n"
    "photogrammetry: a project is put together from a DEM (a single-band GeoTIFF of heights),\n"
    "a camera passport, the aerial images and their exterior orientations, and Start projects\n"
    "every image onto the DEM as a georeferenced, tiled GeoTIFF ortho. ortavia-batch does the\n"
    "same without a window.\n"
    "\n"
    "Options:\n"
    "  -h, --help     print this help and exit\n"
    "      --version  print the version and exit\n"
    "\n"
    "Files:\n"
    "  ~/.config/Ortavia/Ortavia.ini   the settings kept between sessions\n"
    "  ~/.local/share/Kesta/passports  the passport database\n"
    "  ~/.cache/Ortavia                the DEM picture of the last DEM loaded\n";

// The window reads no arguments; these two answer on the terminal, without a display.
bool AnsweredOnTerminal(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kHelp, stdout);
      return true;
    }
    if (arg == "--version") {
      std::printf("ortavia %s\n", ORTAVIA_VERSION);
      return true;
    }
  }
  return false;
}

bool InstallCrashReports(const QString& appName, const std::string& version) {
  using namespace ortavia::ui;
  const std::string common = GT_GetSpecialFolder(kCsidlCommonAppData);
  CrashReportSettings settings;
  settings.appName = appName.toStdString();
  settings.version = version;
  settings.folder = common.empty() ? std::string() : common + "/Kesta/crashes";
  settings.recipient = kMakerMail;
  settings.url = kMakerWeb;
  settings.properties = StandardCrashProperties();
  std::string error = "The folder for crash reports is not available";
  if (!settings.folder.empty() && InstallCrashHandler(settings, &error)) return true;
  std::fprintf(stderr, "%s\n", error.c_str());
  QMessageBox::critical(nullptr, QString::fromUtf8(kProductName), QString::fromStdString(error));
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (AnsweredOnTerminal(argc, argv)) return 0;
  ortavia::KeepFreedMemoryForReuse();
  QApplication app(argc, argv);
  // Desktops match the window to its menu entry and icon by this name.
  QGuiApplication::setDesktopFileName(QStringLiteral("com.varnellsoftware.Ortavia"));
  ortavia::ui::KeepNumbersInCLocale();
  QApplication::setWindowIcon(ortavia::ui::AppIcon());

  const QString appName = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
  const std::string version = GT_GetVersionInfo();

  ortavia::ui::PublishDisplayInfo();
  if (!InstallCrashReports(appName, version)) return 1;

  QCoreApplication::setOrganizationName(QString::fromUtf8(ortavia::ui::kMakerName));
  QCoreApplication::setApplicationName(QStringLiteral("Ortavia"));

  ortavia::HeightRamp();  // built once, before the first DEM is painted

  QString shownVersion = QString::fromStdString(version);
  shownVersion.replace(',', '.');
  QSplashScreen splash(ortavia::ui::SplashPixmap(shownVersion));
  splash.show();
  app.processEvents();
  QTimer::singleShot(kSplashMs, &splash, &QWidget::close);

  GDALAllRegister();
  ortavia::ui::RegisterPictureReaders();
  EnsureFolders();
  geo::SetPumpHook([] { QCoreApplication::processEvents(); });

  {
    ortavia::ui::COrtaviaDlg window;
    window.exec();
  }
  geo::SetPumpHook(nullptr);
  ortavia::ui::UninstallCrashHandler();
  return 0;
}
