#include "process/progress_layout.h"

#include <gtest/gtest.h>

namespace ortavia {
namespace {

TEST(ProgressLayout, FractionIsClampedAndNeverDividesByZero) {
  struct Case {
    int lo, hi, pos;
    double fraction;
  };
  const Case cases[] = {
      {0, 100, 3, 0.03}, {0, 100, 0, 0.0}, {0, 4, 1, 0.25}, {10, 20, 15, 0.5},
      {0, 0, 5, 0.0},    // empty range
      {10, 5, 7, 0.0},   // inverted range
      {0, 10, 15, 1.0},  // past the end
      {0, 10, -3, 0.0},  // before the start
      {-2147483647 - 1, 2147483647, 2147483647, 1.0},  // the widest range does not overflow
  };
  for (const Case& c : cases)
    EXPECT_DOUBLE_EQ(ProgressFraction(c.lo, c.hi, c.pos), c.fraction) << c.lo << ".." << c.hi << " @" << c.pos;
}

TEST(ProgressLayout, ChunksOfAHorizontalBar) {
  // 198 pixels: chunks of trunc(180 / 18) = 10 pixels, 12 apart; the count is
  // trunc(fraction * 18 + 0.9).
  struct Case {
    int length;
    double fraction;
    int count, size;
  };
  const Case cases[] = {
      {198, 1.0, 18, 10}, {198, 0.05, 1, 10}, {198, 0.0, 0, 10}, {198, 0.5, 9, 10},
      {198, 0.01, 1, 10},                          // 0.18 + 0.9 reaches 1
      {198, 0.0055, 0, 10}, {198, 0.0056, 1, 10},  // 0.099 + 0.9 does not; 0.1008 + 0.9 does
      {400, 0.25, 5, 21},  // trunc(382 / 18) = 21; trunc(4.5 + 0.9) = 5
      {20, 1.0, 18, 1},    // a tiny bar still gets one-pixel chunks
      {198, 7.0, 18, 10},  // fractions past 1 count as full
  };
  for (const Case& c : cases) {
    const auto chunks = ProgressChunks(c.length, c.fraction);
    ASSERT_EQ(static_cast<int>(chunks.size()), c.count) << c.length << " @" << c.fraction;
    for (int k = 0; k < c.count; ++k) {
      EXPECT_EQ(chunks[k].length, c.size);
      EXPECT_EQ(chunks[k].start, k * (c.size + 2)) << "chunk " << k;
    }
  }
  EXPECT_TRUE(ProgressChunks(0, 1.0).empty());
  EXPECT_TRUE(ProgressChunks(198, -0.5).empty());
}

TEST(ProgressLayout, FilledLengthTruncates) {
  EXPECT_EQ(FilledLength(198, 0.5), 99);
  EXPECT_EQ(FilledLength(199, 0.5), 99);
  EXPECT_EQ(FilledLength(100, 0.999), 99);
  EXPECT_EQ(FilledLength(100, 1.0), 100);
  EXPECT_EQ(FilledLength(100, 3.0), 100);
  EXPECT_EQ(FilledLength(100, 0.0), 0);
  EXPECT_EQ(FilledLength(0, 0.5), 0);
}

}  // namespace
}  // namespace ortavia
