#include "gui/display_info.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <string>
#include <vector>

#include "external/tools/sysinfo.h"

namespace ortavia::ui {

namespace {

// One text per DRM card: driver and PCI id, as /sys tells them.
std::vector<std::string> DisplayAdapters() {
  std::vector<std::string> adapters;
  const QDir drm(QStringLiteral("/sys/class/drm"));
  for (const QString& card : drm.entryList({QStringLiteral("card*")}, QDir::Dirs | QDir::System, QDir::Name)) {
    if (card.contains('-')) continue;  // connectors, not cards
    QFile uevent(drm.filePath(card + QStringLiteral("/device/uevent")));
    if (!uevent.open(QIODevice::ReadOnly)) continue;
    QString driver, pciId;
    for (const QByteArray& line : uevent.read(8192).split('\n')) {
      if (line.startsWith("DRIVER=")) driver = QString::fromUtf8(line.mid(7));
      if (line.startsWith("PCI_ID=")) pciId = QString::fromUtf8(line.mid(7));
    }
    QString text = driver.isEmpty() ? card : driver;
    if (!pciId.isEmpty()) text += QStringLiteral(" (%1)").arg(pciId);
    adapters.push_back(text.toStdString());
  }
  if (adapters.empty()) adapters.push_back("Qt platform " + QGuiApplication::platformName().toStdString());
  return adapters;
}

}  // namespace

void PublishDisplayInfo() {
  std::string resolution, depth;
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QSize size = screen->size() * screen->devicePixelRatio();
    resolution = std::to_string(size.width()) + "x" + std::to_string(size.height());
    depth = std::to_string(screen->depth());
  }
  GT_SetDisplayInfo(resolution, depth, DisplayAdapters());
}

}  // namespace ortavia::ui
