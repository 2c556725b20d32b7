// The run's display: however fast orthos finish, the preview, the drawing, the progress and the
// log are refreshed at most once per interval, the first ortho at once and the last at the end.
#include <gtest/gtest.h>

#include <QStringList>

#include "app/run_display.h"

namespace ortavia::ui {
namespace {

struct Recorder {
  QStringList orthos;
  QList<bool> firsts;
  int drawings = 0;
  QList<int> progress;
  int logFlushes = 0;
  RunDisplay::Targets Targets() {
    return {[this](const QString& p, bool first) { orthos << p; firsts << first; },
            [this] { ++drawings; },
            [this](int pos) { progress << pos; },
            [this] { ++logFlushes; }};
  }
};

// n orthos, each followed by its progress, a log row and a pump, with the clock moved on by
// stepMs after each; then the end of the run.
struct Burst {
  int n;
  std::int64_t stepMs;
  int orthos, drawings, progress, logFlushes;  // refreshes counted by hand
};

TEST(RunDisplayTest, ABurstOfOrthosGivesBoundedRefreshesAndEndsOnTheLast) {
  // Interval 250 ms. Frozen clock: the first pump lets one refresh through (the first ortho was
  // shown at once already), then nothing until the end, which shows the last. 10 ms apart: pumps at
  // 0, 250, ..., 9750 ms refresh (40; the one at 0 has no ortho waiting), plus the first ortho at
  // once and what waits after 9750 ms at the end. One ortho: shown at once, the rest at its pump.
  const Burst cases[] = {
      {1000, 0, 2, 2, 2, 2},
      {1000, 10, 41, 41, 41, 41},
      {1, 0, 1, 1, 1, 1},
  };
  for (const Burst& c : cases) {
    std::int64_t now = 0;
    Recorder r;
    RunDisplay display(r.Targets(), [&now] { return now; }, 250);
    for (int i = 0; i < c.n; ++i) {
      display.OrthoWritten(QString("o%1").arg(i), i == 0);
      display.ProgressAt(i + 1);
      display.LogQueued();
      display.Pump();
      now += c.stepMs;
    }
    display.Finish();
    SCOPED_TRACE(testing::Message() << c.n << " orthos " << c.stepMs << " ms apart");
    ASSERT_EQ(r.orthos.size(), c.orthos);
    EXPECT_EQ(r.orthos.first(), "o0");
    EXPECT_TRUE(r.firsts.first());
    EXPECT_EQ(r.firsts.count(true), 1);
    EXPECT_EQ(r.orthos.last(), QString("o%1").arg(c.n - 1));
    EXPECT_EQ(r.drawings, c.drawings);
    ASSERT_EQ(r.progress.size(), c.progress);
    EXPECT_EQ(r.progress.last(), c.n);
    EXPECT_EQ(r.logFlushes, c.logFlushes);
    EXPECT_EQ(display.Shown().orthos, c.orthos);
  }
}

TEST(RunDisplayTest, NothingPendingRefreshesNothing) {
  std::int64_t now = 0;
  Recorder r;
  RunDisplay display(r.Targets(), [&now] { return now; }, 250);
  for (int i = 0; i < 10; ++i, now += 1000) display.Pump();
  display.Finish();
  EXPECT_TRUE(r.orthos.isEmpty());
  EXPECT_EQ(r.drawings + r.progress.size() + r.logFlushes, 0);
  // A change after a long quiet time shows at the next pump, without waiting.
  display.DrawingChanged();
  display.Pump();
  EXPECT_EQ(r.drawings, 1);
}

}  // namespace
}  // namespace ortavia::ui
