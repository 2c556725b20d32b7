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

}  // namespace
}  // namespace ortavia
