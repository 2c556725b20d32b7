#pragma once
// The remaining-time text written into the progress bar and onto the batch runner's progress line.
#include <string>

namespace ortavia {

// "2 minutes, 5 seconds remaining", "1 second remaining" or "Completing process" for a number of
// seconds still needed; empty when showTimeRemaining is false. Negative or non-finite inputs read
// as "Completing process".
std::string FormatRemaining(double seconds, bool showTimeRemaining = true);

// Seconds still needed when `fraction` (0..1) of the work took `elapsedSeconds`: extrapolated
// linearly. Only meaningful for fractions above kMinEstimateFraction.
double EstimateRemainingSeconds(double elapsedSeconds, double fraction);

// Below this fraction the estimate is too noisy and the idle text is shown instead.
inline constexpr double kMinEstimateFraction = 0.02;

// The bar's text for position `pos` of [lo, hi] after `elapsedSeconds`: the idle text up to 2 %,
// else the estimate, preceded by `prefix` and a blank when the prefix is not empty.
std::string ProgressText(int lo, int hi, int pos, double elapsedSeconds,
                         const std::string& idleText = {}, const std::string& prefix = {},
                         bool showTimeRemaining = true);

// The batch runner's line for one stage on a terminal: "Warping images: 33% image 3 of 6, 1 minute,
// 4 seconds remaining" at position pos of [0, hi] (pos items done, the next one under way). When
// hi is the stage's image count the items are images, else steps ("step 3 of 7"); below 2 % the
// time reads "estimating...". pos is kept within [0, hi].
std::string StageProgressText(const std::string& stage, int pos, int hi, int images,
                              double elapsedSeconds);

}  // namespace ortavia
