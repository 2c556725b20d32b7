// The bands of a fill over a streamed source: what is read before each band, and a band filled
// again when the estimate of what it needs fell short.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "process/image_warp.h"

namespace ortavia {
namespace {

// Band k of 3 needs window rows [100k, 100k + 150) over columns [10, 90) of a 100 x 400 window.
cv::Rect Needed(int band) { return {10, 100 * band, 80, 150}; }

struct Case {
  std::string name;
  int estimateShrink;  // rows the estimate falls short of the need at its bottom; -1: no estimate
  bool readable;       // whether reads succeed
  FillOutcome outcome;
  int fills, reads;
};

TEST(FillInBands, ReadsWhatEachBandNeedsAndFillsAgainWhatItMissed) {
  const std::vector<Case> cases = {
      {"estimate right", 0, true, FillOutcome::Done, 3, 3},
      {"estimate short", 20, true, FillOutcome::Done, 6, 6},
      {"no estimate", -1, true, FillOutcome::Done, 6, 3},
      {"unreadable", 0, false, FillOutcome::ReadFailed, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ImageWarp w;
    w.srcW = 100;
    w.srcH = 400;
    int reads = 0, fills = 0;
    std::vector<cv::Rect> held;
    w.hold = [&](const cv::Rect& r) {
      ++reads;
      if (!c.readable) return false;
      w.held = r;
      held.push_back(r);
      return true;
    };
    std::vector<bool> complete(3, false);
    const auto estimate = [&](int first, int) {
      if (c.estimateShrink < 0) return cv::Rect();
      cv::Rect r = Needed(first);
      r.height -= c.estimateShrink;
      return r;
    };
    const auto fill = [&](int first, int last) {
      EXPECT_EQ(last, first + 1);
      ++fills;
      const cv::Rect n = Needed(first);
      SourceMiss miss;
      if (Held(w, n.x, n.y, n.x + n.width - 1, n.y + n.height - 1, miss)) complete[first] = true;
      return miss;
    };
    EXPECT_EQ(FillInBands(w, 3, 1, estimate, fill, RunContext{}), c.outcome);
    EXPECT_EQ(fills, c.fills);
    EXPECT_EQ(reads, c.reads);
    if (c.outcome != FillOutcome::Done) continue;
    EXPECT_EQ(complete, std::vector<bool>(3, true));
    // The last read of each band holds its need and no more.
    EXPECT_EQ(held.back(), Needed(2));
  }
}

TEST(FillInBands, StopsBeforeABandAndChecksOnceWithNothingToFill) {
  ImageWarp w;
  w.srcW = w.srcH = 100;
  w.held = {0, 0, 100, 100};
  std::atomic<bool> stop{false};
  RunContext ctx;
  ctx.abort = &stop;
  int checks = 0, fills = 0;
  ctx.pump = [&] {
    if (++checks == 2) stop = true;
  };
  const auto none = [](int, int) { return cv::Rect(); };
  const auto fill = [&](int, int) {
    ++fills;
    return SourceMiss{};
  };
  EXPECT_EQ(FillInBands(w, 0, 10, none, fill, ctx), FillOutcome::Done);
  EXPECT_EQ(checks, 1);
  EXPECT_EQ(fills, 0);
  EXPECT_EQ(FillInBands(w, 25, 10, none, fill, ctx), FillOutcome::Stopped);
  EXPECT_EQ(fills, 0);  // the second check, before the first band, saw Stop
  // The whole window held and still a miss: a fault, never an endless loop.
  stop = false;
  const auto missing = [&](int, int) {
    SourceMiss m;
    m.Add(0, 0, 200, 200);
    return m;
  };
  EXPECT_EQ(FillInBands(w, 25, 10, none, missing, ctx), FillOutcome::ReadFailed);
}

}  // namespace
}  // namespace ortavia
