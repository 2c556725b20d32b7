#include "process/progress_layout.h"

#include <algorithm>
#include <cmath>

namespace ortavia {

double ProgressFraction(int lo, int hi, int pos) {
  const double range = static_cast<double>(hi) - static_cast<double>(lo);
  if (!(range > 0.0)) return 0.0;
  return std::clamp((static_cast<double>(pos) - lo) / range, 0.0, 1.0);
}

int FilledLength(int length, double fraction) {
  if (length <= 0 || !(fraction > 0.0)) return 0;
  return std::min(length, static_cast<int>(std::trunc(length * std::min(fraction, 1.0))));
}

std::vector<ProgressChunk> ProgressChunks(int length, double fraction) {
  std::vector<ProgressChunk> chunks;
  if (length <= 0 || !(fraction > 0.0)) return chunks;
  const int size = std::max(1, (length - kProgressChunkCount) / kProgressChunkCount);
  const int count = static_cast<int>(std::trunc(std::min(fraction, 1.0) * kProgressChunkCount + 0.9));
  for (int k = 0; k < count; ++k) chunks.push_back({k * (size + kProgressChunkGap), size});
  return chunks;
}

}  // namespace ortavia
