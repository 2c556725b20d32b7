#pragma once
// Geometry of the self-painted progress bar: the fraction done and the chunks that show it.
// Lengths are pixels along the bar's axis, measured from where the bar starts to fill (the left
// edge of a horizontal bar, the bottom edge of a vertical one).
#include <vector>

namespace ortavia {

inline constexpr int kProgressChunkCount = 18;  // chunks of a full bar
inline constexpr int kProgressChunkGap = 2;

// (pos - lo) / (hi - lo), clamped to [0, 1]; 0 for an empty or inverted range.
double ProgressFraction(int lo, int hi, int pos);

// Length of the filled part: trunc(length * fraction), within [0, length].
int FilledLength(int length, double fraction);

struct ProgressChunk {
  int start = 0;   // offset from where the bar starts to fill
  int length = 0;
};

// The chunks of a bar `length` pixels long at `fraction` (0..1): chunk size
// trunc((length - 18) / 18) (at least 1), count trunc(fraction * 18 + 0.9), each chunk two pixels
// after the previous one. Chunks may reach past the bar's end; the painter clips them.
std::vector<ProgressChunk> ProgressChunks(int length, double fraction);

}  // namespace ortavia
