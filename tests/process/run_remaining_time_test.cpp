#include "process/remaining_time.h"

#include <cmath>

#include <gtest/gtest.h>

namespace ortavia {
namespace {

TEST(FormatRemaining, MinutesAndSecondsWithPlurals) {
  EXPECT_EQ(FormatRemaining(125.7), "2 minutes, 5 seconds remaining");
  EXPECT_EQ(FormatRemaining(61.0), "1 minute, 1 second remaining");
  EXPECT_EQ(FormatRemaining(3600.0), "60 minutes, 0 seconds remaining");
  EXPECT_EQ(FormatRemaining(60.0), "1 minute, 0 seconds remaining");
  EXPECT_EQ(FormatRemaining(119.99), "1 minute, 59 seconds remaining");
}

TEST(FormatRemaining, SecondsAndCompletion) {
  EXPECT_EQ(FormatRemaining(1.2), "1 second remaining");
  EXPECT_EQ(FormatRemaining(59.9), "59 seconds remaining");
  EXPECT_EQ(FormatRemaining(2.0), "2 seconds remaining");
  EXPECT_EQ(FormatRemaining(0.5), "Completing process");
  EXPECT_EQ(FormatRemaining(0.0), "Completing process");
}

TEST(FormatRemaining, HiddenAndUnusableInputs) {
  EXPECT_EQ(FormatRemaining(125.7, false), "");
  EXPECT_EQ(FormatRemaining(-3.0), "Completing process");
  EXPECT_EQ(FormatRemaining(NAN), "Completing process");
  EXPECT_EQ(FormatRemaining(INFINITY), "Completing process");
  // An absurd early estimate must still give a text, not an overflowed count.
  const std::string huge = FormatRemaining(1e300);
  EXPECT_NE(huge.find("minutes"), std::string::npos);
  EXPECT_EQ(huge.find('-'), std::string::npos);
}

TEST(ProgressText, IdleUpToTwoPercentThenEstimate) {
  // 100 images: the estimate appears from position 3 on (fraction 0.03).
  EXPECT_EQ(ProgressText(0, 100, 0, 10.0, "Working"), "Working");
  EXPECT_EQ(ProgressText(0, 100, 2, 10.0, "Working"), "Working");
  // 3 % in 3 s: 97 s to go.
  EXPECT_EQ(ProgressText(0, 100, 3, 3.0, "Working"), "1 minute, 37 seconds remaining");
  EXPECT_EQ(ProgressText(0, 4, 2, 10.0, "", "Warp:"), "Warp: 10 seconds remaining");
  EXPECT_EQ(ProgressText(0, 0, 0, 10.0, "idle"), "idle");
  EXPECT_EQ(ProgressText(0, 4, 4, 10.0), "Completing process");
}

TEST(EstimateRemainingSeconds, Extrapolates) {
  EXPECT_DOUBLE_EQ(EstimateRemainingSeconds(10.0, 0.25), 30.0);
  EXPECT_TRUE(std::isinf(EstimateRemainingSeconds(10.0, 0.0)));
}


TEST(StageProgressText, PercentItemAndRemainingTime) {
  struct Case {
    int pos, hi, images;
    double elapsed;
    std::string expected;
  };
  const Case cases[] = {
      // 2 of 6 images done in 40 s: 20 s each, 4 left = 80 s.
      {2, 6, 6, 40.0, "Warping images: 33% image 3 of 6, 1 minute, 20 seconds remaining"},
      {0, 6, 6, 0.0, "Warping images: 0% image 1 of 6, estimating..."},
      {1, 100, 100, 3.0, "Warping images: 1% image 2 of 100, estimating..."},  // 1 % is under 2 %
      {3, 4, 4, 30.0, "Warping images: 75% image 4 of 4, 10 seconds remaining"},
      {6, 6, 6, 60.0, "Warping images: 100% image 6 of 6, done"},
      {9, 6, 6, 60.0, "Warping images: 100% image 6 of 6, done"},             // kept within range
      {3, 7, 6, 6.0, "Warping images: 42% step 4 of 7, 8 seconds remaining"},  // not images
  };
  for (const Case& c : cases)
    EXPECT_EQ(StageProgressText("Warping images", c.pos, c.hi, c.images, c.elapsed), c.expected);
  EXPECT_EQ(StageProgressText("Footprints", 0, 0, 3, 0.0), "Footprints");
}

}  // namespace
}  // namespace ortavia
