// The window application driven offscreen with scripted answers, as an operator would use it.
//   bench_window_run run SAMPLE_DIR OUT_DIR [--gsd G] [--a11y]
//     DEM, bundle import and a whole run; prints the import time, the run's wall time, the
//     summary's "Process time", and what the window did meanwhile (paints per widget, log rows,
//     accessibility events, pumps).
//   bench_window_run scale SAMPLE_DIR WORK_DIR N [N...]
//     Bundle import of N images (the sample's images linked N / M times under new names) and the
//     drawing's redraw with N footprints: zoom, pan and a full repaint, each a median of 9. Then
//     the same N images through image Add and their orientations through the point-file import
//     (with the footprint pass it starts), and the log with N rows scrolled by a page, a median
//     of 9 repaints. The longest gap is the longest time the event loop went without turning
//     (a 1 ms timer's longest wait).
// SAMPLE_DIR is a folder written by `ortavia-batch sample`. The profile goes to OUT_DIR/home.
#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <gdal_priv.h>

#include "app/COrtaviaDlg.h"
#include "external/geo/pump.h"
#include "extor/ui/CImportExtOrDlg.h"
#include "extor/bundle_reader.h"
#include "extor/bundle_writer.h"
#include "gui/cad_view.h"
#include "gui/log_model.h"
#include "gui/numeric_locale.h"
#include "gui/prompts.h"
#include "process/run_process.h"
#include "process/ui/run_questions.h"
#include "process/warp_settings.h"
#include "runner/heap_reuse.h"

// Qt's private platform interface, as Qt's own accessibility tests reach it to switch the platform's
// accessibility on without a screen reader (the development headers of it are not installed).
class QPlatformAccessibility {
 public:
  void setActive(bool active);
};
class QPlatformIntegration {
 public:
  QPlatformAccessibility* accessibility() const;  // the base implementation, which offscreen uses
};
class QGuiApplicationPrivate {
 public:
  static QPlatformIntegration* platform_integration;
};

namespace fs = std::filesystem;
using namespace ortavia;
using namespace ortavia::ui;

namespace {

// Counts what the window does: paints by widget class, pumps and the longest time between two.
struct Counters : QObject {
  std::map<std::string, int> paints;
  long pumps = 0;
  qint64 longestGapNs = 0;
  QElapsedTimer sincePump;
  long a11yEvents = 0;
  std::map<std::string, int> a11yBy;  // by event type and object class
  std::function<QString()> where;  // what the window showed when the longest gap ended
  QString longestGapAt;

