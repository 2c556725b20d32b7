#pragma once
// A main window with scripted answers and helpers that put a project together without dialogs.
#include <gdal_priv.h>
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTreeWidget>
#include <memory>
#include <string>
#include <vector>

#include "app/COrtaviaDlg.h"
#include "external/geo/camera_passport.h"
#include "gui/log_model.h"
#include "gui/prompts.h"
#include "support/test_passport.h"

namespace ortavia::ui::test {

inline std::unique_ptr<geo::CBCCCameraPassport> MakePassport(const std::string& model, const std::string& serial) {
  return ortavia::test::MakeTestPassport(1000, 800, 100.5, 0.006, model, serial);
}

// An in-memory single-band DEM with a north-up geotransform.
inline GDALDatasetUniquePtr MakeMemDem(int width, int height, GDALDataType type = GDT_Float32) {
  GDALDriver* mem = GetGDALDriverManager()->GetDriverByName("MEM");
  GDALDatasetUniquePtr ds(mem->Create("", width, height, 1, type, nullptr));
  double gt[6] = {1000.0, 10.0, 0.0, 2000.0, 0.0, -10.0};
  ds->SetGeoTransform(gt);
  return ds;
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dlg = std::make_unique<COrtaviaDlg>();
    dlg->SetPrompts(&prompts);
  }
  void TearDown() override { dlg.reset(); }

  WarpProject& project() { return dlg->Project(); }
  bool enabled(COrtaviaDlg::Button b) const { return dlg->GetButton(b)->isEnabled(); }
  QString newestLog() const { return dlg->Log()->Operation(0); }
  int logRows() const { return dlg->Log()->rowCount(); }

  void LoadDem() {
    project().dem.dataset = MakeMemDem(50, 40);
    dlg->SetStepState(COrtaviaDlg::Step::Dem, true);
    dlg->UpdateStart();
  }
  void ChoosePassport(const std::string& model = "RC30", const std::string& serial = "5001") {
    auto p = MakePassport(model, serial);
    dlg->ApplyPassport(*p, "/some/where/Cam01.BCC");
  }
  // Adds images as the image import does: one orientation per image, interior from the passport.
  void AddImages(const std::vector<std::string>& names, bool oriented) {
    for (const auto& n : names) {
      project().images.push_back({n, "/data/" + n + ".tif"});
      geo::COrientation o;
      o.BuildINTWithoutDistortion(project().passport.get(), 0.0);
      if (oriented) o.N = Wml::Point3d(1200.0, 1800.0, 1500.0);
      project().orientations[n] = o;
    }
    dlg->ImagesChanged();
  }
  // A footprint polygon for an image, as the footprint pass leaves it.
  CadHandle AddFootprint(const std::string& name, double x0, double y0, double size) {
    const CadHandle h = project().cad.AddPolyline(
        kLayerOrtho, {{x0, y0}, {x0 + size, y0}, {x0 + size, y0 + size}, {x0, y0 + size}}, true);
    project().footprints[name] = h;
    return h;
  }
  // The listed images; the greyed rows of refused files are left out.
  QStringList ListNames() const {
    QStringList names;
    for (int i = 0; i < dlg->ImageList()->topLevelItemCount(); ++i)
      if (dlg->ImageList()->topLevelItem(i)->flags() & Qt::ItemIsEnabled)
        names << dlg->ImageList()->topLevelItem(i)->text(0);
    return names;
  }
  // The state column, row by row, refused files included.
  QStringList ListStates() const {
    QStringList states;
    for (int i = 0; i < dlg->ImageList()->topLevelItemCount(); ++i)
      states << dlg->ImageList()->topLevelItem(i)->text(COrtaviaDlg::kStateColumn);
    return states;
  }

  ScriptedPrompts prompts;
  std::unique_ptr<COrtaviaDlg> dlg;
};

}  // namespace ortavia::ui::test
