#include <QImage>
#include <gtest/gtest.h>

#include "process/ui/TProgressTimeToComplete.h"

namespace ortavia::ui {
namespace {

TEST(ProgressTimeToComplete, TextFollowsTheFractionAndTheClock) {
  TProgressTimeToComplete bar;
  bar.SetIdleText("Waiting");
  bar.Restart(0, 100);
  bar.SetElapsedOverride(30.15);
  // 30.15 s for 3 %: 30.15 / 0.03 * 0.97 = 974.85 s still to go.
  struct Case {
    int pos;
    const char* text;
  };
  const Case cases[] = {
      {0, "Waiting"}, {2, "Waiting"},
      {3, "16 minutes, 14 seconds remaining"},
      {50, "30 seconds remaining"},       // 30.15 / 0.5 * 0.5
      {99, "Completing process"},         // 0.30 s
      {100, "Completing process"},
      {250, "Completing process"},        // past the end counts as done
  };
  for (const Case& c : cases) {
    bar.setValue(std::min(c.pos, 100));
    EXPECT_EQ(bar.CurrentText(), QString::fromUtf8(c.text)) << c.pos;
  }
  bar.setValue(50);
  bar.SetPrefix("Warp:");
  EXPECT_EQ(bar.CurrentText(), "Warp: 30 seconds remaining");
  bar.SetShowTimeRemaining(false);
  EXPECT_EQ(bar.CurrentText(), "Warp: ");
}

TEST(ProgressTimeToComplete, AnEmptyRangeShowsTheIdleText) {
  TProgressTimeToComplete bar;
  bar.SetIdleText("idle");
  bar.Restart(5, 5);
  bar.SetElapsedOverride(10.0);
  EXPECT_DOUBLE_EQ(bar.Fraction(), 0.0);
  EXPECT_EQ(bar.CurrentText(), "idle");
  bar.Restart(0, 4);  // a new range restarts the clock
  bar.setValue(1);
  EXPECT_DOUBLE_EQ(bar.Fraction(), 0.25);
}

// The painted bar: chunks of 10 pixels with gaps of 2 in a 198-pixel bar.
TEST(ProgressTimeToComplete, PaintsItsChunks) {
  TProgressTimeToComplete bar;
  bar.SetShowTimeRemaining(false);
  bar.SetBarColour(QColor(255, 0, 0));
  bar.resize(198, 20);
  bar.Restart(0, 100);
  struct Case {
    int pos;
    int chunks;
  };
  for (const Case& c : {Case{0, 0}, Case{5, 1}, Case{50, 9}, Case{100, 18}}) {
    bar.setValue(c.pos);
    const QImage img = bar.grab().toImage();
    ASSERT_EQ(img.width(), 198);
    const int y = 10;
    int red = 0;
    for (int x = 0; x < 198; ++x) red += img.pixelColor(x, y) == QColor(255, 0, 0);
    // Chunks that reach past the bar are cut at its end.
    int expected = 0;
    for (int k = 0; k < c.chunks; ++k) expected += std::max(0, std::min(198, k * 12 + 10) - k * 12);
    EXPECT_EQ(red, expected) << c.pos;
    if (c.chunks >= 1) {
      EXPECT_EQ(img.pixelColor(9, y), QColor(255, 0, 0));
      EXPECT_NE(img.pixelColor(10, y), QColor(255, 0, 0)) << "the gap after the first chunk";
      EXPECT_NE(img.pixelColor(11, y), QColor(255, 0, 0));
    }
  }
}

}  // namespace
}  // namespace ortavia::ui