  bool eventFilter(QObject* o, QEvent* e) override {
    if (e->type() == QEvent::Paint) {
      QObject* named = o->objectName() == QLatin1String("qt_scrollarea_viewport") && o->parent() ? o->parent() : o;
      ++paints[named->metaObject()->className()];
    }
    return false;
  }
  void Reset() {
    paints.clear();
    pumps = 0;
    longestGapNs = 0;
    sincePump.invalidate();
    a11yEvents = 0;
    a11yBy.clear();
    longestGapAt.clear();
  }
  void Pump() {
    ++pumps;
    if (sincePump.isValid() && sincePump.nsecsElapsed() > longestGapNs) {
      longestGapNs = sincePump.nsecsElapsed();
      if (where) longestGapAt = where();
    }
    QCoreApplication::processEvents();
    sincePump.restart();
  }
};

Counters* counters = nullptr;

// A screen reader's share: every event's object is asked for its name and value.
void AttachAccessibilityClient() {
  QAccessible::installUpdateHandler([](QAccessibleEvent* event) {
    ++counters->a11yEvents;
    const QObject* o = event->object();
    ++counters->a11yBy[QString("0x%1 %2").arg(int(event->type()), 0, 16)
                           .arg(o ? o->metaObject()->className() : "?").toStdString()];
    if (QAccessibleInterface* i = event->accessibleInterface()) {
      (void)i->text(QAccessible::Name);
      (void)i->text(QAccessible::Value);
    }
  });
  if (QPlatformIntegration* platform = QGuiApplicationPrivate::platform_integration)
    if (QPlatformAccessibility* a = platform->accessibility()) a->setActive(true);
}

double Ms(const QElapsedTimer& t) { return t.nsecsElapsed() / 1e6; }

struct Window {
  ScriptedPrompts prompts;
  ScriptedRunQuestions questions;
  COrtaviaDlg dlg;
  Window() {
    dlg.SetPrompts(&prompts);
    dlg.SetRunQuestions(&questions);
    dlg.resize(1400, 900);
    dlg.show();
    QCoreApplication::processEvents();
  }
  bool LoadDem(const std::string& path) {
    prompts.QueueFile(QString::fromStdString(path));
    dlg.LoadDem();
    return dlg.Project().dem.dataset != nullptr;
  }
  // Milliseconds of the import; negative when it was refused.
  double Import(const std::string& bundle) {
    prompts.QueueFile(QString::fromStdString(bundle));
    QElapsedTimer t;
    t.start();
    const bool ok = dlg.OnImport();
    QCoreApplication::processEvents();
    return ok ? Ms(t) : -1.0;
  }
};

int Run(const fs::path& sample, const fs::path& out, double gsd, bool a11y) {
  Window w;
  if (a11y) AttachAccessibilityClient();
  if (!w.LoadDem((sample / "dem.tif").string())) return std::fprintf(stderr, "DEM refused\n"), 3;
  const double importMs = w.Import((sample / "bundle.bun").string());
  if (importMs < 0) return std::fprintf(stderr, "bundle refused\n"), 3;
  fs::remove_all(out / "orthos");
  WarpSettings settings;
  settings.gsd = gsd;
  settings.tileStep = 16;
  w.questions.QueueSettings(settings);
  w.questions.QueueBandRoles(InitialBandRoles(3));
  w.prompts.QueueFolder(QString::fromStdString((out / "orthos").string()));
  counters->Reset();
  const int logBefore = w.dlg.Log()->rowCount();
  QElapsedTimer t;
  t.start();
  w.dlg.OnStart();
  const double runMs = Ms(t);
  QString summary;
  for (const QString& s : w.prompts.Texts(ScriptedPrompts::Kind::Information)) summary = s;
  const int images = static_cast<int>(w.dlg.Project().images.size());
  std::printf("images %d  import %.0f ms  run wall %.2f s  accessibility %s\n", images, importMs,
              runMs / 1000.0, QAccessible::isActive() ? "on" : "off");
  std::printf("summary: %s\n", qPrintable(QString(summary).replace(QLatin1Char('\n'), QLatin1String("  "))));
  std::printf("log rows %d  pumps %ld  longest gap %.1f ms  accessibility events %ld\n",
              w.dlg.Log()->rowCount() - logBefore, counters->pumps, counters->longestGapNs / 1e6,
              counters->a11yEvents);
  for (const auto& [cls, n] : counters->paints) std::printf("paints %-26s %d\n", cls.c_str(), n);
  for (const auto& [what, n] : counters->a11yBy) std::printf("accessibility event %-30s %d\n", what.c_str(), n);
  return summary.isEmpty() ? 4 : 0;
}

// Writes a bundle of n records that reuse the sample's images under new names (hard links).
std::string ScaledBundle(const fs::path& sample, const fs::path& dir, int n) {
  std::ifstream in(sample / "bundle.bun", std::ios::binary);
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  BundleReadResult read = ReadBundle(bytes);
  if (read.status != BundleReadStatus::Ok || read.bundle.records.empty()) return {};
  std::ifstream pin(sample / "camera.bcc");
  BundleContent content;
  content.title = "scaled sample";
  content.passportText.assign(std::istreambuf_iterator<char>(pin), {});
  content.cameraName = "camera.bcc";
  fs::create_directories(dir / "images");
  const auto& records = read.bundle.records;
  for (int i = 0; i < n; ++i) {
    BundleRecord r = records[static_cast<std::size_t>(i) % records.size()];
    const std::string name = "s" + std::to_string(i);
    const fs::path link = dir / "images" / (name + ".tif");
    std::error_code ec;
    if (!fs::exists(link, ec)) fs::create_hard_link(sample / r.path, link, ec);
    if (ec) return {};
    r.path = "images/" + name + ".tif";
    r.eo.id = name;
    content.records.push_back(std::move(r));
  }
  const std::vector<std::uint8_t> bun = EncodeBundle206(content);
  const fs::path path = dir / "bundle.bun";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bun.data()), static_cast<std::streamsize>(bun.size()));
  return path.string();
}

double MedianMs(const std::function<void()>& step, CadView* view) {
  std::vector<double> ms;
  for (int i = 0; i < 9; ++i) {
    step();
    QElapsedTimer t;
    t.start();
    view->repaint();
    ms.push_back(Ms(t));
  }
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

// The longest wait of a 1 ms timer while it runs: how long the event loop went without turning,
// whichever loop turned it (the window's pumps, a dialog's own loop).
class Heartbeat {
 public:
  Heartbeat() {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(1);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      longestNs_ = std::max(longestNs_, since_.nsecsElapsed());
      since_.restart();
      ++beats_;
    });
    since_.start();
    timer_.start();
  }
  double LongestMs() const { return std::max(longestNs_, since_.nsecsElapsed()) / 1e6; }
  long Beats() const { return beats_; }

 private:
  QTimer timer_;
  QElapsedTimer since_;
  qint64 longestNs_ = 0;
  long beats_ = 0;
};

