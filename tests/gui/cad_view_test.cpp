#include <gtest/gtest.h>

#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <cmath>

#include "gui/cad_view.h"
#include "model/cad_drawing.h"
#include "support/test_env.h"

namespace ortavia::ui {
namespace {

// A 400 x 300 view over a drawing with two squares on layer "Ortho" and an image on locked "DEM".
class CadViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cad.AddLayer("DEM", kAciWhite, true);
    cad.AddLayer("Ortho", kAciYellow, false);
    image = cad.AddImage("DEM", "/nowhere/DEM.jpg", {0.0, 0.0}, 1000.0, 750.0, 100);
    left = cad.AddPolyline("Ortho", {{100, 100}, {300, 100}, {300, 300}, {100, 300}}, true);
    right = cad.AddPolyline("Ortho", {{600, 400}, {900, 400}, {900, 700}, {600, 700}}, true);
    view.resize(400, 300);
    view.SetDrawing(&cad);
    view.show();
    view.ZoomExtents();
  }
  QPoint At(double x, double y) const { return view.GroundToWidget(x, y).toPoint(); }

  CadDrawing cad;
  CadView view;
  CadHandle image = 0, left = 0, right = 0;
};

TEST_F(CadViewTest, ZoomExtentsFitsTheDrawingWithAMargin) {
  // 1000 x 750 ground units in 400 x 300 pixels: 0.4 px per unit, less a 5 % margin.
  EXPECT_NEAR(view.PixelsPerUnit(), 0.4 * 0.95, 1e-9);
  const QPointF centre = view.GroundToWidget(500.0, 375.0);
  EXPECT_NEAR(centre.x(), 200.0, 1e-9);
  EXPECT_NEAR(centre.y(), 150.0, 1e-9);
  // North is up.
  EXPECT_LT(view.GroundToWidget(0.0, 750.0).y(), view.GroundToWidget(0.0, 0.0).y());
  const QPointF back = view.WidgetToGround(view.GroundToWidget(123.25, 456.5));
  EXPECT_NEAR(back.x(), 123.25, 1e-9);
  EXPECT_NEAR(back.y(), 456.5, 1e-9);
}

TEST_F(CadViewTest, WheelZoomKeepsTheGroundUnderThePointer) {
  const QPointF anchor(80.0, 220.0);
  const QPointF before = view.WidgetToGround(anchor);
  const double scale = view.PixelsPerUnit();
  view.ZoomBy(2.0, anchor);
  EXPECT_NEAR(view.PixelsPerUnit(), 2.0 * scale, 1e-12);
  const QPointF after = view.WidgetToGround(anchor);
  EXPECT_NEAR(after.x(), before.x(), 1e-9);
  EXPECT_NEAR(after.y(), before.y(), 1e-9);

  QWheelEvent wheel(anchor, view.mapToGlobal(anchor), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                    Qt::NoScrollPhase, false);
  QApplication::sendEvent(&view, &wheel);
  EXPECT_NEAR(view.PixelsPerUnit(), 2.0 * scale * 1.25, 1e-9);
  EXPECT_NEAR(view.WidgetToGround(anchor).x(), before.x(), 1e-9);
}

TEST_F(CadViewTest, ZoomWindowAndZoomPrevious) {
  const double extentsScale = view.PixelsPerUnit();
  view.BeginZoomWindow();
  EXPECT_TRUE(view.ZoomWindowActive());
  // Two clicks: the corners of the left square.
  QTest::mouseClick(&view, Qt::LeftButton, {}, At(100, 300));
  EXPECT_TRUE(view.ZoomWindowActive());
  QTest::mouseClick(&view, Qt::LeftButton, {}, At(300, 100));
  EXPECT_FALSE(view.ZoomWindowActive());
  const CadBox box = view.VisibleBox();
  EXPECT_NEAR((box.left + box.right) / 2, 200.0, 3.0);
  EXPECT_NEAR((box.bottom + box.top) / 2, 200.0, 3.0);
  EXPECT_NEAR(box.top - box.bottom, 200.0 / 0.95, 8.0);
  EXPECT_TRUE(view.Selection().empty()) << "the corner clicks select nothing";

  EXPECT_TRUE(view.Execute(kCadZoomPrevious));
  EXPECT_NEAR(view.PixelsPerUnit(), extentsScale, 1e-12);
  EXPECT_FALSE(view.Execute(12345));
}

TEST_F(CadViewTest, PanningByDragMovesTheDrawingWithThePointer) {
  const QPointF ground = view.WidgetToGround(QPointF(200, 150));
  QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(200, 150));
  QMouseEvent move(QEvent::MouseMove, QPointF(230, 170), view.mapToGlobal(QPointF(230, 170)), Qt::NoButton,
                   Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&view, &move);
  QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(230, 170));
  const QPointF now = view.GroundToWidget(ground.x(), ground.y());
  EXPECT_NEAR(now.x(), 230.0, 1e-6);
  EXPECT_NEAR(now.y(), 170.0, 1e-6);
  EXPECT_TRUE(view.Selection().empty()) << "a drag is not a click";
}

