#include "products/hidden_fill.h"

#include <algorithm>

namespace ortavia {

void HiddenFill::SetRow(int y, std::vector<FillRun> runs) {
  if (y >= 0 && y < Height()) rows_[y] = std::move(runs);
}

const std::vector<FillRun>& HiddenFill::Row(int y) const {
  static const std::vector<FillRun> none;
  return y >= 0 && y < Height() ? rows_[y] : none;
}

std::optional<int> HiddenFill::At(int x, int y) const {
  const std::vector<FillRun>& runs = Row(y);
  const auto it = std::upper_bound(runs.begin(), runs.end(), x,
                                   [](int v, const FillRun& r) { return v < r.x0; });
  if (it == runs.begin()) return std::nullopt;
  const FillRun& r = *(it - 1);
  if (x >= r.x1) return std::nullopt;
  return r.row;
}

long long HiddenFill::Unseen() const {
  long long n = 0;
  for (const auto& runs : rows_)
    for (const FillRun& r : runs)
      if (r.row < 0) n += r.x1 - r.x0;
  return n;
}

long long HiddenFill::Filled() const {
  long long n = 0;
  for (const auto& runs : rows_)
    for (const FillRun& r : runs)
      if (r.row >= 0) n += r.x1 - r.x0;
  return n;
}

}  // namespace ortavia