struct Timed {
  double ms = 0.0;
  double longestGapMs = 0.0;
  long turns = 0;
};

template <class F>
Timed TimeResponsive(F&& operation) {
  Heartbeat beat;
  QElapsedTimer t;
  t.start();
  operation();
  return {Ms(t), beat.LongestMs(), beat.Beats()};
}

// The images of a scaled bundle's folder through image Add, after the DEM and the sample's passport.
Timed AddImagesByHand(Window& w, const fs::path& sample, const fs::path& dir, int n) {
  std::ifstream in(sample / "bundle.bun", std::ios::binary);
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  BundleReadResult read = ReadBundle(bytes);
  if (read.status != BundleReadStatus::Ok || !read.bundle.passport) return {-1.0, 0.0, 0};
  w.dlg.ApplyPassport(*read.bundle.passport, (sample / "camera.bcc").string());
  QStringList files;
  for (int i = 0; i < n; ++i) files << QString::fromStdString((dir / "images" / ("s" + std::to_string(i) + ".tif")).string());
  w.prompts.QueueFiles(files);
  const Timed t = TimeResponsive([&] { w.dlg.OnAddImages(); });
  return static_cast<int>(w.dlg.Project().images.size()) == n ? t : Timed{-1.0, 0.0, 0};
}

// Their orientations from a point file (the bundle's, one row per image) through the import
// dialog: browse, select all, import; the footprint pass follows.
Timed ImportOrientations(Window& w, const fs::path& sample, const fs::path& dir, int n) {
  std::ifstream in(sample / "bundle.bun", std::ios::binary);
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  const BundleReadResult read = ReadBundle(bytes);
  const fs::path points = dir / "orientations.txt";
  {
    std::ofstream out(points);
    out.precision(17);
    const auto& records = read.bundle.records;
    for (int i = 0; i < n; ++i) {
      const ExtOrientation& eo = records[static_cast<std::size_t>(i) % records.size()].eo;
      out << 's' << i << ' ' << eo.x << ' ' << eo.y << ' ' << eo.z << ' ' << eo.omega << ' ' << eo.phi
          << ' ' << eo.kappa << '\n';
    }
  }
  w.prompts.QueueFile(QString::fromStdString(points.string()));
  QTimer::singleShot(0, [] {
    for (QWidget* top : QApplication::topLevelWidgets())
      if (auto* d = qobject_cast<CImportExtOrDlg*>(top); d && d->isVisible()) {
        d->OnBrowse();
        d->GetButton(CImportExtOrDlg::Button::SelectAll)->click();
        d->GetButton(CImportExtOrDlg::Button::Import)->click();
      }
  });
  const Timed t = TimeResponsive([&] { w.dlg.OnExtOrientationsAdd(); });
  return w.dlg.Project().footprints.empty() ? Timed{-1.0, 0.0, 0} : t;
}