TEST_F(CadViewTest, KeysZoomPanAndShowEverything) {
  const double extents = view.PixelsPerUnit();
  const QPointF centre = view.WidgetToGround(QPointF(200, 150));
  QTest::keyClick(&view, Qt::Key_Plus);
  EXPECT_NEAR(view.PixelsPerUnit(), extents * 1.25, 1e-12);
  EXPECT_NEAR(view.WidgetToGround(QPointF(200, 150)).x(), centre.x(), 1e-9);
  QTest::keyClick(&view, Qt::Key_Right);  // the view moves east: the drawing moves left
  EXPECT_LT(view.GroundToWidget(centre.x(), centre.y()).x(), 200.0);
  QTest::keyClick(&view, Qt::Key_Home);
  EXPECT_NEAR(view.PixelsPerUnit(), extents, 1e-12);
  EXPECT_NEAR(view.GroundToWidget(centre.x(), centre.y()).x(), 200.0, 1e-9);
}

TEST_F(CadViewTest, PickingPrefersOutlinesAndNeverTakesLockedLayers) {
  EXPECT_EQ(view.PickAt(At(200, 100)), left);   // on an edge
  EXPECT_EQ(view.PickAt(At(200, 200)), left);   // inside
  EXPECT_EQ(view.PickAt(At(750, 550)), right);
  EXPECT_EQ(view.PickAt(At(450, 200)), 0u) << "only the DEM picture is there";
  cad.Erase(right);
  EXPECT_EQ(view.PickAt(At(750, 550)), 0u);
}

TEST_F(CadViewTest, ClicksSelectAndDeselectWithSignals) {
  QSignalSpy selected(&view, &CadView::EntitySelected);
  QSignalSpy deselected(&view, &CadView::EntityDeselected);
  QTest::mouseClick(&view, Qt::LeftButton, {}, At(200, 200));
  ASSERT_EQ(selected.count(), 1);
  EXPECT_EQ(selected[0][0].value<CadHandle>(), left);
  QTest::mouseClick(&view, Qt::LeftButton, Qt::ControlModifier, At(750, 550));
  EXPECT_EQ(view.Selection(), (std::set<CadHandle>{left, right}));
  QTest::mouseClick(&view, Qt::LeftButton, {}, At(450, 200));  // empty ground
  EXPECT_TRUE(view.Selection().empty());
  EXPECT_EQ(deselected.count(), 2);

  view.SetSelected(right, true);
  std::unique_ptr<QMenu> menu(view.CreateContextMenu(nullptr));
  QStringList items;
  for (QAction* a : menu->actions())
    if (!a->isSeparator()) items << a->text();
  EXPECT_EQ(items, (QStringList{"Zoom Extents", "Zoom Window", "Zoom Previous", "Unselect All"}));
  view.Execute(kCadUnselectAll);
  EXPECT_TRUE(view.Selection().empty());
}

TEST_F(CadViewTest, MouseMoveReportsTheGroundPosition) {
  QSignalSpy moved(&view, &CadView::GroundPositionChanged);
  // Qt drops a move to where the cursor already is, so come from elsewhere.
  QTest::mouseMove(&view, At(10, 10));
  QTest::mouseMove(&view, At(250, 600));
  ASSERT_GE(moved.count(), 1);
  EXPECT_NEAR(moved.last()[0].toDouble(), 250.0, 3.0);
  EXPECT_NEAR(moved.last()[1].toDouble(), 600.0, 3.0);
}

TEST_F(CadViewTest, ImagesArePaintedThroughTheCallbackWithTheirScreenRectangle) {
  int calls = 0;
  QRectF seen;
  view.SetDrawImage([&](int code, QPainter& p, const QRectF& picture, const QRect& visible) {
    ++calls;
    EXPECT_EQ(code, 100);
    EXPECT_EQ(visible, view.rect());
    seen = picture;
    p.fillRect(picture, QColor(10, 200, 30));
    return true;
  });
  view.Regen();
  const QImage shot = view.grab().toImage();
  EXPECT_GE(calls, 1);
  const QPointF tl = view.GroundToWidget(0.0, 750.0);
  EXPECT_NEAR(seen.left(), tl.x(), 1e-9);
  EXPECT_NEAR(seen.top(), tl.y(), 1e-9);
  EXPECT_NEAR(seen.width(), 1000.0 * view.PixelsPerUnit(), 1e-9);
  EXPECT_EQ(shot.pixelColor(At(450, 200)), QColor(10, 200, 30));
  // Yellow outlines of layer "Ortho" lie over the picture.
  int reddest = 0;
  for (int dy = -2; dy <= 2; ++dy) reddest = std::max(reddest, shot.pixelColor(At(200, 100) + QPoint(0, dy)).red());
  EXPECT_GT(reddest, 200);
}

