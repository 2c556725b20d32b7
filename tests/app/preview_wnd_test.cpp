#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <opencv2/core.hpp>

#include "app/CPreviewWnd.h"

namespace ortavia::ui {
namespace {

// A 505 x 405 window gives a 500 x 400 canvas: a 1000 x 800 picture fits at scale 0.5, offset 0.
class PreviewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wnd.resize(505, 405);
    wnd.show();
    cv::Mat picture(800, 1000, CV_8UC3, cv::Scalar(10, 20, 30));
    wnd.SetImage(picture);
  }
  // Clicks at a canvas position.
  void Click(Qt::MouseButton button, double cx, double cy) {
    QTest::mouseClick(&wnd, button, {}, wnd.CanvasToWidget(QPointF(cx, cy)).toPoint());
  }

  CPreviewWnd wnd;
};

TEST_F(PreviewTest, FitsThePictureIntoTheCanvas) {
  EXPECT_EQ(wnd.CanvasWidth(), 500);
  EXPECT_EQ(wnd.CanvasHeight(), 400);
  EXPECT_DOUBLE_EQ(wnd.Scale(), 0.5);
  EXPECT_EQ(wnd.OffsetX(), 0);
  EXPECT_EQ(wnd.OffsetY(), 0);
  EXPECT_EQ(wnd.CropRect(), (std::array<int, 4>{0, 0, 999, 799}));

  // A tall picture is centred horizontally.
  wnd.SetImage(cv::Mat(400, 100, CV_8UC3, cv::Scalar::all(255)));
  EXPECT_DOUBLE_EQ(wnd.Scale(), 1.0);
  EXPECT_EQ(wnd.OffsetX(), 200);
  EXPECT_EQ(wnd.Display().at<cv::Vec3b>(200, 199), cv::Vec3b(0, 0, 0));
  EXPECT_EQ(wnd.Display().at<cv::Vec3b>(200, 250), cv::Vec3b(255, 255, 255));
}

TEST_F(PreviewTest, ZoomFactorIsPerStep) {
  Click(Qt::LeftButton, 0, 0);
  EXPECT_TRUE(wnd.HasFirstCorner());
  Click(Qt::LeftButton, 250, 200);  // a quarter of the picture: 500 x 400 source pixels
  EXPECT_EQ(wnd.ZoomFactor(), 2);
  EXPECT_EQ(wnd.FadeLevel(), 250);
  EXPECT_NEAR(wnd.ZoomSource().cols, 500, 2);
  EXPECT_NEAR(wnd.ZoomSource().rows, 400, 2);
  EXPECT_NEAR(wnd.Scale(), 1.0, 0.01);

  Click(Qt::LeftButton, 0, 0);
  Click(Qt::LeftButton, 250, 200);  // half of the shown part again
  EXPECT_EQ(wnd.ZoomFactor(), 2) << "relative to the view before, not cumulative";
  EXPECT_NEAR(wnd.ZoomSource().cols, 250, 2);
}

TEST_F(PreviewTest, TwoClicksAtOnePointReturnToTheWholePicture) {
  Click(Qt::LeftButton, 0, 0);
  Click(Qt::LeftButton, 250, 200);
  ASSERT_LT(wnd.ZoomSource().cols, 1000);
  Click(Qt::LeftButton, 100, 100);
  Click(Qt::LeftButton, 100, 100);
  EXPECT_EQ(wnd.ZoomSource().cols, 1000);
  EXPECT_EQ(wnd.ZoomSource().rows, 800);
  EXPECT_FALSE(wnd.HasFirstCorner());
}

TEST_F(PreviewTest, RightClickCancelsTheCornerThenResets) {
  Click(Qt::LeftButton, 0, 0);
  Click(Qt::LeftButton, 250, 200);
  Click(Qt::LeftButton, 10, 10);
  Click(Qt::RightButton, 50, 50);
  EXPECT_FALSE(wnd.HasFirstCorner());
  EXPECT_EQ(wnd.ZoomSource().cols, 500) << "the first right click only drops the rubber band";
  Click(Qt::RightButton, 50, 50);
  EXPECT_EQ(wnd.ZoomSource().cols, 1000);
  EXPECT_EQ(wnd.CropRect(), (std::array<int, 4>{0, 0, 999, 799}));
}

TEST_F(PreviewTest, TheZoomLabelFadesOut) {
  Click(Qt::LeftButton, 0, 0);
  Click(Qt::LeftButton, 250, 200);
  ASSERT_EQ(wnd.FadeLevel(), 250);
  QTest::qWait(200);
  EXPECT_LT(wnd.FadeLevel(), 250);
  EXPECT_TRUE(QTest::qWaitFor([&] { return wnd.FadeLevel() <= 0; }, 3000));
}

TEST_F(PreviewTest, DisabledZoomIgnoresTheMouse) {
  wnd.SetZoomEnabled(false);
  Click(Qt::LeftButton, 0, 0);
  Click(Qt::LeftButton, 250, 200);
  EXPECT_EQ(wnd.ZoomSource().cols, 1000);
}

TEST(PreviewConversion, SixteenBitGreyIsClippedAndFourChannelsLoseAlphaWithRedAndBlueSwapped) {
  CPreviewWnd wnd;
  wnd.resize(105, 105);
  cv::Mat grey(100, 100, CV_16UC1, cv::Scalar(40000));
  grey.at<std::uint16_t>(0, 0) = 77;
  wnd.SetImage(grey);
  ASSERT_EQ(wnd.Source().type(), CV_8UC3);
  EXPECT_EQ(wnd.Source().at<cv::Vec3b>(50, 50), cv::Vec3b(255, 255, 255));
  EXPECT_EQ(wnd.Source().at<cv::Vec3b>(0, 0), cv::Vec3b(77, 77, 77));

  cv::Mat bgra(10, 10, CV_8UC4, cv::Scalar(1, 2, 3, 4));
  wnd.SetImage(bgra);
  EXPECT_EQ(wnd.Source().at<cv::Vec3b>(5, 5), cv::Vec3b(3, 2, 1));

  cv::Mat two(10, 10, CV_32FC2, cv::Scalar(-5.0, 300.0));
  wnd.SetImage(two);
  EXPECT_EQ(wnd.Source().type(), CV_8UC3);
  EXPECT_EQ(wnd.Source().at<cv::Vec3b>(5, 5), cv::Vec3b(0, 0, 0));

  wnd.SetImage(cv::Mat());
  EXPECT_TRUE(wnd.Source().empty());
  EXPECT_TRUE(wnd.Display().empty());
}

}  // namespace
}  // namespace ortavia::ui