// The log view with n rows, scrolled by a page at a time.
double LogScrollMs(Window& w, int n) {
  const QString when = QStringLiteral("10/12/2026 15:00:00");
  for (int i = 0; i < n; ++i) w.dlg.Log()->Add(when, QStringLiteral("Ortho s%1 written").arg(i));
  QCoreApplication::processEvents();
  QTreeView* view = w.dlg.LogView();
  QScrollBar* bar = view->verticalScrollBar();
  std::vector<double> ms;
  for (int i = 0; i < 9; ++i) {
    bar->setValue(i % 2 ? bar->value() - bar->pageStep() : bar->value() + 3 * bar->pageStep());
    QElapsedTimer t;
    t.start();
    view->viewport()->repaint();
    ms.push_back(Ms(t));
  }
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

int ScaleInputs(const fs::path& sample, const fs::path& work, const std::vector<int>& sizes) {
  std::printf("\n| images | image Add ms | longest gap ms | loop turns | orientation import + footprints ms | longest gap ms | loop turns | log rows | log page scroll repaint ms |\n");
  std::printf("|---|---|---|---|---|---|---|---|---|\n");
  for (int n : sizes) {
    const fs::path dir = work / ("n" + std::to_string(n));
    if (ScaledBundle(sample, dir, n).empty()) return 3;
    Window w;
    if (!w.LoadDem((sample / "dem.tif").string())) return 3;
    counters->Reset();
    const Timed add = AddImagesByHand(w, sample, dir, n);
    if (add.ms < 0) return std::fprintf(stderr, "image Add of %d failed\n", n), 3;
    counters->Reset();
    counters->where = [&w] {
      const QProgressBar* bar = w.dlg.Progress();
      return QString("progress %1 of %2, log \"%3\"").arg(bar->value()).arg(bar->maximum()).arg(w.dlg.Log()->Operation(0));
    };
    const Timed eo = ImportOrientations(w, sample, dir, n);
    counters->where = nullptr;
    if (eo.ms < 0) return std::fprintf(stderr, "orientation import of %d failed\n", n), 3;
    std::printf("longest pump gap of the orientation import: %.1f ms before: %s\n", counters->longestGapNs / 1e6,
                qPrintable(counters->longestGapAt));
    const int rowsBefore = w.dlg.Log()->rowCount();
    const double scroll = LogScrollMs(w, n);
    std::printf("| %d | %.0f | %.1f | %ld | %.0f | %.1f | %ld | %d | %.2f |\n", n, add.ms, add.longestGapMs, add.turns,
                eo.ms, eo.longestGapMs, eo.turns, rowsBefore + n, scroll);
    std::fflush(stdout);
  }
  return 0;
}

int Scale(const fs::path& sample, const fs::path& work, const std::vector<int>& sizes) {
  std::printf("| images | import ms | longest gap between pumps ms | longest event-loop gap ms | pumps | zoom ms | pan ms | full redraw ms |\n");
  std::printf("|---|---|---|---|---|---|---|---|\n");
  for (int n : sizes) {
    const std::string bundle = ScaledBundle(sample, work / ("n" + std::to_string(n)), n);
    if (bundle.empty()) return std::fprintf(stderr, "cannot write the bundle of %d\n", n), 3;
    Window w;
    if (!w.LoadDem((sample / "dem.tif").string())) return 3;
    counters->Reset();
    counters->where = [&w] {
      const QProgressBar* bar = w.dlg.Progress();
      return QString("progress %1 of %2, log \"%3\"").arg(bar->value()).arg(bar->maximum()).arg(w.dlg.Log()->Operation(0));
    };
    Heartbeat beat;
    const double importMs = w.Import(bundle);
    const double loopGap = beat.LongestMs();
    counters->where = nullptr;
    if (importMs < 0) return std::fprintf(stderr, "bundle of %d refused\n", n), 3;
    const long pumps = counters->pumps;
    const double gap = counters->longestGapNs / 1e6;
    std::printf("longest gap before: %s\n", qPrintable(counters->longestGapAt));
    CadView* view = w.dlg.View();
    view->ZoomExtents();
    view->repaint();
    const QPointF centre(view->width() / 2.0, view->height() / 2.0);
    int k = 0;
    const double zoom = MedianMs([&] { view->ZoomBy(++k % 2 ? 1.25 : 0.8, centre); }, view);
    const double pan = MedianMs([&] { view->PanBy(QPointF(++k % 2 ? 40 : -40, 25)); }, view);
    const double full = MedianMs([&] { view->Regen(); }, view);
    std::printf("| %d | %.0f | %.1f | %.1f | %ld | %.1f | %.1f | %.1f |\n", n, importMs, gap, loopGap, pumps, zoom, pan, full);
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s run SAMPLE_DIR OUT_DIR [--gsd G] [--a11y]\n"
                         "       %s scale SAMPLE_DIR WORK_DIR N [N...]\n", argv[0], argv[0]);
    return 2;
  }
  const std::string mode = argv[1];
  const fs::path sample = fs::absolute(argv[2]), out = fs::absolute(argv[3]);
  // Offscreen unless QT_QPA_PLATFORM names another platform (xcb under xvfb-run), with a profile of its own: never the operator's display or home.
  fs::create_directories(out / "home");
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  for (const char* v : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
    qputenv(v, QByteArray::fromStdString((out / "home").string()));
  // As the application starts (app/ortavia_main.cpp).
  KeepFreedMemoryForReuse();
  QApplication app(argc, argv);
  KeepNumbersInCLocale();
  GDALAllRegister();
  Counters c;
  counters = &c;
  app.installEventFilter(&c);
  geo::SetPumpHook([] { counters->Pump(); });
  int rc = 2;
  if (mode == "run") {
    double gsd = 0.5;
    bool a11y = false;
    for (int i = 4; i < argc; ++i) {
      const std::string a = argv[i];
      if (a == "--gsd" && i + 1 < argc) gsd = std::stod(argv[++i]);
      if (a == "--a11y") a11y = true;
    }
    rc = Run(sample, out, gsd, a11y);
  } else if (mode == "scale") {
    std::vector<int> sizes;
    for (int i = 4; i < argc; ++i) sizes.push_back(std::stoi(argv[i]));
    rc = Scale(sample, out, sizes);
    if (rc == 0) rc = ScaleInputs(sample, out, sizes);
  }
  geo::SetPumpHook(nullptr);
  app.removeEventFilter(&c);
  return rc;
}