TEST_F(CadViewTest, ARecolouredOutlineRedrawsWithoutPaintingThePicturesAgain) {
  int calls = 0;
  view.SetDrawImage([&](int, QPainter& p, const QRectF& picture, const QRect&) {
    ++calls;
    p.fillRect(picture, Qt::darkBlue);
    return true;
  });
  view.Regen();
  (void)view.grab();
  ASSERT_EQ(calls, 1);
  ASSERT_TRUE(cad.SetColor(left, kAciGreen));
  view.update();
  const QImage shot = view.grab().toImage();
  EXPECT_EQ(calls, 1) << "the DEM is not read again for a recoloured footprint";
  int greenest = 0;
  for (int dy = -2; dy <= 2; ++dy) greenest = std::max(greenest, shot.pixelColor(At(200, 100) + QPoint(0, dy)).green());
  EXPECT_GT(greenest, 200);
  // A new view of the drawing, or Regen, paints the pictures again.
  view.ZoomBy(2.0, QPointF(200, 150));
  (void)view.grab();
  EXPECT_EQ(calls, 2);
  view.Regen();
  (void)view.grab();
  EXPECT_EQ(calls, 3);
}

TEST_F(CadViewTest, ThousandsOfOutlinesInViewAreAllDrawn) {
  // 60 x 60 squares of 10 units, 15 apart, over the drawing: 3600 in view, above the smoothing limit.
  CadHandle last = 0;
  for (int i = 0; i < 60; ++i)
    for (int j = 0; j < 60; ++j)
      last = cad.AddPolyline("Ortho", {{i * 15.0, j * 12.0}, {i * 15.0 + 10, j * 12.0}, {i * 15.0 + 10, j * 12.0 + 10},
                                      {i * 15.0, j * 12.0 + 10}}, true);
  cad.SetColor(last, kAciGreen);
  view.resize(1200, 900);
  view.ZoomBy(3.0, view.GroundToWidget(890, 713));
  const QImage shot = view.grab().toImage();
  // The last square's left edge shows green.
  int greenest = 0;
  for (int dx = -2; dx <= 2; ++dx)
    greenest = std::max(greenest, shot.pixelColor(view.GroundToWidget(885, 713).toPoint() + QPoint(dx, 0)).green());
  EXPECT_GT(greenest, 200);
}

// A picture is painted upright in its own frame and carried onto the ground by its placement: its
// first corner lands on the frame's origin, whether the placement is turned or mirrored.
TEST(CadViewFrames, TurnedAndMirroredPicturesLieWhereTheirFramesPutThem) {
  struct Case {
    const char* name;
    CadImageFrame frame;
    cv::Point2d nearOrigin, nearFarCorner, outside;  // ground points, worked out by hand
  };
  const Case cases[] = {
      // 400 x 300 turned by atan(3/4): across (320, 240), down (180, -240); corners (0, 300),
      // (320, 540), (500, 300), (180, 60). (480, 500) is inside the box but right of the edge
      // from (320, 540) to (500, 300), which passes x = 350 at y = 500.
      {"turned", {{0, 300}, {320, 240}, {180, -240}}, {50, 300}, {450, 300}, {480, 500}},
      // South-up: the first row is the southern edge.
      {"south-up", {{0, 0}, {400, 0}, {0, 300}}, {40, 30}, {360, 270}, {200, 330}},
  };
  for (const Case& c : cases) {
    CadDrawing cad;
    cad.AddLayer("DEM", kAciWhite, true);
    cad.AddImage("DEM", "/nowhere/DEM.jpg", c.frame, 100);
    CadView view;
    view.resize(400, 400);
    view.SetDrawing(&cad);
    view.SetDrawImage([](int, QPainter& p, const QRectF& picture, const QRect&) {
      p.fillRect(picture, QColor(10, 200, 30));
      p.fillRect(QRectF(picture.topLeft(), picture.size() / 2.0), QColor(220, 20, 20));
      return true;
    });
    view.show();
    view.ZoomExtents();
    view.Regen();
    const QImage shot = view.grab().toImage();
    auto at = [&](cv::Point2d g) { return shot.pixelColor(view.GroundToWidget(g.x, g.y).toPoint()); };
    EXPECT_EQ(at(c.nearOrigin), QColor(220, 20, 20)) << c.name;
    EXPECT_EQ(at(c.nearFarCorner), QColor(10, 200, 30)) << c.name;
    EXPECT_EQ(at(c.outside), view.palette().color(QPalette::Base)) << c.name;
  }
}

TEST_F(CadViewTest, WheelingMovesTheLastPaintingAndRepaintsOnlyAfterAPause) {
  int calls = 0;
  view.SetDrawImage([&](int, QPainter& p, const QRectF& picture, const QRect&) {
    ++calls;
    p.fillRect(picture, Qt::darkGreen);
    return true;
  });
  view.Regen();
  (void)view.grab();
  const int painted = calls;
  ASSERT_GE(painted, 1);
  for (int i = 0; i < 3; ++i) {
    QWheelEvent wheel(QPointF(100, 100), view.mapToGlobal(QPointF(100, 100)), QPoint(), QPoint(0, 120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&view, &wheel);
    (void)view.grab();
  }
  EXPECT_EQ(calls, painted) << "a big DEM is not read again for every wheel step";
  EXPECT_TRUE(QTest::qWaitFor([&] {
    (void)view.grab();
    return calls > painted;
  }, 3000));
}

}  // namespace
}  // namespace ortavia::ui
