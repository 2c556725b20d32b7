#!/usr/bin/env python3
"""Shares of a window run's samples by what the window was doing, from `perf script` output.

  perf record -F 300 --call-graph dwarf,16384 -o run.data bench_window_run run ...
  perf script -i run.data | bench/perf_window_share.py IMAGES

Only samples under COrtaviaDlg::OnStart count; each is given to the first category whose
function appears in its stack (innermost categories first)."""
import sys

CATEGORIES = [
    ("accessibility events", ("QAccessible::updateAccessibility",)),
    ("ortho preview (load and paint)", ("COrthoPreviewDlg::",)),
    ("drawing redraw (DEM + footprints)", ("CadView::paintEvent",)),
    ("progress bar and remaining time", ("TProgressTimeToComplete::", "QProgressBar::")),
    ("log rows (model and view)", ("LogModel::", "QTreeView::", "QHeaderView::", "QAbstractItemView::")),
    ("other window painting and events", ("QWidgetRepaintManager::", "QCoreApplication::notifyInternal2",
                                          "QCoreApplicationPrivate::sendPostedEvents")),
    ("engine (warp, mosaic, report)", ("ortavia::RunProcess",)),
]

def main():
    images = int(sys.argv[1]) if len(sys.argv) > 1 else 1
    total = 0
    counts = {name: 0 for name, _ in CATEGORIES}
    counts["other"] = 0
    stack = []
    def flush():
        nonlocal total
        if not stack or not any("COrtaviaDlg::OnStart" in f for f in stack):
            return
        total += 1
        for name, keys in CATEGORIES:
            if any(k in f for f in stack for k in keys):
                counts[name] += 1
                return
        counts["other"] += 1
    for line in sys.stdin:
        if not line.strip():
            flush()
            stack = []
        elif line.startswith((" ", "\t")):
            stack.append(line.strip())
    flush()
    hz = float(sys.argv[2]) if len(sys.argv) > 2 else 300.0
    print(f"samples under OnStart: {total} ({total / hz:.2f} s CPU at {hz:.0f} Hz)")
    print("| what | share | ms per image |")
    print("|---|---|---|")
    for name, n in counts.items():
        print(f"| {name} | {100.0 * n / max(total, 1):.1f} % | {1000.0 * n / hz / images:.2f} |")

main()
