#include "process/remaining_time.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace ortavia {
namespace {

const char* Plural(long long n) { return n == 1 ? "" : "s"; }

}  // namespace

std::string FormatRemaining(double seconds, bool showTimeRemaining) {
  if (!showTimeRemaining) return {};
  if (!std::isfinite(seconds) || seconds < 0.0) return "Completing process";
  const long long s = static_cast<long long>(std::trunc(std::fmod(seconds, 60.0)));
  char text[128];
  if (seconds >= 60.0) {
    // Capped so that an absurd estimate early in a run cannot overflow the count.
    const double minutes = std::min(std::trunc(seconds / 60.0), 1e15);
    const long long m = static_cast<long long>(minutes);
    std::snprintf(text, sizeof text, "%lld minute%s, %lld second%s remaining", m, Plural(m), s,
                  Plural(s));
    return text;
  }
  if (s >= 1) {
    std::snprintf(text, sizeof text, "%lld second%s remaining", s, Plural(s));
    return text;
  }
  return "Completing process";
}

double EstimateRemainingSeconds(double elapsedSeconds, double fraction) {
  if (!(fraction > 0.0)) return INFINITY;
  return elapsedSeconds / fraction * (1.0 - fraction);
}

std::string ProgressText(int lo, int hi, int pos, double elapsedSeconds, const std::string& idleText,
                         const std::string& prefix, bool showTimeRemaining) {
  const int range = hi - lo;
  const double fraction = range > 0 ? static_cast<double>(pos) / range : 0.0;
  if (fraction <= kMinEstimateFraction) return idleText;
  const std::string estimate =
      FormatRemaining(EstimateRemainingSeconds(elapsedSeconds, fraction), showTimeRemaining);
  return prefix.empty() ? estimate : prefix + " " + estimate;
}

std::string StageProgressText(const std::string& stage, int pos, int hi, int images,
                              double elapsedSeconds) {
  if (hi <= 0) return stage;
  pos = std::clamp(pos, 0, hi);
  const int percent = static_cast<int>(std::floor(100.0 * pos / hi));
  const int current = std::min(pos + 1, hi);
  char text[256];
  std::snprintf(text, sizeof text, "%s: %d%% %s %d of %d, ", stage.c_str(), percent,
                hi == images ? "image" : "step", current, hi);
  const std::string remaining = pos == hi ? "done" : ProgressText(0, hi, pos, elapsedSeconds, "estimating...");
  return text + remaining;
}

}  // namespace ortavia
